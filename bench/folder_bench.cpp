// Measures the harvest against two floors on a generated cache-like tree:
//   copy:  the harvest of one type       vs  one plain copy of each matching file from a ready list;
//   walk:  the harvest with a type that matches nothing  vs  find(1) over the same tree.
// Usage: folder_bench [--files N] [--folders N] [--runs N] [--keep DIR]
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_options.h"
#include "bench/bench_timing.h"
#include "extract/pipeline.h"
#include "extract/file_system_posix.h"
#include "extract/utf8.h"

namespace {

using drovan::bench::Median;
using drovan::bench::Seconds;

namespace fs = std::filesystem;

struct Options {
    int files = 20000;
    int folders = 16;
    int runs = 5;
    std::string keep;
};

const char* const kTypes[] = {"swf", "flv", "mp3", "jpg", "png", "gif", "js", "css", "htm", "dat"};

// Mostly small files, a few large ones, as in a browser cache; about 10% of names repeat in another folder.
std::uint64_t Generate(const fs::path& root, const Options& options) {
    std::mt19937_64 random(20261207);
    std::vector<char> block(4 << 20);
    for (char& c : block) {
        c = static_cast<char>(random());
    }
    std::uint64_t total = 0;
    for (int i = 0; i < options.files; ++i) {
        const fs::path folder = root / "Content.IE5" / ("F" + std::to_string(i % options.folders));
        fs::create_directories(folder);
        const int nameIndex = (i % 10 == 0 && i >= options.folders) ? i - options.folders : i;
        const std::string type = kTypes[nameIndex % std::size(kTypes)];
        const std::size_t size =
            random() % 100 < 3 ? 256 * 1024 + random() % (3 << 20) : 1024 + random() % (31 * 1024);
        std::ofstream out(folder / ("item" + std::to_string(nameIndex) + "[1]." + type), std::ios::binary);
        out.write(block.data() + random() % 1024, static_cast<std::streamsize>(size));
        total += size;
    }
    return total;
}

// Each copy run starts with an empty destination and no dirty pages left by the run before it.
void Empty(const fs::path& folder) {
    fs::remove_all(folder);
    fs::create_directories(folder);
    sync();
}

double RunFind(const fs::path& root, const std::string& pattern) {
    return Seconds([&] {
        const pid_t child = fork();
        if (child == 0) {
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            execlp("find", "find", root.c_str(), "-name", pattern.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        int status = 0;
        waitpid(child, &status, 0);
    });
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!drovan::bench::ParseBenchOptions(argc, argv,
                                          {{"--files", &options.files},
                                           {"--folders", &options.folders},
                                           {"--runs", &options.runs},
                                           {"--keep", &options.keep}})) {
        return 2;
    }

    std::string pattern = (fs::temp_directory_path() / "drovan-bench-XXXXXX").string();
    const fs::path work = options.keep.empty() ? fs::path(mkdtemp(pattern.data())) : fs::path(options.keep);
    const fs::path cache = work / "cache";
    const fs::path destination = work / "out";
    std::uint64_t bytes = 0;
    const double generated = Seconds([&] { bytes = Generate(cache, options); });
    std::printf("tree: %d files in %d folders, %.1f MB, generated in %.1f s\n", options.files,
                options.folders, bytes / 1e6, generated);

    drovan::PosixFileSystem files;
    const std::u16string cacheText = drovan::Utf8ToUtf16(cache.string());
    const std::u16string destinationText = drovan::Utf8ToUtf16(destination.string());

    // The floor's list: exactly the files the harvest copies, with the names it gives them.
    Empty(destination);
    const drovan::HarvestSummary reference =
        drovan::Harvest(files, {{cacheText, std::nullopt}}, destinationText, {u"flv"});
    std::vector<std::pair<fs::path, fs::path>> plan;
    for (const auto& entry : fs::recursive_directory_iterator(cache)) {
        if (entry.is_regular_file() && entry.path().extension() == ".flv") {
            plan.emplace_back(entry.path(), destination / ("copy" + std::to_string(plan.size()) + ".flv"));
        }
    }
    std::printf("matching files: %zu (copied %zu, failed %zu)\n", plan.size(), reference.copied,
                reference.failed);

    std::vector<double> harvest;
    std::vector<double> floor;
    std::vector<double> walk;
    std::vector<double> find;
    for (int run = 0; run < options.runs; ++run) {
        Empty(destination);
        harvest.push_back(Seconds([&] {
            drovan::Harvest(files, {{cacheText, std::nullopt}}, destinationText, {u"flv"});
        }));
        Empty(destination);
        floor.push_back(Seconds([&] {
            for (const auto& [source, target] : plan) {
                fs::copy_file(source, target);
            }
        }));
        walk.push_back(Seconds([&] {
            drovan::Harvest(files, {{cacheText, std::nullopt}}, destinationText, {u"nomatch"});
        }));
        find.push_back(RunFind(cache, "*nomatch"));
    }
    const double copyRatio = Median(harvest) / Median(floor);
    const double walkRatio = Median(walk) / Median(find);
    std::printf("copy: harvest %.1f ms, floor %.1f ms, ratio %.3f (target <= 1.15)\n", Median(harvest) * 1e3,
                Median(floor) * 1e3, copyRatio);
    std::printf("walk: harvest %.2f ms, find %.2f ms, ratio %.3f (target <= 1.5)\n", Median(walk) * 1e3,
                Median(find) * 1e3, walkRatio);
    if (options.keep.empty()) {
        fs::remove_all(work);
    }
    return 0;
}
