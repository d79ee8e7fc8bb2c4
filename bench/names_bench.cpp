// Harvests files that all have one name against as many files with names of their own, in one run:
// placing under a name many files already took must cost about what placing under a free name costs.
// Usage: names_bench [--files N] [--size BYTES] [--runs N]
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_options.h"
#include "bench/bench_timing.h"
#include "extract/file_system_posix.h"
#include "extract/harvest_writer.h"
#include "extract/placement.h"
#include "extract/utf8.h"

namespace {

using drovan::bench::Median;
using drovan::bench::Seconds;

namespace fs = std::filesystem;

constexpr double kTargetRatio = 1.5;

struct Options {
    int files = 3000;
    std::uint64_t size = 16384;
    int runs = 7;
};

// Files of one size and different bytes, as a cache keeps them: under names of their own.
std::vector<fs::path> MakeSources(const fs::path& folder, const Options& options) {
    fs::create_directories(folder);
    std::mt19937_64 random(20261207);
    std::string bytes(options.size, '\0');
    std::vector<fs::path> sources;
    for (int i = 0; i < options.files; ++i) {
        for (char& c : bytes) {
            c = static_cast<char>(random());
        }
        sources.push_back(folder / ("f_" + std::to_string(100000 + i)));
        std::ofstream(sources.back(), std::ios::binary) << bytes;
    }
    return sources;
}

// Seconds to harvest every source into a new destination, each under the name made from its number. The
// destinations stay until the end: on ext4 new files cost more just after many were removed.
double Harvest(drovan::PosixFileSystem& files, const std::vector<fs::path>& sources,
               const fs::path& destination, std::string (*name)(std::size_t),
               drovan::HarvestSummary& summary) {
    fs::create_directories(destination);
    sync();
    const auto list = [&](const drovan::ItemSink& sink, drovan::HarvestSummary& listed) {
        for (std::size_t i = 0; i < sources.size(); ++i) {
            ++listed.matched;
            const std::u16string path = drovan::Utf8ToUtf16(sources[i].string());
            if (!sink({drovan::Utf8ToUtf16(name(i)), path, std::make_unique<drovan::FileContent>(files, path),
                       std::nullopt, nullptr})) {
                return false;
            }
        }
        return true;
    };
    const std::u16string target = drovan::Utf8ToUtf16(destination.string());
    drovan::NoGrouping grouping;
    return Seconds([&] { summary = drovan::WriteHarvest(files, list, grouping, target, nullptr); });
}

std::string OneName(std::size_t) {
    return "hqdefault.jpg";
}

std::string OwnName(std::size_t number) {
    return "hqdefault-" + std::to_string(number) + ".jpg";
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!drovan::bench::ParseBenchOptions(
            argc, argv,
            {{"--files", &options.files}, {"--size", &options.size}, {"--runs", &options.runs}})) {
        return 2;
    }

    std::string pattern = (fs::temp_directory_path() / "drovan-names-XXXXXX").string();
    const fs::path work = mkdtemp(pattern.data());
    const std::vector<fs::path> sources = MakeSources(work / "cache", options);
    drovan::PosixFileSystem files;
    std::vector<double> one;
    std::vector<double> own;
    std::vector<double> ratios;
    drovan::HarvestSummary oneSummary;
    drovan::HarvestSummary ownSummary;
    // Each pair runs back to back, in turns first, so that a load on the machine weighs on both alike.
    for (int run = 0; run < options.runs; ++run) {
        oneSummary = {};
        ownSummary = {};
        const std::string number = std::to_string(run);
        const auto harvestOne = [&] {
            one.push_back(Harvest(files, sources, work / ("one" + number), OneName, oneSummary));
        };
        const auto harvestOwn = [&] {
            own.push_back(Harvest(files, sources, work / ("own" + number), OwnName, ownSummary));
        };
        if (run % 2 == 0) {
            harvestOne();
            harvestOwn();
        } else {
            harvestOwn();
            harvestOne();
        }
        ratios.push_back(one.back() / own.back());
    }
    fs::remove_all(work);

    const double ratio = Median(ratios);
    std::printf("%d files of %zu bytes, medians of %d runs\n", options.files, options.size, options.runs);
    std::printf("one name:   %.1f ms (copied %zu, failed %zu)\n", Median(one) * 1e3, oneSummary.copied,
                oneSummary.failed);
    std::printf("own names:  %.1f ms (copied %zu, failed %zu)\n", Median(own) * 1e3, ownSummary.copied,
                ownSummary.failed);
    std::printf("ratio of each run, one name to own names:");
    for (const double each : ratios) {
        std::printf(" %.2f", each);
    }
    const bool whole = oneSummary.copied == sources.size() && ownSummary.copied == sources.size();
    const bool pass = whole && ratio <= kTargetRatio;
    std::printf("\nmedian ratio %.3f (target <= %.1f): %s\n", ratio, kTargetRatio, pass ? "PASS" : "FAIL");
    return pass ? 0 : 1;
}
