// Harvests and lists crafted caches, each in a process of its own, and prints its time, peak memory and the
// bytes it wrote against the bytes the cache holds: blockfile records that name the same stored bytes many
// times, streams whose playlists, manifests or media expand far beyond their stored bytes, an SQL shard of
// very many rows. Target: peak memory at most 256 MiB and at most 10 s, and no more written than the cache
// holds decoded. Usage: hostile_cache_bench [--only NAME] [--keep DIR] [--sql-rows N]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "bench/bench_options.h"
#include "bench/bench_gzip.h"
#include "bench/bench_timing.h"
#include "bench/hostile_cases.h"
#include "cli/harvest_run.h"
#include "extract/cache_listing.h"
#include "extract/file_system_posix.h"
#include "extract/utf8.h"
#include "tests/support/blockfile_builder.h"

namespace {

namespace fs = std::filesystem;
using drovan::bench::Gzip;
using drovan::bench::HostileCase;
using drovan::bench::HostileRun;
using drovan::bench::WrittenFiles;
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

// A run past these is stopped: a case must never take the shared machine down.
constexpr rlim_t kGuardBytes = rlim_t{2} << 30;
constexpr unsigned kGuardSeconds = 60;
constexpr double kPeakMiB = 256;
constexpr double kMostSeconds = 10;
constexpr std::size_t kDefaultSqlRows = 1000000;
constexpr std::size_t kFilesShown = 8;

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

void WriteBlockfile(const fs::path& folder, const BlockfileBuilder& builder) {
    fs::create_directories(folder);
    for (const auto& [name, bytes] : builder.Files()) {
        std::ofstream(folder / drovan::Utf16ToUtf8(name), std::ios::binary) << bytes;
    }
}

HostileCase Blockfile(std::string name, std::string title, std::function<BlockfileBuilder()> build,
                      HostileRun run) {
    return {std::move(name),
            std::move(title),
            [build](const fs::path& folder) { WriteBlockfile(folder, build()); },
            run,
            {}};
}

std::vector<HostileCase> BlockfileCases() {
    return {
        Blockfile(
            "key-100", "100 records sharing one 4 MiB key", [] { return SharedKey(100, 0); },
            HostileRun::Harvest),
        Blockfile(
            "key-1000", "1,000 records sharing one 4 MiB key", [] { return SharedKey(1000, 0); },
            HostileRun::Harvest),
        Blockfile(
            "sparse-key-1000", "1,000 sparse parents sharing one 4 MiB key",
            [] { return SharedKey(1000, 1); }, HostileRun::Look),
        Blockfile(
            "children-2048", "2,048 sparse children sharing one body", [] { return SparseChildren(2048); },
            HostileRun::Look),
        Blockfile(
            "children-8192", "8,192 sparse children sharing one body", [] { return SparseChildren(8192); },
            HostileRun::Look),
        Blockfile(
            "gzip-bomb", "40 records sharing one gzip bomb (256 MiB decoded)",
            [] {
                return SharedBody(40, Gzip(std::string(256 << 20, '\0')),
                                  "HTTP/1.1 200 OK\nContent-Type: video/mp4\nContent-Encoding: gzip\n");
            },
            HostileRun::Harvest),
        Blockfile(
            "body-300", "300 records sharing one 4 MiB body",
            [] {
                return SharedBody(300, std::string(4 << 20, 'b'),
                                  "HTTP/1.1 200 OK\nContent-Type: video/mp4\n");
            },
            HostileRun::Harvest),
        Blockfile("every-slot", "64 slots naming one record with a 4 MiB key", EverySlotOneRecord,
                  HostileRun::Harvest),
    };
}

std::uintmax_t BytesIn(const fs::path& folder) {
    std::uintmax_t bytes = 0;
    for (const auto& file : fs::recursive_directory_iterator(folder)) {
        bytes += file.is_regular_file() ? file.file_size() : 0;
    }
    return bytes;
}

WrittenFiles FilesIn(const fs::path& folder) {
    WrittenFiles files;
    for (const auto& file : fs::directory_iterator(folder)) {
        files.emplace_back(file.path().filename().string(), file.is_regular_file() ? file.file_size() : 0);
    }
    std::sort(files.begin(), files.end());
    return files;
}

// The console harvester's output: the listing's rows dropped, the summary line kept.
class SummaryOutput final : public drovan::HarvestOutput {
  public:
    void Line(std::u16string_view) override {}
    void Message(std::u16string_view text) override { m_message = drovan::Utf16ToUtf8(text); }
    const std::string& message() const { return m_message; }

  private:
    std::string m_message;
};

std::size_t CountAfter(const std::string& text, const char* label) {
    const std::size_t at = text.find(label);
    return at == std::string::npos ? 0 : std::strtoull(text.c_str() + at + std::strlen(label), nullptr, 10);
}

// Prints "matched copied skipped<TAB>summary" for the parent.
void RunChild(const fs::path& cache, const fs::path& out, const std::string& run) {
    drovan::PosixFileSystem files;
    const std::u16string folder = drovan::Utf8ToUtf16(cache.string());
    if (run == "look") {
        const drovan::CacheReadReport report =
            drovan::LookAtCacheEntries(files, folder, drovan::CacheKind::ChromiumBlockfile,
                                       [](drovan::CacheEntry&, const drovan::EntryLook&) { return true; });
        std::printf("%zu 0 %zu\t\n", report.entries, report.damaged + report.overBudget);
        return;
    }
    drovan::HarvestArguments arguments;
    arguments.sources = {folder};
    arguments.list = run == "list";
    if (!arguments.list) {
        arguments.types.assign(1, u'*');  // every type, as --type '*'
        arguments.destination = drovan::Utf8ToUtf16(out.string());
    }
    SummaryOutput output;
    drovan::RunHarvest(files, arguments, std::nullopt, output, nullptr);
    const std::string& summary = output.message();
    std::printf("%zu %zu %zu\t%s\n", CountAfter(summary, "matched "), CountAfter(summary, "copied "),
                CountAfter(summary, "skipped "), summary.c_str());
}

struct Options {
    std::string only;
    std::string keep;
    std::uint64_t sqlRows = kDefaultSqlRows;
};

struct Outcome {
    std::string childLine;
    int status = 0;
    double seconds = 0;
    double peakMiB = 0;
};

const char* RunName(HostileRun run) {
    return run == HostileRun::List ? "list" : run == HostileRun::Look ? "look" : "harvest";
}

// The run in a process of its own, so that its peak memory is its own, held to the guard's memory and time.
Outcome Measure(const char* self, const fs::path& cache, const fs::path& out, HostileRun run) {
    int lines[2];
    if (pipe(lines) != 0) {
        std::perror("pipe");
        std::exit(1);
    }
    Outcome outcome;
    rusage usage{};
    outcome.seconds = drovan::bench::Seconds([&] {
        const pid_t child = fork();
        if (child == 0) {
            dup2(lines[1], STDOUT_FILENO);
            const rlimit memory{kGuardBytes, kGuardBytes};
            setrlimit(RLIMIT_AS, &memory);
            alarm(kGuardSeconds);
            execl("/proc/self/exe", self, "--run", cache.c_str(), out.c_str(), RunName(run), nullptr);
            _exit(127);
        }
        close(lines[1]);
        char buffer[4096];
        for (ssize_t got; (got = read(lines[0], buffer, sizeof buffer)) > 0;) {
            outcome.childLine.append(buffer, static_cast<std::size_t>(got));
        }
        close(lines[0]);
        wait4(child, &outcome.status, 0, &usage);
    });
    outcome.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
    return outcome;
}

// The cache made in a process of its own: the bench's own memory stays small, and so every child's start.
double MakeCache(const HostileCase& c, const fs::path& cache) {
    return drovan::bench::Seconds([&] {
        const pid_t maker = fork();
        if (maker == 0) {
            fs::create_directories(cache);
            c.write(cache);
            _exit(0);
        }
        int status = 0;
        waitpid(maker, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::fprintf(stderr, "making the cache of %s failed\n", c.name.c_str());
            std::exit(1);
        }
    });
}

std::string WhyItEnded(int status) {
    if (WIFSIGNALED(status)) {
        const int signal = WTERMSIG(status);
        return signal == SIGALRM ? "stopped after " + std::to_string(kGuardSeconds) + " s"
                                 : std::string("ended by ") + strsignal(signal) + " (memory guard " +
                                       std::to_string(kGuardBytes >> 30) + " GiB)";
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? "" : "exit " + std::to_string(WEXITSTATUS(status));
}

void PrintWritten(const WrittenFiles& files) {
    std::printf("    wrote %zu file(s):", files.size());
    for (std::size_t i = 0; i < files.size() && i < kFilesShown; ++i) {
        const double bytes = static_cast<double>(files[i].second);
        std::printf(bytes < 1e6 ? " %s (%.1f KB)" : " %s (%.1f MB)", files[i].first.c_str(),
                    bytes < 1e6 ? bytes / 1e3 : bytes / 1e6);
    }
    std::printf(files.size() > kFilesShown ? " and %zu more\n" : "\n", files.size() - kFilesShown);
}

bool RunCase(const char* self, const HostileCase& c, const fs::path& root, bool keep) {
    const fs::path cache = root / c.name / "cache";
    const fs::path out = root / c.name / "out";
    const bool kept = keep && fs::exists(cache);
    fs::remove_all(out);
    if (!kept) {
        fs::remove_all(root / c.name);
    }
    const double made = kept ? 0 : MakeCache(c, cache);
    fs::create_directories(out);
    std::printf("%-20s %-48s ", c.name.c_str(), c.title.c_str());
    std::fflush(stdout);
    const Outcome outcome = Measure(self, cache, out, c.run);
    std::size_t matched = 0, copied = 0, skipped = 0;
    const int fields = std::sscanf(outcome.childLine.c_str(), "%zu %zu %zu", &matched, &copied, &skipped);
    const std::string why = WhyItEnded(outcome.status);
    const WrittenFiles written = FilesIn(out);
    const bool expected = !c.expect || c.expect(written);
    const bool ok = fields == 3 && why.empty() && outcome.peakMiB <= kPeakMiB &&
                    outcome.seconds <= kMostSeconds && expected;
    std::printf("%8zu %8zu %8zu %10.1f %10.1f %9.1f %8.2f %s\n", matched, copied, skipped,
                static_cast<double>(BytesIn(cache)) / (1 << 20),
                static_cast<double>(BytesIn(out)) / (1 << 20), outcome.peakMiB, outcome.seconds,
                ok ? "PASS" : "FAIL");
    const std::size_t tab = outcome.childLine.find('\t');
    std::string summary = tab == std::string::npos ? "" : outcome.childLine.substr(tab + 1);
    while (!summary.empty() && summary.back() == '\n') {
        summary.pop_back();
    }
    char note[64];
    std::snprintf(note, sizeof note, kept ? "cache kept from before" : "cache made in %.1f s", made);
    std::printf("    %s%s%s\n", note, why.empty() ? "" : ("; " + why).c_str(),
                summary.empty() ? "" : ("; " + summary).c_str());
    if (c.expect) {
        PrintWritten(written);
        std::printf("    outcome: %s\n", expected ? "as expected" : "NOT as expected");
    }
    std::fflush(stdout);
    if (!keep) {
        fs::remove_all(root / c.name);
    }
    return ok;
}

Options ReadOptions(int argc, char** argv) {
    Options options;
    if (!drovan::bench::ParseBenchOptions(
            argc, argv,
            {{"--only", &options.only}, {"--keep", &options.keep}, {"--sql-rows", &options.sqlRows}})) {
        std::fprintf(stderr, "usage: hostile_cache_bench [--only NAME] [--keep DIR] [--sql-rows N]\n");
        std::exit(2);
    }
    return options;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::string(argv[1]) == "--run") {
        RunChild(argv[2], argv[3], argv[4]);
        return 0;
    }
    const Options options = ReadOptions(argc, argv);
    std::vector<HostileCase> cases = BlockfileCases();
    for (HostileCase& c : drovan::bench::StreamCases()) {
        cases.push_back(std::move(c));
    }
    cases.push_back(drovan::bench::SqlShardCase(options.sqlRows));
    if (!options.only.empty() && std::none_of(cases.begin(), cases.end(),
                                              [&](const HostileCase& c) { return c.name == options.only; })) {
        std::fprintf(stderr, "no case named %s\n", options.only.c_str());
        return 2;
    }
    const bool keep = !options.keep.empty();
    const fs::path root = keep ? fs::path(options.keep)
                               : fs::temp_directory_path() / ("drovan-hostile-" + std::to_string(getpid()));
    std::printf(
        "each run in a process of its own, held to %zu GiB and %u s; PASS: peak at most %.0f MiB and at most "
        "%.0f s%s\n",
        static_cast<std::size_t>(kGuardBytes >> 30), kGuardSeconds, kPeakMiB, kMostSeconds,
        options.sqlRows == kDefaultSqlRows ? "" : "; the SQL shard's rows as --sql-rows gives them");
    std::printf("%-20s %-48s %8s %8s %8s %10s %10s %9s %8s\n", "case", "cache", "entries", "copied",
                "skipped", "cache MiB", "wrote MiB", "peak MiB", "seconds");
    bool pass = true;
    for (const HostileCase& c : cases) {
        if (options.only.empty() || options.only == c.name) {
            pass = RunCase(argv[0], c, root, keep) && pass;
        }
    }
    if (!keep) {
        fs::remove_all(root);
    }
    return pass ? 0 : 1;
}
