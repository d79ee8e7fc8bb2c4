// Crafted HLS and DASH streams in Chromium simple caches: bodies that decode or expand far beyond what the
// cache stores, media whose samples are as small as they can be, and a stream of very many segments.
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include "bench/bench_files.h"
#include "bench/bench_gzip.h"
#include "bench/hostile_cases.h"
#include "tests/support/cache_builders.h"
#include "tests/support/costly_streams.h"

namespace drovan::bench {
namespace {

using drovan::bench::WriteFile;

namespace fs = std::filesystem;
using namespace drovan::tests;

constexpr char kPlaylistType[] = "application/vnd.apple.mpegurl";
constexpr char kManifestType[] = "application/dash+xml";
constexpr std::size_t kManifestBytes = 4 << 20;  // the largest playlist or manifest a harvest reads
constexpr int kGzipManifests = 24;

// A Chromium simple cache of 200 responses, each body stored as given or gzip-encoded; zlib's CRC, as the
// tests' builder goes bit by bit.
class SimpleCache {
  public:
    explicit SimpleCache(fs::path folder) : m_folder(std::move(folder)) {
        fs::create_directories(m_folder / "index-dir");
        std::string index;
        PutLE(index, kSimpleInitialMagic, 8);
        PutLE(index, 9, 4);
        WriteFile(m_folder / "index", index);
        WriteFile(m_folder / "index-dir" / "the-real-index", index);
    }

    void Add(const std::string& url, const std::string& type, const std::string& body, bool gzip = false) {
        const std::string stored = gzip ? Gzip(body) : body;
        const std::string stream0 = ResponseInfo(
            RawHeaders("HTTP/1.1 200 OK\nContent-Type: " + type + (gzip ? "\nContent-Encoding: gzip" : "") +
                       "\nContent-Length: " + std::to_string(stored.size())));
        const std::string key = "1/0/_dk_http://v.test http://v.test " + url;
        const auto crc = static_cast<std::uint32_t>(
            crc32(0, reinterpret_cast<const Bytef*>(stored.data()), static_cast<uInt>(stored.size())));
        char name[32];
        std::snprintf(name, sizeof name, "%016x_0", ++m_entries);
        WriteFile(m_folder / name,
                  SimpleHeader(key, 5) + stored + SimpleEof(1, crc, 0) + stream0 + std::string(32, '\x5A') +
                      SimpleEof(3, Crc32(stream0), static_cast<std::uint32_t>(stream0.size())));
    }

  private:
    fs::path m_folder;
    int m_entries = 0;
};

void WriteGzipPlaylists(const fs::path& folder) {
    SimpleCache cache(folder);
    const std::string playlist = RepeatedPlaylist(kManifestBytes);
    for (int i = 0; i < kGzipManifests; ++i) {
        cache.Add("http://v.test/p" + std::to_string(i) + "/index.m3u8", kPlaylistType, playlist, true);
    }
}

void WriteGzipManifests(const fs::path& folder) {
    SimpleCache cache(folder);
    const std::string manifest = WideManifest(kManifestBytes);
    for (int i = 0; i < kGzipManifests; ++i) {
        cache.Add("http://v.test/d" + std::to_string(i) + "/manifest.mpd", kManifestType, manifest, true);
    }
}

// 8 segments of 32 pictures of 262,144 NAL units: 256 MiB decoded.
void WriteTinyNalStream(const fs::path& folder) {
    constexpr int kSegments = 8;
    constexpr int kPictures = 32;
    SimpleCache cache(folder);
    for (int i = 0; i < kSegments; ++i) {
        cache.Add("http://v.test/nal/seg_" + std::to_string(i) + ".ts", "video/mp2t",
                  TinyNalSegment(i, kPictures, 1 << 18), true);
    }
    cache.Add("http://v.test/nal/index.m3u8", kPlaylistType,
              NumberedPlaylist(kSegments, double(kPictures) / kFramesPerSecond));
}

// 16 segments of 250 PES packets of 8,000 frames: 32 million samples. Their timestamps run ten seconds a
// segment, not the frames' 170 minutes: the time line stays clear of the 33-bit wrap.
void WriteTinyAdtsStream(const fs::path& folder) {
    constexpr int kSegments = 16;
    SimpleCache cache(folder);
    for (int i = 0; i < kSegments; ++i) {
        cache.Add("http://v.test/adts/seg_" + std::to_string(i) + ".ts", "video/mp2t",
                  TinyAdtsSegment(i, 250, 8000, 3600), true);
    }
    cache.Add("http://v.test/adts/index.m3u8", kPlaylistType, NumberedPlaylist(kSegments, 10));
}

void WriteWholeFileTracks(const fs::path& folder, std::size_t fragments, bool gzip) {
    SimpleCache cache(folder);
    const std::string base = "http://v.test/whole/";
    cache.Add(base + "video.mp4", "video/mp4", EmptyFragmentsFile(fragments), gzip);
    cache.Add(base + "audio.mp4", "audio/mp4", SoundFile(5));
    cache.Add(base + "manifest.mpd", kManifestType, WholeFilesManifest());
}

// The picture's playlist and segments are cached, the sound's are not.
void WriteWideMaster(const fs::path& folder, int variants, int renditions) {
    SimpleCache cache(folder);
    const std::string base = "http://v.test/master/";
    cache.Add(base + "master.m3u8", kPlaylistType, WideMaster(variants, renditions), true);
    for (int i = 0; i < 2; ++i) {
        cache.Add(base + "video/seg_" + std::to_string(i) + ".ts", "video/mp2t",
                  TsSegment(kCostlyFirstPts + i * 180000ull, 20, 0x02));
    }
    cache.Add(base + "video/index.m3u8", kPlaylistType, NumberedPlaylist(2, 2));
}

void WriteOnePictureSegments(const fs::path& folder, const std::string& base, std::size_t segments,
                             std::size_t firstPictureBytes) {
    SimpleCache cache(folder);
    for (std::size_t i = 0; i < segments; ++i) {
        cache.Add(base + "seg_" + std::to_string(i) + ".ts", "video/mp2t",
                  OnePictureSegment(i, i == 0 ? firstPictureBytes : 200));
    }
    cache.Add(base + "index.m3u8", kPlaylistType, NumberedPlaylist(segments, 1.0 / kFramesPerSecond));
}

bool OneFileEndingIn(const WrittenFiles& files, const std::string& ending, std::uintmax_t atLeast) {
    return files.size() == 1 && files[0].first.size() >= ending.size() &&
           files[0].first.compare(files[0].first.size() - ending.size(), ending.size(), ending) == 0 &&
           files[0].second >= atLeast;
}

}  // namespace

std::vector<HostileCase> StreamCases() {
    const auto whole = [](std::size_t fragments, bool gzip) {
        return [=](const fs::path& folder) { WriteWholeFileTracks(folder, fragments, gzip); };
    };
    constexpr std::uintmax_t kBigPicture = 17500000;
    return {
        {"hls-gzip-list", "24 gzip HLS playlists of 4 MiB, --list", WriteGzipPlaylists, HostileRun::List, {}},
        {"hls-gzip", "24 gzip HLS playlists of 4 MiB", WriteGzipPlaylists, HostileRun::Harvest, {}},
        {"dash-gzip", "24 gzip MPDs of wide templates", WriteGzipManifests, HostileRun::Harvest, {}},
        {"ts-tiny-nal", "TS rewrap of 1-byte NAL units (gzip)", WriteTinyNalStream, HostileRun::Harvest, {}},
        {"ts-tiny-adts",
         "TS rewrap of 8-byte ADTS frames (gzip)",
         WriteTinyAdtsStream,
         HostileRun::Harvest,
         {}},
        {"dash-whole-5m",
         "DASH whole-file track of 5 M fragments",
         whole(5000000, false),
         HostileRun::Harvest,
         {}},
        {"dash-whole-gzip-20k",
         "the same, gzip, 20 k fragments",
         whole(20000, true),
         HostileRun::Harvest,
         {}},
        {"dash-whole-gzip-40k",
         "the same, gzip, 40 k fragments",
         whole(40000, true),
         HostileRun::Harvest,
         {}},
        {"hls-master",
         "HLS master of 4,000 variants x 4,000 sounds",
         [](const fs::path& folder) { WriteWideMaster(folder, 4000, 4000); },
         HostileRun::Harvest,
         {}},
        {"ts-big-picture", "one 17.5 MB picture in an HLS stream (written?)",
         [](const fs::path& folder) {
             WriteOnePictureSegments(folder, "http://v.test/big/", 2, kBigPicture);
         },
         HostileRun::Harvest,
         [](const WrittenFiles& files) {
             return OneFileEndingIn(files, ".mp4", kBigPicture) || OneFileEndingIn(files, ".ts", kBigPicture);
         }},
        {"hls-100k", "100,000 TS segments in one playlist (one video?)",
         [](const fs::path& folder) {
             WriteOnePictureSegments(folder, "http://v.test/long/film/", 100000, 200);
         },
         HostileRun::Harvest,
         [](const WrittenFiles& files) { return OneFileEndingIn(files, "film.mp4", 1); }},
    };
}

}  // namespace drovan::bench
