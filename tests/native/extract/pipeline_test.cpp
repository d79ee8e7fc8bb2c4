#include "extract/cache_listing.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <utility>

#include "cli/harvest_run.h"
#include "extract/file_system_posix.h"
#include "extract/pipeline.h"
#include "extract/progress.h"
#include "extract/sha256.h"
#include "extract/utf8.h"
#include "tests/support/blockfile_builder.h"
#include "tests/support/captured_output.h"
#include "tests/support/cache_builders.h"
#include "tests/support/real_cache_data.h"

namespace drovan::tests {
namespace {

// "clip (2).flv" -> "clip.flv"
std::string BaseName(std::string name) {
    const std::size_t open = name.rfind(" (");
    const std::size_t close = name.find(')', open == std::string::npos ? 0 : open);
    if (open != std::string::npos && close != std::string::npos) {
        name.erase(open, close - open + 1);
    }
    return name;
}

// Every complete manifest line becomes a file of its name (numbered when two share it) holding exactly the
// decoded body, dated as the line says; incomplete ones and responses without a body are counted and never
// written; a second harvest adds nothing.
TEST(Harvest, RealCachesGiveTheManifestsFilesByteForByte) {
    for (const tests::RealCache& cache : tests::kRealCaches) {
        std::vector<std::vector<std::string>> manifest;
        MemoryFileSystem fs = tests::LoadCache(cache.folder, manifest);
        fs.AddFolder(u"/out");
        const auto [started, ended] = tests::GeneratedBetween(cache.folder);
        std::vector<std::pair<std::string, std::string>> expected;
        std::map<std::string, std::string> modified;  // by SHA-256: a name may stand for several bodies
        std::size_t incomplete = 0;
        std::size_t noBody = 0;
        for (const auto& line : manifest) {
            if (line[4] == "complete") {
                expected.emplace_back(line[1], line[3]);
                modified[line[3]] = line[5];
            }
            incomplete += line[4] == "incomplete" ? 1 : 0;
            noBody += line[4] == "no-body" ? 1 : 0;
        }
        for (int round = 0; round < 2; ++round) {
            const HarvestSummary summary = Harvest(fs, {{u"/cache", cache.kind}}, u"/out", {});
            EXPECT_EQ(summary.matched, manifest.size()) << cache.folder;
            EXPECT_EQ(summary.incomplete, incomplete) << cache.folder;
            EXPECT_EQ(summary.noBody, noBody) << cache.folder;
            EXPECT_EQ(summary.failed + summary.skipped, noBody) << cache.folder;
            EXPECT_EQ(round == 0 ? summary.copied : summary.alreadyPresent, expected.size()) << cache.folder;
        }
        std::vector<std::pair<std::string, std::string>> written;
        for (const auto& [path, bytes] : fs.files()) {
            if (path.rfind(u"/out/", 0) == 0) {
                written.emplace_back(BaseName(Utf16ToUtf8(path.substr(5))), Sha256Hex(bytes));
                const std::string& time = modified[written.back().second];
                const std::int64_t seconds = fs.modifiedTimes().at(path).nanoseconds / 1000000000;
                if (time == "stored") {
                    EXPECT_TRUE(seconds >= started && seconds <= ended) << Utf16ToUtf8(path);
                } else {
                    EXPECT_EQ(std::to_string(seconds), time) << Utf16ToUtf8(path);
                }
            }
        }
        std::sort(expected.begin(), expected.end());
        std::sort(written.begin(), written.end());
        EXPECT_EQ(written, expected) << cache.folder;
    }
}

// The Internet-cache folder's files come first and keep their names; the browsers' entries of the same name
// are numbered after them; the destination inside the walked folder is never walked.
TEST(Harvest, InternetCacheFirstThenEveryBrowserCache) {
    std::vector<std::vector<std::string>> manifest;
    MemoryFileSystem fs = tests::LoadCache("firefox-cache2", manifest);
    fs.AddFile(u"/inet/x/clip.flv", "FLV from the Internet cache");
    fs.AddFolder(u"/inet/out");
    const std::vector<CacheSource> caches = {{CacheKind::FirefoxCache2, u"/cache", u"Firefox"}};
    HarvestProgress progress;
    const HarvestSummary summary =
        Harvest(fs, MachineHarvestSources(fs, u"/inet", caches), u"/inet/out", {u"flv"}, &progress);
    const std::size_t flvLines = static_cast<std::size_t>(
        std::count_if(manifest.begin(), manifest.end(), [](const auto& line) { return line[2] == "flv"; }));
    EXPECT_EQ(summary.matched, 1 + flvLines);
    EXPECT_EQ(summary.copied + summary.incomplete, summary.matched);
    EXPECT_EQ(progress.total, summary.copied);
    EXPECT_EQ(progress.done, summary.copied);
    EXPECT_EQ(fs.files().at(u"/inet/out/clip.flv"), "FLV from the Internet cache");
    EXPECT_EQ(fs.files().count(u"/inet/out/clip (2).flv"), 1u);
    EXPECT_EQ(Harvest(fs, MachineHarvestSources(fs, u"", {}), u"/inet/out", {u"flv"}).matched, 0u);
}

// A record the reader cannot read soundly (a browser writing it, a damaged disk) is passed over: it is not a
// file that failed to copy, so it never turns the completion question into its failure variant.
TEST(Harvest, AnUnreadableRecordIsSkippedNotFailed) {
    MemoryFileSystem fs;
    tests::FirefoxEntryParts badHash;
    badHash.key = ":http://h/a.mp3";
    badHash.goodHash = false;
    fs.AddFile(u"/cache/entries/0123456789ABCDEF0123456789ABCDEF01234567", tests::FirefoxEntry(badHash));
    // Body bytes and no metadata yet: Firefox is still writing it.
    fs.AddFile(u"/cache/entries/0123456789ABCDEF0123456789ABCDEF01234568", "ID3 and no metadata");
    HarvestSummary summary;
    std::vector<HarvestItem> items;
    ListCacheEntriesOfType(
        fs, u"/cache", CacheKind::FirefoxCache2, {u"mp3"}, {}, nullptr,
        [&items](HarvestItem item) {
            items.push_back(std::move(item));
            return true;
        },
        summary);
    EXPECT_EQ(summary.failed, 0u);
    EXPECT_EQ(summary.skipped, 1u);
    EXPECT_EQ(summary.damaged, 1u);
    EXPECT_EQ(summary.inUse, 1u);
    EXPECT_TRUE(items.empty());
}

// Looking at entries while reading them opens each entry's file once, and gives what a separate look gives;
// entries without a URL are passed over.
TEST(Harvest, LooksReuseTheFilesTheReaderOpened) {
    const std::string head = "HTTP/1.1 200 OK\nContent-Type: image/png\nContent-Length: 40000";
    const std::string png = "\x89PNG\r\n\x1A\n" + tests::Pattern(40000 - 8);
    const std::string urls[] = {"http://h/a/one.png", "http://h/b/two",      "http://h/c/three.png?x=1",
                                "http://h/d/four",    "http://h/e/five.png", "http://h/f/six"};
    MemoryFileSystem memory;
    tests::BlockfileBuilder blockfile;
    for (std::size_t i = 0; i < std::size(urls); ++i) {
        tests::FirefoxEntryParts parts;
        parts.body = png;
        parts.key = "a,:" + urls[i];
        parts.elements = {{"response-head", tests::FirefoxHead(head)}};
        memory.AddFile(
            u"/cache2/entries/0123456789ABCDEF0123456789ABCDEF0123456" + Utf8ToUtf16(std::to_string(i)),
            tests::FirefoxEntry(parts));
        const std::string chromiumKey = "1/0/_dk_http://h http://h " + urls[i];
        memory.AddFile(u"/simple/0123456789abcde" + Utf8ToUtf16(std::to_string(i)) + u"_0",
                       tests::SimpleEntry(chromiumKey, png, tests::ResponseInfo(tests::RawHeaders(head))));
        blockfile.AddEntry(tests::Plain(chromiumKey, tests::BlockfileResponseInfo(head), png));
    }
    memory.AddFile(u"/cache2/entries/0123456789ABCDEF0123456789ABCDEF01234567", [] {
        tests::FirefoxEntryParts noUrl;
        noUrl.key = "no url here";
        return tests::FirefoxEntry(noUrl);
    }());
    blockfile.Install(memory, u"/blockfile");
    const struct {
        const char16_t* folder;
        CacheKind kind;
    } caches[] = {{u"/cache2", CacheKind::FirefoxCache2},
                  {u"/simple", CacheKind::ChromiumSimple},
                  {u"/blockfile", CacheKind::ChromiumBlockfile}};
    for (const auto& cache : caches) {
        memory.opens.clear();
        std::vector<std::pair<CacheEntry, EntryLook>> seen;
        const CacheReadReport report = LookAtCacheEntries(memory, cache.folder, cache.kind,
                                                          [&seen](CacheEntry& entry, const EntryLook& look) {
                                                              seen.emplace_back(entry, look);
                                                              return true;
                                                          });
        EXPECT_EQ(report.damaged, 0u);
        for (const auto& [path, opens] : memory.opens) {
            // The blockfile reader keeps its block files open itself; stored response infos are read through
            // the kept one.
            const bool blockFile = path.find(u"/data_") != std::u16string::npos;
            EXPECT_LE(opens, blockFile ? 2u : 1u) << Utf16ToUtf8(path);
        }
        std::vector<std::pair<std::u16string, std::string>> looks;
        for (const auto& [entry, look] : seen) {
            EXPECT_EQ(look.name, LookAtEntry(memory, entry).name);
            looks.emplace_back(look.name, look.type);
        }
        std::sort(looks.begin(), looks.end());
        const std::vector<std::pair<std::u16string, std::string>> expected = {
            {u"five.png", "png"}, {u"four.png", "png"},  {u"one.png", "png"},
            {u"six.png", "png"},  {u"three.png", "png"}, {u"two.png", "png"}};
        EXPECT_EQ(looks, expected);
    }
}

// A stop is read for every entry and every folder, matching or not: on a large cache where nothing matches it
// must not wait for the whole cache to be read.
TEST(Harvest, AStopEndsEveryListingAtOnce) {
    std::vector<std::vector<std::string>> manifest;
    MemoryFileSystem fs = tests::LoadCache("firefox-cache2", manifest);
    fs.AddFolder(u"/out");
    fs.AddFile(u"/roaming/Mozilla/Firefox/profiles.ini", "[Profile0]\nPath=p\n");
    fs.AddFolder(u"/roaming/Mozilla/Firefox/p");
    const std::vector<CacheSource> caches = {{CacheKind::FirefoxCache2, u"/cache", u"Firefox"}};
    const ParsedArguments list = ParseHarvestArguments({u"--list", u"--from", u"/cache"});
    ASSERT_TRUE(list.arguments);
    const auto nothing = [](HarvestItem) { return true; };
    const struct {
        const char* name;
        std::function<void(FileSystem&, HarvestProgress*)> run;
    } listings[] = {
        {"entries of a type",
         [&](FileSystem& files, HarvestProgress* progress) {
             HarvestSummary summary;
             EXPECT_EQ(ListCacheEntriesOfType(files, u"/cache", CacheKind::FirefoxCache2, {u"zzz"}, {},
                                              progress, nothing, summary),
                       progress == nullptr);
         }},
        {"harvest",
         [&](FileSystem& files, HarvestProgress* progress) {
             Harvest(files, MachineHarvestSources(files, u"", caches), u"/out", {u"zzz"}, progress);
         }},
        {"--list",
         [&](FileSystem& files, HarvestProgress* progress) {
             CapturedOutput output;
             EXPECT_EQ(RunHarvest(files, *list.arguments, std::nullopt, output, progress),
                       progress == nullptr ? kHarvestOk : kHarvestSomeFailed);
         }},
        {"browser search",
         [&](FileSystem& files, HarvestProgress* progress) {
             FindBrowserCaches(files, {u"/local", u"/roaming", {}}, {}, progress);
         }},
    };
    std::size_t listed = 0;
    fs.onList = [&listed](const std::u16string&) { ++listed; };
    // Folders listed and files opened.
    const auto looks = [&] { return listed + fs.opens.size(); };
    for (const auto& listing : listings) {
        listed = 0;
        fs.opens.clear();
        listing.run(fs, nullptr);
        EXPECT_GT(looks(), 2u) << listing.name;
        listed = 0;
        fs.opens.clear();
        HarvestProgress progress;
        progress.stop = true;
        listing.run(fs, &progress);
        // The first folder or entry file may be open when the stop is first read.
        EXPECT_LE(looks(), 2u) << listing.name;
    }
}

// The rows drovan-harvest --list gives as complete, which the harvest writes.
std::size_t CompleteRowsListed(FileSystem& files, const std::u16string& cache, const std::u16string& type) {
    std::vector<std::u16string> args = {u"--list", u"--from", cache};
    if (!type.empty()) {
        args.insert(args.end(), {u"--type", type});
    }
    CapturedOutput output;
    RunHarvest(files, *ParseHarvestArguments(args).arguments, std::nullopt, output, nullptr);
    return static_cast<std::size_t>(
        std::count_if(output.lines.begin(), output.lines.end(),
                      [](const std::u16string& line) { return line.find(u"\tcomplete\t") != line.npos; }));
}

// The listing is the harvest's own: on every committed cache, streams joined, partly or not at all, its
// complete rows are the files written, at the sizes written, and both count alike. (A cache whose entry files
// are hard-linked to one body is listed as harvested in OnlyTheCachesOwnRegularFilesAreRead.)
TEST(ListHarvest, AgreesWithTheHarvestOnEveryCommittedCache) {
    std::vector<RealCache> caches(std::begin(kRealCaches), std::end(kRealCaches));
    caches.insert(caches.end(), {{"streams/chromium-simple", CacheKind::ChromiumSimple},
                                 {"streams/chromium-blockfile", CacheKind::ChromiumBlockfile},
                                 {"streams/firefox-cache2", CacheKind::FirefoxCache2},
                                 {"stream-joins/chromium-simple", CacheKind::ChromiumSimple},
                                 {"stream-joins/chromium-blockfile", CacheKind::ChromiumBlockfile},
                                 {"stream-joins/chromium-sql", CacheKind::ChromiumSql},
                                 {"stream-joins/firefox-cache2", CacheKind::FirefoxCache2}});
    for (const RealCache& cache : caches) {
        for (const StreamJoining joining :
             {StreamJoining::Join, StreamJoining::Partial, StreamJoining::Pieces}) {
            SCOPED_TRACE(std::string(cache.folder) + " joining " + std::to_string(static_cast<int>(joining)));
            MemoryFileSystem fs = tests::LoadCacheFiles(cache.folder);
            std::multiset<std::uint64_t> listed;
            const HarvestSummary listing = ListHarvest(
                fs, {{u"/cache", cache.kind}}, {},
                [&listed](const ItemFacts& facts) {
                    if (facts.state == u"complete") {
                        EXPECT_TRUE(facts.size.has_value()) << Utf16ToUtf8(facts.name);
                        listed.insert(facts.size.value_or(0));
                    }
                },
                nullptr, joining);
            fs.AddFolder(u"/out");
            const HarvestSummary harvest =
                Harvest(fs, {{u"/cache", cache.kind}}, u"/out", {}, nullptr, joining);
            std::multiset<std::uint64_t> written;
            for (const auto& [name, bytes] : fs.FilesIn(u"/out")) {
                written.insert(bytes.size());
            }
            // A file identical to one written under its name is already present, not written twice.
            EXPECT_EQ(listed.size(), harvest.copied + harvest.alreadyPresent);
            EXPECT_TRUE(std::includes(listed.begin(), listed.end(), written.begin(), written.end()));
            EXPECT_EQ(harvest.copied, written.size());
            EXPECT_EQ(listing.matched, harvest.matched);
            EXPECT_EQ(listing.incomplete, harvest.incomplete);
            EXPECT_EQ(listing.skipped, harvest.skipped);
        }
    }
}

// A size filter judges a stream by the file written: twoparts.mp4, two DASH periods, is merged into 93,110
// bytes from 95,414 stored.
TEST(ListHarvest, SizeFiltersJudgeAStreamByTheFileWritten) {
    const struct {
        std::optional<std::uint64_t> minSize, maxSize;
        bool taken;
    } cases[] = {{94000, std::nullopt, false}, {std::nullopt, 94000, true}, {93110, 93110, true}};
    for (const auto& c : cases) {
        MemoryFileSystem fs = tests::LoadCacheFiles("stream-joins/chromium-simple");
        HarvestFilter filter(u"mp4");
        filter.minSize = c.minSize;
        filter.maxSize = c.maxSize;
        bool listed = false;
        ListHarvest(fs, {{u"/cache", CacheKind::ChromiumSimple}}, filter,
                    [&listed](const ItemFacts& facts) { listed = listed || facts.name == u"twoparts.mp4"; });
        fs.AddFolder(u"/out");
        Harvest(fs, {{u"/cache", CacheKind::ChromiumSimple}}, u"/out", filter);
        EXPECT_EQ(listed, c.taken) << c.minSize.value_or(0);
        EXPECT_EQ(fs.files().count(u"/out/twoparts.mp4"), c.taken ? 1u : 0u) << c.minSize.value_or(0);
    }
}

// A copied cache may hold links out of it and FIFOs (tar archives carry both): the harvest reads only the
// cache's own regular files, never hangs on a FIFO, and counts the rest as skipped.
TEST(Harvest, OnlyTheCachesOwnRegularFilesAreRead) {
    namespace fs = std::filesystem;
    const fs::path root = fs::temp_directory_path() / ("drovan-foreign-" + std::to_string(getpid()));
    const fs::path secret = root / "secret";
    const auto copyCache = [&](const char* name) {
        fs::copy(tests::kData / name, root / "cache", fs::copy_options::recursive);
    };
    const struct {
        const char* name;
        std::function<void()> arrange;
        std::optional<CacheKind> kind;
        std::u16string type;
    } cases[] = {
        {"blockfile f_ file linked out",
         [&] {
             copyCache("chromium-blockfile");
             fs::remove(root / "cache" / "f_000001");
             fs::create_symlink(secret, root / "cache" / "f_000001");
         },
         CacheKind::ChromiumBlockfile, u""},
        {"Firefox entries folder linked out",
         [&] {
             copyCache("firefox-cache2");
             fs::rename(root / "cache" / "entries", root / "elsewhere");
             fs::create_symlink(root / "elsewhere", root / "cache" / "entries");
         },
         CacheKind::FirefoxCache2, u""},
        {"f_ files hard-linked to one body",
         [&] {
             tests::BlockfileBuilder builder;
             for (const char* name : {"a", "b", "c"}) {
                 builder.AddEntry(
                     tests::Plain("1/0/_dk_http://h http://h http://h/" + std::string(name),
                                  tests::BlockfileResponseInfo("HTTP/1.1 200 OK\nContent-Length: 40000\n"),
                                  std::string(40000, name[0])));
             }
             fs::create_directories(root / "cache");
             for (const auto& [name, bytes] : builder.Files()) {
                 std::ofstream(root / "cache" / Utf16ToUtf8(name), std::ios::binary) << bytes;
             }
             for (const char* other : {"f_000002", "f_000003"}) {
                 fs::remove(root / "cache" / other);
                 fs::create_hard_link(root / "cache" / "f_000001", root / "cache" / other);
             }
         },
         CacheKind::ChromiumBlockfile, u""},
        {"plain folder with a FIFO, a link and a device link",
         [&] {
             fs::create_directories(root / "cache");
             std::ofstream(root / "cache" / "a.mp4") << "mp4";
             ASSERT_EQ(mkfifo((root / "cache" / "pipe.mp4").c_str(), 0644), 0);
             fs::create_symlink(secret, root / "cache" / "link.mp4");
             fs::create_symlink("/dev/zero", root / "cache" / "zero.mp4");
         },
         std::nullopt, u"mp4"},
    };
    for (const auto& c : cases) {
        fs::remove_all(root);
        fs::create_directories(root / "out");
        std::ofstream(secret) << "SECRET";
        c.arrange();
        PosixFileSystem files;
        const std::u16string cache = Utf8ToUtf16((root / "cache").string());
        const HarvestSummary summary =
            Harvest(files, {{cache, c.kind}}, Utf8ToUtf16((root / "out").string()), {c.type});
        EXPECT_EQ(summary.failed, 0u) << c.name;
        EXPECT_GE(summary.skipped, 1u) << c.name;
        EXPECT_LE(summary.copied, c.kind ? summary.matched - summary.skipped : 1u) << c.name;
        EXPECT_EQ(CompleteRowsListed(files, cache, c.type), summary.copied) << c.name;
        for (const auto& written : fs::directory_iterator(root / "out")) {
            EXPECT_NE(tests::FileBytes(written.path()), "SECRET") << c.name;
            EXPECT_LT(written.file_size(), 64u << 20) << c.name;
        }
    }
    fs::remove_all(root);
}

}  // namespace
}  // namespace drovan::tests
