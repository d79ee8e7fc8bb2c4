#include <cstdint>
#include <cstdlib>
#include <string>

#include "extract/browser_caches.h"
#include "tests/support/memory_file_system.h"

namespace {

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

// The profiles.ini of a Firefox install, then the known places of a tree holding it and a cache its paths
// may point at, on Windows and in a Linux home. The folder search passes known places by, so it is cut short
// for speed.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::vector<drovan::FirefoxProfilePath> profiles = drovan::ParseProfilesIni(bytes);
    Require(profiles.size() <= 256);
    for (const drovan::FirefoxProfilePath& profile : profiles) {
        Require(!profile.path.empty() && profile.path.size() <= size);
    }

    drovan::tests::MemoryFileSystem fs;
    fs.AddFile(u"/u/Roaming/Mozilla/Firefox/profiles.ini", bytes);
    fs.AddFile(u"/u/Local/Mozilla/Firefox/Profiles/a/cache2/entries/0123456789ABCDEF0123456789ABCDEF01234567",
               "");
    const std::vector<drovan::CacheSource> sources =
        drovan::FindBrowserCaches(fs, {u"/u/Local", u"/u/Roaming", {}}, {1, 0, 8192});
    Require(sources.size() <= 1);
    for (const drovan::CacheSource& source : sources) {
        Require(source.folder == u"/u/Local/Mozilla/Firefox/Profiles/a/cache2");
    }

    // The same profiles.ini in a Linux home, which a copied home given to --from is searched as. Its paths
    // may lead to either cache, never elsewhere.
    fs.AddFile(u"/h/.config/mozilla/firefox/profiles.ini", bytes);
    fs.AddFile(u"/h/.cache/mozilla/firefox/a/cache2/entries/0123456789ABCDEF0123456789ABCDEF01234567", "");
    for (const auto& found : {drovan::FindHomeCaches(fs, u"/h", {1, 0, 8192}),
                              drovan::FindCachesBelow(fs, u"/h", {2, 16, 8192})}) {
        Require(found.size() <= 2);
        for (const drovan::CacheSource& source : found) {
            Require(source.folder == u"/h/.cache/mozilla/firefox/a/cache2" ||
                    source.folder == u"/u/Local/Mozilla/Firefox/Profiles/a/cache2");
        }
    }
    return 0;
}
