// Measures the search for browser caches against a plain walk of the same app-data tree, both through the
// POSIX file system with a warm page cache. The tree is shaped like a used Windows profile: most files lie in
// browser profiles, installed programs, packaged apps and Temp, the rest in a few hundred small app folders;
// six caches (Chrome twice, Edge, a WebView2 app, an Electron app, Firefox) are hidden in it.
// Usage: browser_caches_bench [--files N] [--runs N] [--keep DIR]
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_options.h"
#include "bench/bench_timing.h"
#include "extract/browser_caches.h"
#include "extract/file_system_posix.h"
#include "extract/name_rules.h"
#include "extract/utf8.h"

namespace {

using drovan::bench::Median;
using drovan::bench::Seconds;

namespace fs = std::filesystem;

struct Options {
    int files = 200000;
    int runs = 7;
    std::string keep;
};

class TreeMaker {
  public:
    explicit TreeMaker(const fs::path& root) : m_root(root), m_random(20260315) {}

    int made() const { return m_made; }

    void File(const fs::path& path, const std::string& bytes = {}) {
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0 || write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
            std::perror(path.c_str());
            std::exit(1);
        }
        close(fd);
        ++m_made;
    }

    fs::path Folder(const std::string& relative) {
        const fs::path path = m_root / relative;
        fs::create_directories(path);
        return path;
    }

    // files spread evenly over a random tree of about files / 12 folders no deeper than depth below base.
    void Spread(const std::string& base, int files, int depth) {
        struct Node {
            fs::path path;
            int depth;
        };
        std::vector<Node> nodes{{Folder(base), 0}};
        const int folders = std::max(1, files / 12);
        for (int i = 1; i < folders; ++i) {
            Node parent = nodes[m_random() % nodes.size()];
            while (parent.depth >= depth) {
                parent = nodes[m_random() % nodes.size()];
            }
            const fs::path path = parent.path / ("d" + std::to_string(i));
            fs::create_directory(path);
            nodes.push_back({path, parent.depth + 1});
        }
        for (int i = 0; i < files; ++i) {
            File(nodes[m_random() % nodes.size()].path / ("f" + std::to_string(i) + ".dat"));
        }
    }

    void Blockfile(const std::string& relative, int files) {
        const fs::path folder = Folder(relative);
        File(folder / "index", std::string("\xC3\xCA\x03\xC1", 4) + std::string(364, '\0'));
        for (int i = 0; i < 4; ++i) {
            File(folder / ("data_" + std::to_string(i)), std::string("\xC3\xCA\x04\xC1", 4));
        }
        for (int i = 5; i < files; ++i) {
            char name[16];
            std::snprintf(name, sizeof name, "f_%06x", i);
            File(folder / name);
        }
    }

    void Simple(const std::string& relative, int files) {
        const fs::path folder = Folder(relative);
        File(folder / "index", std::string("\x30\x5C\x72\xA7\x1B\x6D\xFB\xFC", 8) + std::string(16, '\0'));
        fs::create_directories(folder / "index-dir");
        File(folder / "index-dir" / "the-real-index");
        for (int i = 2; i < files; ++i) {
            char name[24];
            std::snprintf(name, sizeof name, "%016llx_0", static_cast<unsigned long long>(m_random()));
            File(folder / name);
        }
    }

    void Cache2(const std::string& relative, int files) {
        const fs::path folder = Folder(relative + "/entries");
        Folder(relative + "/doomed");
        for (int i = 0; i < files; ++i) {
            char name[48];
            std::snprintf(name, sizeof name, "%016llX%016llX%08X",
                          static_cast<unsigned long long>(m_random()),
                          static_cast<unsigned long long>(m_random()), static_cast<unsigned>(m_random()));
            File(folder / name);
        }
    }

  private:
    fs::path m_root;
    std::mt19937_64 m_random;
    int m_made = 0;
};

void Generate(const fs::path& root, int total) {
    TreeMaker tree(root);
    const auto share = [total](double part) { return static_cast<int>(total * part); };
    const std::string chrome = "Local/Google/Chrome/User Data/";
    const std::string edge = "Local/Microsoft/Edge/User Data/";

    tree.Blockfile(chrome + "Default/Cache/Cache_Data", share(0.015));
    tree.Simple(chrome + "Profile 2/Cache/Cache_Data", share(0.005));
    tree.Simple(edge + "Default/Cache/Cache_Data", share(0.01));
    tree.Simple("Local/Contoso/Notes/EBWebView/Default/Cache/Cache_Data", share(0.0015));
    tree.Simple("Roaming/Chatter/Cache/Cache_Data", share(0.0025));
    tree.File(tree.Folder("Roaming/Mozilla/Firefox") / "profiles.ini",
              "[Profile0]\r\nName=default-release\r\nIsRelative=1\r\nPath=Profiles/k3x9.default-release\r\n");
    tree.Cache2("Local/Mozilla/Firefox/Profiles/k3x9.default-release/cache2", share(0.01));

    // What else browsers keep in their profiles: code caches, service workers, extensions, databases.
    for (const char* part : {"Code Cache", "Service Worker", "Extensions", "IndexedDB", "GPUCache"}) {
        tree.Spread(chrome + "Default/" + part, share(0.025), 5);
        tree.Spread(chrome + "Profile 2/" + part, share(0.006), 5);
        tree.Spread(edge + "Default/" + part, share(0.012), 5);
    }
    tree.Spread("Local/Contoso/Notes/EBWebView/Default/Service Worker", share(0.003), 4);
    tree.Spread("Roaming/Chatter/Code Cache", share(0.004), 3);
    tree.Spread("Roaming/Mozilla/Firefox/Profiles/k3x9.default-release", share(0.02), 4);
    tree.Spread("Local/Temp", share(0.08), 2);
    tree.Spread("Local/Microsoft/Windows/INetCache/IE", share(0.03), 1);
    for (int i = 0; i < 60; ++i) {
        tree.Spread("Local/Packages/Vendor.App" + std::to_string(i) + "_8wekyb3d8bbwe", share(0.003), 7);
    }
    for (int i = 0; i < 12; ++i) {
        tree.Spread("Local/Programs/Program" + std::to_string(i), share(0.0125), 10);
    }
    // A few hundred small app folders, some below a vendor folder, share the rest.
    const int apps = 330;
    const int rest = total - tree.made();
    for (int i = 0; i < apps; ++i) {
        const std::string under = i % 4 == 3 ? "Roaming/" : "Local/";
        const std::string vendor = i % 2 == 0 ? "Vendor" + std::to_string(i / 6) + "/" : "";
        tree.Spread(under + vendor + "App" + std::to_string(i), rest / apps + (i < rest % apps ? 1 : 0), 6);
    }
}

struct WalkCount {
    std::size_t folders = 0;
    std::size_t files = 0;
};

// Every folder below the roots listed once, links not followed.
WalkCount Walk(drovan::FileSystem& files, const drovan::AppDataRoots& roots) {
    WalkCount count;
    std::vector<std::u16string> pending{roots.local, roots.roaming};
    drovan::DirectoryEntry entry;
    while (!pending.empty()) {
        const std::u16string folder = std::move(pending.back());
        pending.pop_back();
        const std::unique_ptr<drovan::DirectoryListing> listing = files.OpenDirectory(folder);
        ++count.folders;
        while (listing && listing->Next(entry)) {
            if (!entry.isDirectory) {
                ++count.files;
            } else if (!entry.isReparsePoint && !drovan::IsDots(entry.name)) {
                pending.push_back(drovan::JoinPath(folder, entry.name, u'/'));
            }
        }
    }
    return count;
}

// Counts the folders a search lists, outside the timed runs.
class CountingFileSystem final : public drovan::ForwardingFileSystem {
  public:
    explicit CountingFileSystem(drovan::FileSystem& inner) : ForwardingFileSystem(inner) {}
    std::size_t listed() const { return m_listed; }
    std::unique_ptr<drovan::DirectoryListing> OpenDirectory(std::u16string_view folder) override {
        ++m_listed;
        return ForwardingFileSystem::OpenDirectory(folder);
    }

  private:
    std::size_t m_listed = 0;
};

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!drovan::bench::ParseBenchOptions(
            argc, argv,
            {{"--files", &options.files}, {"--runs", &options.runs}, {"--keep", &options.keep}})) {
        return 2;
    }
    if (options.files < 10000) {
        std::fprintf(stderr, "--files takes at least 10000\n");
        return 2;
    }

    std::string pattern = (fs::temp_directory_path() / "drovan-caches-bench-XXXXXX").string();
    const fs::path work = options.keep.empty() ? fs::path(mkdtemp(pattern.data())) : fs::path(options.keep);
    const fs::path made = work / ("made-" + std::to_string(options.files));
    if (!fs::exists(made)) {
        fs::remove_all(work / "Local");
        fs::remove_all(work / "Roaming");
        const double seconds = Seconds([&] { Generate(work, options.files); });
        std::printf("tree generated in %.1f s\n", seconds);
        close(open(made.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    }

    drovan::PosixFileSystem files;
    const std::u16string root = drovan::Utf8ToUtf16(work.string());
    const drovan::AppDataRoots roots{root + u"/Local", root + u"/Roaming",
                                     root + u"/Local/Microsoft/Windows/INetCache"};

    CountingFileSystem counting(files);
    const std::vector<drovan::CacheSource> sources = drovan::FindBrowserCaches(counting, roots);
    const WalkCount whole = Walk(files, roots);
    std::printf("tree: %zu files in %zu folders\n", whole.files, whole.folders);
    for (const drovan::CacheSource& source : sources) {
        std::printf("  found %s: %s\n", drovan::Utf16ToUtf8(source.browser).c_str(),
                    drovan::Utf16ToUtf8(source.folder).c_str());
    }
    std::printf("search lists %zu folders, the walk %zu\n", counting.listed(), whole.folders);

    std::vector<double> search;
    std::vector<double> walk;
    for (int run = 0; run < options.runs; ++run) {
        search.push_back(Seconds([&] { drovan::FindBrowserCaches(files, roots); }));
        walk.push_back(Seconds([&] { Walk(files, roots); }));
    }
    const double ratio = Median(search) / Median(walk);
    std::printf("search %.2f ms, walk %.2f ms, ratio %.3f (target <= 0.25)\n", Median(search) * 1e3,
                Median(walk) * 1e3, ratio);
    if (options.keep.empty()) {
        fs::remove_all(work);
    }
    return sources.size() == 6 ? 0 : 1;
}
