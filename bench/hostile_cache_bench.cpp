// Harvests and lists crafted blockfile caches whose records name the same stored bytes many times, each in a
// process of its own, and prints its time, peak memory and the bytes it wrote against the bytes the cache
// holds. Target: peak memory at most 256 MiB, and no more written than the cache holds decoded.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "bench/bench_gzip.h"
#include "bench/bench_timing.h"
#include "extract/file_system_posix.h"
#include "extract/cache_listing.h"
#include "extract/pipeline.h"
#include "extract/harvest_writer.h"
#include "extract/utf8.h"
#include "tests/support/blockfile_builder.h"

namespace {

namespace fs = std::filesystem;
using drovan::bench::Gzip;
using drovan::tests::BlockfileBuilder;
using drovan::tests::BlockfileResponseInfo;
using drovan::tests::EntryParts;
using drovan::tests::Plain;

constexpr std::uint32_t kKeyLengthField = 32;
constexpr std::uint32_t kKeyField = 36;
constexpr std::uint32_t kBodySizeField = 44;
constexpr std::uint32_t kBodyField = 60;
constexpr std::uint64_t kSignature = 0x2fc0a2fa45931c;
const std::string kSite = "1/0/_dk_http://127.0.0.1 http://127.0.0.1 ";

std::string LongKey(int n) {
    return kSite + "http://127.0.0.1:8000/" + std::to_string(n) + "/" + std::string((4 << 20) - 256, 'k');
}

// count records more in the first one's chain, each naming its key: stored once, read by every record.
void ShareKey(BlockfileBuilder& builder, std::uint32_t first, EntryParts parts, int count) {
    const std::uint32_t bucket = builder.Field(first, 0) & (BlockfileBuilder::kTableLength - 1);
    for (int i = 0; i < count; ++i) {
        parts.key = kSite + std::to_string(i);
        const std::uint32_t record = builder.AddEntry(parts);
        builder.Slot(drovan::SuperFastHash(parts.key) & (BlockfileBuilder::kTableLength - 1)) =
            builder.Field(record, 4);
        for (const std::uint32_t field : {0u, kKeyLengthField, kKeyField}) {
            builder.Patch(record, field, builder.Field(first, field));
        }
        builder.Patch(record, 4, builder.Slot(bucket));
        builder.Slot(bucket) = record;
    }
}

BlockfileBuilder SharedKey(int records, std::uint32_t flags) {
    BlockfileBuilder builder;
    EntryParts parts =
        Plain(LongKey(0), BlockfileResponseInfo("HTTP/1.1 200 OK\nContent-Length: 3\n"), "abc");
    parts.longKey = true;
    parts.flags = flags;
    if (flags != 0) {
        parts.stream0 = BlockfileResponseInfo("HTTP/1.1 206 Partial Content\nContent-Range: bytes 0-9/10\n");
        parts.stream2 = drovan::tests::SparseStream(kSignature, parts.key.size(), std::string(8192, '\xff'));
    }
    const std::uint32_t first = builder.AddEntry(parts);
    ShareKey(builder, first, parts, records - 1);
    return builder;
}

BlockfileBuilder SharedBody(int records, const std::string& body, const std::string& head) {
    BlockfileBuilder builder;
    const std::uint32_t first =
        builder.AddEntry(Plain(kSite + "http://127.0.0.1:8000/0", BlockfileResponseInfo(head), body));
    for (int i = 1; i < records; ++i) {
        const std::uint32_t record = builder.AddEntry(
            Plain(kSite + "http://127.0.0.1:8000/" + std::to_string(i), BlockfileResponseInfo(head), "x"));
        builder.Patch(record, kBodySizeField, static_cast<std::uint32_t>(body.size()));
        builder.Patch(record, kBodyField, builder.Field(first, kBodyField));
    }
    return builder;
}

BlockfileBuilder SparseChildren(int children) {
    BlockfileBuilder builder;
    const std::string key = kSite + "http://127.0.0.1:8000/clip.mp4";
    EntryParts parent;
    parent.key = key;
    parent.stream0 = BlockfileResponseInfo("HTTP/1.1 206 Partial Content\nContent-Range: bytes 0-99/" +
                                           std::to_string(static_cast<std::uint64_t>(children) << 20) + "\n");
    parent.stream2 = drovan::tests::SparseStream(kSignature, key.size(), std::string(children / 8, '\xff'));
    parent.flags = 1;
    builder.AddEntry(parent);
    std::uint32_t first = 0;
    for (int i = 0; i < children; ++i) {
        EntryParts child;
        child.key = drovan::blockfile::SparseChildKey(key, kSignature, static_cast<std::uint32_t>(i));
        child.flags = 2;
        child.stream1 = i == 0 ? std::string(1 << 20, 'v') : "x";
        child.stream2 = drovan::tests::SparseStream(kSignature, key.size(), std::string(128, '\x55'));
        const std::uint32_t record = builder.AddEntry(child);
        if (i == 0) {
            first = record;
        } else {
            builder.Patch(record, kBodySizeField, 1 << 20);
            builder.Patch(record, kBodyField, builder.Field(first, kBodyField));
        }
    }
    return builder;
}

BlockfileBuilder EverySlotOneRecord() {
    BlockfileBuilder builder;
    EntryParts parts =
        Plain(LongKey(0), BlockfileResponseInfo("HTTP/1.1 200 OK\nContent-Length: 3\n"), "abc");
    parts.longKey = true;
    const std::uint32_t record = builder.AddEntry(parts);
    for (std::uint32_t bucket = 0; bucket < BlockfileBuilder::kTableLength; ++bucket) {
        builder.Slot(bucket) = record;
    }
    return builder;
}

std::uintmax_t BytesIn(const fs::path& folder) {
    std::uintmax_t bytes = 0;
    for (const auto& file : fs::recursive_directory_iterator(folder)) {
        bytes += file.is_regular_file() ? file.file_size() : 0;
    }
    return bytes;
}

void RunChild(const fs::path& cache, const fs::path& out, bool list) {
    drovan::PosixFileSystem files;
    const std::u16string folder = drovan::Utf8ToUtf16(cache.string());
    drovan::HarvestSummary summary;
    if (list) {
        const drovan::CacheReadReport report =
            drovan::LookAtCacheEntries(files, folder, drovan::CacheKind::ChromiumBlockfile,
                                       [](drovan::CacheEntry&, const drovan::EntryLook&) { return true; });
        summary.matched = report.entries;
        summary.skipped = report.damaged + report.overBudget;
    } else {
        summary = drovan::Harvest(files, {{folder, drovan::CacheKind::ChromiumBlockfile}},
                                  drovan::Utf8ToUtf16(out.string()), {});
    }
    std::printf("%8zu %8zu %8zu ", summary.matched, summary.copied, summary.skipped);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    // A process of its own for each run: its peak memory is its own, not the builder's.
    if (argc == 5 && std::string(argv[1]) == "--run") {
        RunChild(argv[2], argv[3], std::string(argv[4]) == "list");
        return 0;
    }
    const struct {
        const char* name;
        std::function<BlockfileBuilder()> build;
        bool list;
    } cases[] = {
        {"100 records sharing one 4 MiB key", [] { return SharedKey(100, 0); }, false},
        {"1,000 records sharing one 4 MiB key", [] { return SharedKey(1000, 0); }, false},
        {"1,000 sparse parents sharing one 4 MiB key", [] { return SharedKey(1000, 1); }, true},
        {"2,048 sparse children sharing one body", [] { return SparseChildren(2048); }, true},
        {"8,192 sparse children sharing one body", [] { return SparseChildren(8192); }, true},
        {"40 records sharing one gzip bomb (256 MiB decoded)",
         [] {
             return SharedBody(40, Gzip(std::string(256 << 20, '\0')),
                               "HTTP/1.1 200 OK\nContent-Type: video/mp4\nContent-Encoding: gzip\n");
         },
         false},
        {"300 records sharing one 4 MiB body",
         [] {
             return SharedBody(300, std::string(4 << 20, 'b'), "HTTP/1.1 200 OK\nContent-Type: video/mp4\n");
         },
         false},
        {"64 slots naming one record with a 4 MiB key", EverySlotOneRecord, false},
    };
    const fs::path root = fs::temp_directory_path() / ("drovan-hostile-" + std::to_string(getpid()));
    std::printf("%-52s %8s %8s %8s %10s %10s %9s %8s\n", "cache", "entries", "copied", "skipped", "cache MiB",
                "wrote MiB", "peak MiB", "seconds");
    bool pass = true;
    for (const auto& c : cases) {
        const fs::path cache = root / "cache";
        const fs::path out = root / "out";
        fs::remove_all(root);
        fs::create_directories(cache);
        fs::create_directories(out);
        for (const auto& [name, bytes] : c.build().Files()) {
            std::ofstream(cache / drovan::Utf16ToUtf8(name), std::ios::binary) << bytes;
        }
        std::printf("%-52s ", c.name);
        std::fflush(stdout);
        rusage usage{};
        int status = 0;
        const double seconds = drovan::bench::Seconds([&] {
            const pid_t child = fork();
            if (child == 0) {
                execl("/proc/self/exe", argv[0], "--run", cache.c_str(), out.c_str(),
                      c.list ? "list" : "harvest", nullptr);
                _exit(127);
            }
            wait4(child, &status, 0, &usage);
        });
        const double peak = static_cast<double>(usage.ru_maxrss) / 1024.0;
        const double cacheBytes = static_cast<double>(BytesIn(cache)) / (1 << 20);
        const double written = static_cast<double>(BytesIn(out)) / (1 << 20);
        const bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0 && peak <= 256.0;
        pass = pass && ok;
        std::printf("%10.1f %10.1f %9.1f %8.2f %s\n", cacheBytes, written, peak, seconds,
                    ok ? "PASS" : "FAIL");
    }
    fs::remove_all(root);
    return pass ? 0 : 1;
}
