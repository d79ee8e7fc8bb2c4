// Measures the streams stage on generated Chromium simple caches, through the POSIX file system with a warm
// page cache:
//   join:  a playlist of 1,000 MPEG-TS segments (about 500 MB) harvested as one file  vs  copying the same
//          segment bodies, read at their offsets in the cache, into one file;
//   group: the grouping stage (probing the held entries, finding the streams) of 10,000 entries holding 50
//          streams  vs  listing those entries;
//   rewrap: an HLS stream of H.264 and AAC in MPEG-TS (about 1 GB) harvested as one MP4  vs  copying its
//          segment bodies into one file;
//   merge: a DASH video track (about 1 GB) and its sound track, fragmented MP4, harvested as one MP4  vs
//          copying both tracks' bodies into one file;
//   discontinuities: an HLS stream of H.264 and AAC in MPEG-TS (about 1 GB) in 11 runs, each advert's clock
//          and picture size its own, harvested as one MP4  vs  copying its segment bodies into one file;
//   loose pair: a whole fragmented MP4 picture file (about 0.9 GB) and its sound file, cached without a
//          manifest, harvested as one MP4  vs  copying both bodies into one file.
// Every harvest of a stream must write that one file under its expected name.
// Usage: streams_bench [--segments N] [--segment-kib N] [--entries N] [--media-mb N] [--runs N] [--keep DIR]
//                      [--cases join,group,rewrap,merge,discontinuities,loose-pair]
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_options.h"
#include "bench/bench_files.h"
#include "bench/bench_media.h"
#include "bench/bench_timing.h"
#include "cli/harvest_run.h"
#include "extract/cache_listing.h"
#include "extract/file_system_posix.h"
#include "extract/pipeline.h"
#include "extract/stream_grouping.h"
#include "extract/utf8.h"
#include "tests/support/cache_builders.h"
#include "tests/support/media_builders.h"

namespace {

using drovan::bench::WriteFile;

using drovan::bench::Median;
using drovan::bench::Seconds;

namespace fs = std::filesystem;

struct Options {
    int segments = 1000;
    int segmentKib = 500;
    int entries = 10000;
    int mediaMb = 1000;
    int runs = 3;
    std::string keep;
    std::string cases;  // comma-separated; all when empty
};

bool Wanted(const Options& options, const std::string& name) {
    return options.cases.empty() || ("," + options.cases + ",").find("," + name + ",") != std::string::npos;
}

constexpr int kStreams = 50;
constexpr std::size_t kCopyChunk = 1 << 20;

// Where a body lies in its entry file: after the header and the key.
struct StoredBody {
    fs::path file;
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
};

// A simple-cache entry with zlib's CRC over the body (the tests' builder goes bit by bit).
StoredBody AddEntry(const fs::path& folder, int index, const std::string& url, const std::string& type,
                    const std::string& body) {
    using namespace drovan::tests;
    const std::string key = "1/0/_dk_http://v.test http://v.test " + url;
    const std::string stream0 = ResponseInfo(RawHeaders("HTTP/1.1 200 OK\nContent-Type: " + type +
                                                        "\nContent-Length: " + std::to_string(body.size())));
    const auto bodyCrc = static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size())));
    const std::string header = SimpleHeader(key, 5);
    char name[32];
    std::snprintf(name, sizeof name, "%016x_0", index + 1);
    WriteFile(folder / name,
              header + body + SimpleEof(1, bodyCrc, 0) + stream0 + std::string(32, '\x5A') +
                  SimpleEof(3, drovan::Crc32(stream0), static_cast<std::uint32_t>(stream0.size())));
    return {folder / name, header.size(), body.size()};
}

fs::path FreshSimpleCache(const fs::path& folder) {
    fs::remove_all(folder);
    fs::create_directories(folder / "index-dir");
    std::string index;
    drovan::tests::PutLE(index, drovan::tests::kSimpleInitialMagic, 8);
    drovan::tests::PutLE(index, 9, 4);
    WriteFile(folder / "index", index);
    WriteFile(folder / "index-dir" / "the-real-index", index);
    return folder;
}

// One stream's playlist and segments, from entry index first on; the segments' bodies. MPEG-2 video: joined
// as it is, never rewrapped.
std::vector<StoredBody> AddStream(const fs::path& folder, int first, int stream, int segments,
                                  std::size_t packets) {
    const std::string base = "http://v.test/show" + std::to_string(stream) + "/";
    std::vector<std::string> uris;
    std::vector<StoredBody> bodies;
    for (int i = 0; i < segments; ++i) {
        uris.push_back("seg_" + std::to_string(i) + ".ts");
        const std::string segment = drovan::tests::TsSegment(126000 + 180000ull * i, packets, 0x02);
        bodies.push_back(AddEntry(folder, first + 1 + i, base + uris.back(), "video/mp2t", segment));
    }
    AddEntry(folder, first, base + "index.m3u8", "application/vnd.apple.mpegurl",
             drovan::tests::MediaPlaylist(uris, 2));
    return bodies;
}

void CopyIntoOne(const std::vector<StoredBody>& bodies, const fs::path& target) {
    std::vector<char> buffer(kCopyChunk);
    const int out = open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    for (const StoredBody& body : bodies) {
        const int source = open(body.file.c_str(), O_RDONLY | O_CLOEXEC);
        for (std::uint64_t done = 0; done < body.length;) {
            const std::size_t wanted =
                static_cast<std::size_t>(std::min<std::uint64_t>(kCopyChunk, body.length - done));
            const ssize_t got = pread(source, buffer.data(), wanted, static_cast<off_t>(body.offset + done));
            if (got <= 0 || write(out, buffer.data(), static_cast<std::size_t>(got)) != got) {
                std::perror(target.c_str());
                std::exit(1);
            }
            done += static_cast<std::uint64_t>(got);
        }
        close(source);
    }
    close(out);
}

// What the harvest left in the folder, hidden files too.
std::string WrittenNames(const fs::path& folder) {
    std::vector<std::string> names;
    for (const fs::directory_entry& file : fs::directory_iterator(folder)) {
        names.push_back(file.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    std::string joined;
    for (const std::string& name : names) {
        joined += (joined.empty() ? "" : ", ") + name;
    }
    return joined;
}

// Harvests the cache's one stream of the type against copying its bodies into one file; prints the line.
// The harvest must write the one file expected, and nothing else. The harvest's median seconds.
double MeasureAgainstCopy(const char* what, const char16_t* type, double target, const std::string& expected,
                          const fs::path& work, const fs::path& folder, const std::vector<StoredBody>& bodies,
                          const Options& options) {
    drovan::PosixFileSystem files;
    const std::u16string cache = drovan::Utf8ToUtf16(folder.string());
    std::vector<double> harvest, copy;
    drovan::HarvestSummary summary;
    std::uint64_t bytes = 0;
    std::string written;
    bool named = true;
    for (const StoredBody& body : bodies) {
        bytes += body.length;
    }
    for (int run = 0; run < options.runs; ++run) {
        fs::remove_all(work / "out");
        fs::create_directories(work / "out");
        sync();
        const std::u16string into = drovan::Utf8ToUtf16((work / "out").string());
        harvest.push_back(Seconds([&] {
            summary = drovan::Harvest(files, {{cache, drovan::CacheKind::ChromiumSimple}}, into, {type});
        }));
        written = WrittenNames(work / "out");
        named = named && written == expected;
        sync();
        copy.push_back(Seconds([&] { CopyIntoOne(bodies, work / "out" / "copy.bin"); }));
    }
    const double ratio = Median(harvest) / Median(copy);
    std::printf(
        "%s %zu files, %.1f MB of bodies: %zu copied in %.1f ms; copy into one file %.1f ms; ratio %.2f "
        "(target <= %.1f) %s\n",
        what, bodies.size(), bytes / 1e6, summary.copied, Median(harvest) * 1e3, Median(copy) * 1e3, ratio,
        target, ratio <= target && summary.copied == 1 && named ? "PASS" : "FAIL");
    if (!named) {
        std::printf("%s FAIL: wrote [%s], not just %s\n", what, written.c_str(), expected.c_str());
    }
    std::fflush(stdout);
    return Median(harvest);
}

class SilentOutput final : public drovan::HarvestOutput {
  public:
    void Line(std::u16string_view) override {}
    void Message(std::u16string_view) override {}
};

// drovan-harvest --list of the cache: the rewrap's survey learns the MP4's size without writing it.
void MeasureListing(const fs::path& folder, double rewrapSeconds, const Options& options) {
    drovan::PosixFileSystem files;
    drovan::HarvestArguments arguments;
    arguments.list = true;
    arguments.types = u"mp4";
    arguments.sources = {drovan::Utf8ToUtf16(folder.string())};
    std::vector<double> list;
    for (int run = 0; run < options.runs; ++run) {
        SilentOutput output;
        list.push_back(Seconds([&] { drovan::RunHarvest(files, arguments, std::nullopt, output, nullptr); }));
    }
    const double ratio = Median(list) / rewrapSeconds;
    std::printf(
        "list:   drovan-harvest --list with the MP4's size %.1f ms against the rewrap's %.1f ms; ratio %.2f "
        "(target <= 0.5) %s\n",
        Median(list) * 1e3, rewrapSeconds * 1e3, ratio, ratio <= 0.5 ? "PASS" : "FAIL");
    std::fflush(stdout);
}

void MeasureJoin(const fs::path& work, const Options& options) {
    const fs::path folder = FreshSimpleCache(work / "join-cache");
    const std::size_t packets =
        static_cast<std::size_t>(options.segmentKib) * 1024 / drovan::tests::kTsPacket;
    MeasureAgainstCopy("join:  ", u"ts", 1.2, "show0.ts", work, folder,
                       AddStream(folder, 0, 0, options.segments, packets), options);
}

// Ordinary entries with the streams' among them: images of a few KiB.
void MeasureGroup(const fs::path& work, const Options& options) {
    const fs::path folder = FreshSimpleCache(work / "group-cache");
    const int perStream = (options.entries / 10) / kStreams;
    int index = 0;
    for (int stream = 0; stream < kStreams; ++stream) {
        AddStream(folder, index, stream, perStream - 1, 24);
        index += perStream;
    }
    const std::string png = std::string("\x89PNG\r\n\x1A\n", 8) + std::string(4000, 'p');
    for (; index < options.entries; ++index) {
        AddEntry(folder, index, "http://v.test/img/" + std::to_string(index) + ".png", "image/png", png);
    }
    drovan::PosixFileSystem files;
    const std::u16string cache = drovan::Utf8ToUtf16(folder.string());
    std::vector<double> listing, grouping;
    std::size_t held = 0;
    std::size_t streams = 0;
    for (int run = 0; run < options.runs; ++run) {
        std::vector<drovan::HarvestItem> items;
        drovan::HarvestSummary summary;
        listing.push_back(Seconds([&] {
            drovan::ListCacheEntriesOfType(
                files, cache, drovan::CacheKind::ChromiumSimple, {}, drovan::MayBePartOfStream, nullptr,
                [&](drovan::HarvestItem item) {
                    if (item.held) {
                        items.push_back(std::move(item));
                    }
                    return true;
                },
                summary);
        }));
        held = items.size();
        const drovan::HarvestFilter everything;
        drovan::MemoryBudget budget;
        drovan::StreamHolds holds(budget);
        drovan::StreamGrouping stage(everything, true, drovan::StreamJoining::Join, nullptr, holds);
        grouping.push_back(Seconds([&] { streams = stage.Group(std::move(items), summary).size(); }));
    }
    const double ratio = Median(grouping) / Median(listing);
    std::printf(
        "group: %d entries, %zu held, %zu streams written of them: grouping %.1f ms, listing %.1f ms; "
        "ratio %.3f (target <= 0.2) %s\n",
        options.entries, held, streams, Median(grouping) * 1e3, Median(listing) * 1e3, ratio,
        ratio <= 0.2 ? "PASS" : "FAIL");
    std::fflush(stdout);
}

void MeasureRewrap(const fs::path& work, const Options& options) {
    const fs::path folder = FreshSimpleCache(work / "rewrap-cache");
    const int segments = std::max(2, options.mediaMb / 10);
    std::vector<std::string> uris;
    std::vector<StoredBody> bodies;
    for (int i = 0; i < segments; ++i) {
        uris.push_back("seg_" + std::to_string(i) + ".ts");
        bodies.push_back(AddEntry(folder, i + 1, "http://v.test/film/" + uris.back(), "video/mp2t",
                                  drovan::tests::AvcAacSegment(i, 10)));
    }
    AddEntry(folder, 0, "http://v.test/film/index.m3u8", "application/vnd.apple.mpegurl",
             drovan::tests::MediaPlaylist(uris, 10));
    const double rewrap =
        MeasureAgainstCopy("rewrap:", u"mp4", 1.3, "film.mp4", work, folder, bodies, options);
    MeasureListing(folder, rewrap, options);
}

void MeasureMerge(const fs::path& work, const Options& options) {
    const fs::path folder = FreshSimpleCache(work / "merge-cache");
    const int fragments = std::max(2, options.mediaMb / 2);
    const std::string base = "http://v.test/dash/film/";
    std::vector<StoredBody> bodies;
    int index = 1;
    for (const drovan::tests::DashTrack& track : drovan::tests::kDashTracks) {
        bodies.push_back(AddEntry(folder, index++, base + track.id + "-init.m4s", "video/mp4",
                                  drovan::tests::DashInitSegment(track)));
        for (int i = 0; i < fragments; ++i) {
            bodies.push_back(AddEntry(folder, index++, base + track.id + "-" + std::to_string(i + 1) + ".m4s",
                                      "video/mp4", drovan::tests::DashFragment(track, i)));
        }
    }
    AddEntry(folder, 0, base + "manifest.mpd", "application/dash+xml",
             drovan::tests::DashManifestText(fragments));
    MeasureAgainstCopy("merge: ", u"mp4", 1.3, "film.mp4", work, folder, bodies, options);
}

// An advert break in a programme: 11 runs of 10 s segments, the programme's resuming its own clock and each
// advert's starting a clock of its own, its pictures another size.
void MeasureDiscontinuities(const fs::path& work, const Options& options) {
    using drovan::bench::AvcAacRunSegment;
    constexpr int kRuns = 11;
    constexpr int kSeconds = 10;
    constexpr std::uint64_t kStart = 126000;  // ffmpeg's first picture time
    const fs::path folder = FreshSimpleCache(work / "breaks-cache");
    const int segments = std::max(kRuns, options.mediaMb / 10);
    const std::string base = "http://v.test/breaks/";
    std::vector<std::string> uris;
    std::vector<std::size_t> runStarts;
    std::vector<StoredBody> bodies;
    std::uint64_t programme = kStart;
    std::uint64_t advert = kStart;
    for (int i = 0; i < segments; ++i) {
        const int run = i * kRuns / segments;
        if (i > 0 && run != (i - 1) * kRuns / segments) {
            runStarts.push_back(uris.size());
            advert = kStart + std::uint64_t(run) * 3600 * 90000;
        }
        const bool inAdvert = run % 2 == 1;
        std::uint64_t& clock = inAdvert ? advert : programme;
        uris.push_back("seg_" + std::to_string(i) + ".ts");
        const std::string segment = AvcAacRunSegment(
            clock, kSeconds, inAdvert ? drovan::bench::AdvertPictures() : drovan::bench::ProgrammePictures());
        bodies.push_back(AddEntry(folder, i + 1, base + uris.back(), "video/mp2t", segment));
        clock += kSeconds * 90000;
    }
    AddEntry(folder, 0, base + "index.m3u8", "application/vnd.apple.mpegurl",
             drovan::bench::PlaylistWithBreaks(uris, runStarts, kSeconds));
    MeasureAgainstCopy("discontinuities:", u"mp4", 1.3, "breaks.mp4", work, folder, bodies, options);
}

// A site's picture file and sound file, each a whole fragmented MP4 with a sidx, and no manifest naming them:
// 1.15 Mbit/s of picture and 128 kbit/s of sound, so 6,250 s make 1 GB.
void MeasureLoosePair(const fs::path& work, const Options& options) {
    using drovan::bench::WholeTrack;
    const fs::path folder = FreshSimpleCache(work / "pair-cache");
    const int seconds = std::max(20, options.mediaMb * 25 / 4);
    // Few enough references that the sidx lies within the head the grouping reads.
    const int fragmentSeconds = 2 * (1 + seconds / 8000);
    const int fragments = seconds / fragmentSeconds;
    const WholeTrack picture{{"v", "vide", 12800, 512, 0, 5760}, fragmentSeconds};
    const WholeTrack sound{{"a", "soun", 44100, 1024, 0, 370}, fragmentSeconds};
    const std::string base = "http://v.test/upgcxcode/01/70/77001/77001-1-";
    const std::string query = ".m4s?e=ig8euxZM&deadline=1765003600";
    const std::vector<StoredBody> bodies = {
        AddEntry(folder, 0, base + "30064" + query, "video/mp4", WholeTrackFile(picture, fragments)),
        AddEntry(folder, 1, base + "30280" + query, "audio/mp4", WholeTrackFile(sound, fragments))};
    MeasureAgainstCopy("loose pair:", u"mp4", 1.3, "77001-1.mp4", work, folder, bodies, options);
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!drovan::bench::ParseBenchOptions(argc, argv,
                                          {{"--segments", &options.segments},
                                           {"--segment-kib", &options.segmentKib},
                                           {"--entries", &options.entries},
                                           {"--media-mb", &options.mediaMb},
                                           {"--runs", &options.runs},
                                           {"--keep", &options.keep},
                                           {"--cases", &options.cases}})) {
        return 2;
    }
    if (options.segments < 2 || options.entries < 10 * kStreams * 3) {
        std::fprintf(stderr, "--segments from 2, --entries from 1500\n");
        return 2;
    }
    std::string pattern = (fs::temp_directory_path() / "drovan-streams-bench-XXXXXX").string();
    const fs::path work = options.keep.empty() ? fs::path(mkdtemp(pattern.data())) : fs::path(options.keep);
    std::printf("median of %d runs, warm page cache, files under %s\n", options.runs, work.c_str());
    const struct {
        const char* name;
        void (*measure)(const fs::path&, const Options&);
    } cases[] = {{"join", MeasureJoin},
                 {"group", MeasureGroup},
                 {"rewrap", MeasureRewrap},
                 {"merge", MeasureMerge},
                 {"discontinuities", MeasureDiscontinuities},
                 {"loose-pair", MeasureLoosePair}};
    int measured = 0;
    for (const auto& c : cases) {
        if (Wanted(options, c.name)) {
            c.measure(work, options);
            ++measured;
        }
    }
    if (measured == 0) {
        std::fprintf(stderr,
                     "--cases names none of join, group, rewrap, merge, discontinuities, loose-pair\n");
    }
    fs::remove_all(work / "out");
    if (options.keep.empty()) {
        fs::remove_all(work);
    }
    return measured == 0 ? 2 : 0;
}
