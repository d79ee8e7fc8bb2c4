#include "extract/browser_caches.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <iterator>
#include <memory>
#include <optional>
#include <set>

#include "extract/ascii.h"
#include "extract/formats/cache_folder.h"
#include "extract/name_rules.h"
#include "extract/progress.h"
#include "extract/utf8.h"

namespace drovan {
namespace {

// Where a Chromium browser keeps its profiles, '/'-separated below either root. A profile is any sub-folder
// holding a Cache folder; Opera's folder is itself the profile.
struct ChromiumPlace {
    const char16_t* folder;
    const char16_t* browser;
    bool isProfile = false;
};

const ChromiumPlace kChromiumPlaces[] = {
    {u"Google/Chrome/User Data", u"Google Chrome"},
    {u"Google/Chrome Beta/User Data", u"Google Chrome Beta"},
    {u"Google/Chrome Dev/User Data", u"Google Chrome Dev"},
    {u"Google/Chrome SxS/User Data", u"Google Chrome Canary"},
    {u"Chromium/User Data", u"Chromium"},
    {u"Microsoft/Edge/User Data", u"Microsoft Edge"},
    {u"Microsoft/Edge Beta/User Data", u"Microsoft Edge Beta"},
    {u"Microsoft/Edge Dev/User Data", u"Microsoft Edge Dev"},
    {u"Microsoft/Edge SxS/User Data", u"Microsoft Edge Canary"},
    {u"BraveSoftware/Brave-Browser/User Data", u"Brave"},
    {u"BraveSoftware/Brave-Browser-Beta/User Data", u"Brave Beta"},
    {u"BraveSoftware/Brave-Browser-Nightly/User Data", u"Brave Nightly"},
    {u"Vivaldi/User Data", u"Vivaldi"},
    {u"Opera Software/Opera Stable", u"Opera", true},
    {u"Opera Software/Opera GX Stable", u"Opera GX", true},
    {u"Opera Software/Opera Beta", u"Opera Beta", true},
    {u"Opera Software/Opera Developer", u"Opera Developer", true},
    {u"Yandex/YandexBrowser/User Data", u"Yandex"},
    {u"360se6/User Data", u"360安全浏览器"},
    {u"360se/User Data", u"360安全浏览器"},
    {u"360Chrome/Chrome/User Data", u"360极速浏览器"},
    {u"360ChromeX/Chrome/User Data", u"360极速浏览器X"},
    {u"Tencent/QQBrowser/User Data", u"QQ浏览器"},
    {u"SogouExplorer/Webkit", u"搜狗浏览器"},
    {u"2345Explorer/User Data", u"2345浏览器"},
    {u"CentBrowser/User Data", u"Cent Browser"},
    {u"Comodo/Dragon/User Data", u"Comodo Dragon"},
    {u"Epic Privacy Browser/User Data", u"Epic"},
    {u"Slimjet/User Data", u"Slimjet"},
    {u"Iridium/User Data", u"Iridium"},
};

// Firefox and its forks: the folder below the roaming root that holds profiles.ini, mirrored under the local
// root for the caches.
struct FirefoxPlace {
    const char16_t* folder;
    const char16_t* browser;
};

const FirefoxPlace kFirefoxPlaces[] = {
    {u"Mozilla/Firefox", u"Firefox"},
    {u"Mozilla/SeaMonkey", u"SeaMonkey"},
    {u"Waterfox", u"Waterfox"},
    {u"librewolf", u"LibreWolf"},
    {u"Moonchild Productions/Pale Moon", u"Pale Moon"},
    {u"Moonchild Productions/Basilisk", u"Basilisk"},
    {u"Floorp", u"Floorp"},
    {u"zen", u"Zen"},
    {u"Thunderbird", u"Thunderbird"},
};

// Chromium browsers on Linux: the folder below ~/.config that holds the profiles; Opera's is itself the
// profile. snap and flatpak name the sandboxed builds that keep their own home.
struct LinuxChromiumPlace {
    const char16_t* folder;
    const char16_t* browser;
    bool isProfile = false;
    const char16_t* snap = nullptr;
    const char16_t* flatpak = nullptr;
};

const LinuxChromiumPlace kLinuxChromiumPlaces[] = {
    {u"chromium", u"Chromium", false, u"chromium", u"org.chromium.Chromium"},
    {u"google-chrome", u"Google Chrome", false, nullptr, u"com.google.Chrome"},
    {u"google-chrome-beta", u"Google Chrome Beta"},
    {u"google-chrome-unstable", u"Google Chrome Dev"},
    {u"microsoft-edge", u"Microsoft Edge", false, nullptr, u"com.microsoft.Edge"},
    {u"microsoft-edge-beta", u"Microsoft Edge Beta"},
    {u"microsoft-edge-dev", u"Microsoft Edge Dev"},
    {u"BraveSoftware/Brave-Browser", u"Brave", false, nullptr, u"com.brave.Browser"},
    {u"BraveSoftware/Brave-Browser-Beta", u"Brave Beta"},
    {u"BraveSoftware/Brave-Browser-Nightly", u"Brave Nightly"},
    {u"vivaldi", u"Vivaldi", false, nullptr, u"com.vivaldi.Vivaldi"},
    {u"vivaldi-snapshot", u"Vivaldi Snapshot"},
    {u"opera", u"Opera", true, nullptr, u"com.opera.Opera"},
    {u"opera-beta", u"Opera Beta", true},
    {u"opera-developer", u"Opera Developer", true},
};

// Firefox and its forks on Linux, below the home folder: the folder holding profiles.ini, and the one whose
// twins of the profiles below it hold the caches. Firefox 153 keeps profiles.ini below ~/.config, older
// versions below ~/.mozilla; both keep the caches below ~/.cache.
struct LinuxFirefoxPlace {
    const char16_t* folder;
    const char16_t* caches;
    const char16_t* browser;
};

const LinuxFirefoxPlace kLinuxFirefoxPlaces[] = {
    {u".config/mozilla/firefox", u".cache/mozilla/firefox", u"Firefox"},
    {u".mozilla/firefox", u".cache/mozilla/firefox", u"Firefox"},
    {u"snap/firefox/common/.mozilla/firefox", u"snap/firefox/common/.cache/mozilla/firefox",
     u"Firefox (snap)"},
    {u".var/app/org.mozilla.firefox/config/mozilla/firefox",
     u".var/app/org.mozilla.firefox/cache/mozilla/firefox", u"Firefox (Flatpak)"},
    {u".var/app/org.mozilla.firefox/.mozilla/firefox", u".var/app/org.mozilla.firefox/cache/mozilla/firefox",
     u"Firefox (Flatpak)"},
    {u".librewolf", u".cache/librewolf", u"LibreWolf"},
    {u".waterfox", u".cache/waterfox", u"Waterfox"},
    {u".thunderbird", u".cache/thunderbird", u"Thunderbird"},
};

// In a folder a user names, these children make it a copied home folder.
const char16_t* const kHomeMarks[] = {u".cache", u".config", u".mozilla", u".var", u"snap"};

// Folders the search never enters: what the shell and packaged apps keep there is not ours to harvest, and
// both can be huge.
const char16_t* const kSkippedFolders[] = {u"Temp", u"Packages"};

// Chromium's other caches in its HTTP cache's formats, beside it in a profile or in User Data: compiled
// scripts, shaders, WebGPU pipelines, compression dictionaries and service workers' storage. They hold no
// file a user fetched, so the search enters none of them and takes nothing inside one as a cache.
const char16_t* const kOtherChromiumCaches[] = {
    u"Code Cache",        u"GPUCache",        u"ShaderCache", u"GrShaderCache",     u"GraphiteDawnCache",
    u"DawnGraphiteCache", u"DawnWebGPUCache", u"DawnCache",   u"Shared Dictionary", u"Service Worker",
};

constexpr std::size_t kMaxProfilesIniBytes = 256 * 1024;
constexpr std::size_t kMaxFirefoxProfiles = 256;

bool IsOneOf(std::u16string_view name, const char16_t* const* begin, const char16_t* const* end) {
    return std::any_of(begin, end,
                       [&](const char16_t* known) { return EqualsIgnoringAsciiCase(name, known); });
}

bool IsOtherChromiumCache(std::u16string_view name) {
    return IsOneOf(name, std::begin(kOtherChromiumCaches), std::end(kOtherChromiumCaches));
}

bool IsSeparator(char16_t c) {
    return c == u'/' || c == u'\\';
}

// profiles.ini may end its lines in CRLF.
std::string_view Trimmed(std::string_view text) {
    return TrimBlanks(text, " \t\r");
}

bool IsProfileSection(std::string_view name) {
    constexpr std::string_view kPrefix = "Profile";
    if (name.size() <= kPrefix.size() || !EqualsIgnoringAsciiCase(name.substr(0, kPrefix.size()), kPrefix)) {
        return false;
    }
    return std::all_of(name.begin() + kPrefix.size(), name.end(),
                       [](char c) { return c >= '0' && c <= '9'; });
}

// A path without IsRelative is relative unless it starts at a root or a drive.
bool LooksAbsolute(std::u16string_view path) {
    return (!path.empty() && IsSeparator(path[0])) || (path.size() >= 2 && path[1] == u':');
}

std::u16string WithSeparator(std::u16string_view path, char16_t separator) {
    std::u16string result(path);
    std::replace_if(result.begin(), result.end(), IsSeparator, separator);
    return result;
}

std::u16string LastComponent(std::u16string_view path) {
    while (!path.empty() && IsSeparator(path.back())) {
        path.remove_suffix(1);
    }
    const std::size_t cut = path.find_last_of(u"/\\");
    return std::u16string(cut == std::u16string_view::npos ? path : path.substr(cut + 1));
}

std::u16string Labelled(std::u16string_view browser, std::u16string_view profile) {
    std::u16string label(browser);
    label += u" / ";
    label += profile;
    return label;
}

// Where a Firefox install keeps profiles.ini, and where its profiles keep their caches: one below twinFrom at
// the same path below twinTo, any other in the profile itself.
struct FirefoxInstall {
    std::u16string folder;
    std::u16string browser;
    std::u16string twinFrom;
    std::u16string twinTo;  // empty: no twin
};

// A folder the search starts from; a profiles.ini below it is read only where findsProfilesIni says.
struct SearchRoot {
    std::u16string path;
    bool findsProfilesIni = false;
    std::u16string twinFrom{};
    std::u16string twinTo{};
};

class CacheFinder {
  public:
    CacheFinder(FileSystem& fs, const CacheSearchLimits& limits, const HarvestProgress* progress)
        : m_fs(fs), m_separator(fs.Separator()), m_limits(limits), m_progress(progress) {}

    // Known browsers' places below a user's application-data roots; with search, the roots are searched
    // after them.
    void AddAppData(const AppDataRoots& appData, bool search) {
        const std::u16string local = Root(appData.local);
        const std::u16string roaming = Root(appData.roaming);
        if (!appData.internetCache.empty()) {
            m_internetCache = Root(appData.internetCache);
        }
        std::vector<SearchRoot> roots;
        if (!local.empty()) {
            roots.push_back({local});
        }
        if (!roaming.empty() && (local.empty() || !m_fs.SamePath(local, roaming))) {
            roots.push_back({roaming, true, roaming, local});
        }
        for (const SearchRoot& root : roots) {
            for (const ChromiumPlace& place : kChromiumPlaces) {
                if (StopRequested(m_progress)) {
                    return;
                }
                AddPlace(Below(root.path, place.folder), place.browser, place.isProfile);
            }
        }
        if (!roaming.empty()) {
            for (const FirefoxPlace& place : kFirefoxPlaces) {
                const std::u16string folder = Below(roaming, place.folder);
                m_examined.insert(folder);
                AddFirefoxInstall({folder, place.browser, roaming, local});
            }
        }
        if (search) {
            m_roots.insert(m_roots.end(), roots.begin(), roots.end());
        }
    }

    // Known browsers' places below a Linux home folder, their snap and Flatpak homes among them; with
    // search, ~/.config and ~/.cache are searched after them.
    void AddHome(const std::u16string& path, bool search) {
        const std::u16string home = Root(path);
        if (home.empty()) {
            return;
        }
        const std::u16string config = Below(home, u".config");
        const std::u16string cache = Below(home, u".cache");
        for (const LinuxChromiumPlace& place : kLinuxChromiumPlaces) {
            if (StopRequested(m_progress)) {
                return;
            }
            const std::u16string browser = place.browser;
            AddLinuxChromium(cache, config, place, browser);
            if (place.snap != nullptr) {
                const std::u16string snap = Below(home, u"snap/" + std::u16string(place.snap) + u"/common");
                AddLinuxChromium(JoinPath(snap, u".cache", m_separator), {}, place, browser + u" (snap)");
            }
            if (place.flatpak != nullptr) {
                const std::u16string app = Below(home, u".var/app/" + std::u16string(place.flatpak));
                AddLinuxChromium(JoinPath(app, u"cache", m_separator), JoinPath(app, u"config", m_separator),
                                 place, browser + u" (Flatpak)");
            }
        }
        for (const LinuxFirefoxPlace& place : kLinuxFirefoxPlaces) {
            const std::u16string folder = Below(home, place.folder);
            m_examined.insert(folder);
            AddFirefoxInstall({folder, place.browser, folder, Below(home, place.caches)});
        }
        if (search) {
            m_roots.push_back({config});
            m_roots.push_back({cache});
        }
    }

    // A folder searched for caches of every kind; a profiles.ini in it or below names profiles beside it.
    void AddFolder(const std::u16string& folder) {
        if (std::u16string root = Root(folder); !root.empty()) {
            m_roots.push_back({std::move(root), true});
        }
    }

    // Breadth first over every root, so that a cut by the folder cap leaves out only the deepest folders.
    // anyCache: the roots are folders a user named, where every cache counts, not only the browsers'.
    void Search(bool anyCache) {
        m_anyCache = anyCache;
        std::deque<PendingFolder> pending;
        for (std::size_t i = 0; i < m_roots.size(); ++i) {
            pending.push_back({m_roots[i].path, {}, 0, i});
        }
        std::size_t listed = 0;
        while (!pending.empty() && listed < m_limits.folders && !StopRequested(m_progress)) {
            const PendingFolder folder = std::move(pending.front());
            pending.pop_front();
            ++listed;
            SearchFolder(folder, pending);
        }
    }

    std::vector<CacheSource> Take() { return std::move(m_sources); }

  private:
    struct PendingFolder {
        std::u16string path;
        std::u16string relative;  // below its root, for the label
        int depth = 0;
        std::size_t root = 0;
    };

    // What one listing shows of a folder.
    struct Listing {
        std::vector<std::u16string> caches;          // names of Cache and Media Cache: a Chromium profile
        std::vector<std::u16string> profileParents;  // User Data and EBWebView
        std::vector<std::u16string> others;          // names of the other folders not passed by
        bool profilesIni = false;
        std::u16string local;  // a copied AppData's Local and Roaming, as named
        std::u16string roaming;
        bool home = false;
    };

    std::u16string Root(const std::u16string& path) { return path.empty() ? path : m_fs.Normalise(path); }

    std::u16string Below(std::u16string_view root, std::u16string_view relative) const {
        return JoinPath(root, WithSeparator(relative, m_separator), m_separator);
    }

    // Whether folder is a cache, found now or before.
    bool AddIfCache(const std::u16string& folder, const std::u16string& browser) {
        for (const CacheSource& known : m_sources) {
            if (m_fs.SamePath(known.folder, folder)) {
                return true;
            }
        }
        if (const std::optional<CacheKind> kind = RecogniseCacheFolder(m_fs, folder)) {
            m_sources.push_back({*kind, folder, browser});
            return true;
        }
        return false;
    }

    // Chromium keeps its HTTP cache in Cache\Cache_Data, older versions in Cache itself, and versions before
    // that their audio and video apart in Media Cache. Whether the profile holds a cache.
    bool AddProfile(const std::u16string& profile, const std::u16string& browser) {
        bool found = false;
        const std::u16string cache = JoinPath(profile, u"Cache", m_separator);
        if (m_fs.IsDirectory(cache)) {
            found |= AddIfCache(JoinPath(cache, u"Cache_Data", m_separator), browser);
            found |= AddIfCache(cache, browser);
        }
        const std::u16string media = JoinPath(profile, u"Media Cache", m_separator);
        if (m_fs.IsDirectory(media)) {
            found |= AddIfCache(media, browser);
        }
        return found;
    }

    void AddProfilesOf(const std::u16string& parent, const std::u16string& browser) {
        const std::unique_ptr<DirectoryListing> listing = m_fs.OpenDirectory(parent);
        if (!listing) {
            return;
        }
        std::vector<std::u16string> profiles;
        DirectoryEntry entry;
        while (!StopRequested(m_progress) && listing->Next(entry) &&
               profiles.size() < m_limits.entriesPerFolder) {
            if (entry.isDirectory && !entry.isReparsePoint && !IsDots(entry.name) &&
                !IsOtherChromiumCache(entry.name)) {
                profiles.push_back(entry.name);
            }
        }
        std::sort(profiles.begin(), profiles.end());
        for (const std::u16string& profile : profiles) {
            AddProfile(JoinPath(parent, profile, m_separator), Labelled(browser, profile));
        }
    }

    // A known place, passed by when the search meets it.
    void AddPlace(const std::u16string& folder, const std::u16string& browser, bool isProfile) {
        m_examined.insert(folder);
        if (isProfile) {
            AddProfile(folder, browser);
        } else {
            AddProfilesOf(folder, browser);
        }
    }

    // Chromium moves the HTTP cache of a profile kept below ~/.config to the same path below ~/.cache; one
    // started with its profiles elsewhere keeps it in the profile.
    void AddLinuxChromium(const std::u16string& cache, const std::u16string& config,
                          const LinuxChromiumPlace& place, const std::u16string& browser) {
        for (const std::u16string* root : {&cache, &config}) {
            if (!root->empty()) {
                AddPlace(Below(*root, place.folder), browser, place.isProfile);
            }
        }
    }

    std::string ReadProfilesIni(const std::u16string& path) {
        std::string bytes;
        const std::unique_ptr<ReadableFile> file = m_fs.OpenForReading(path);
        if (!file) {
            return bytes;
        }
        bytes.resize(static_cast<std::size_t>(
            std::min<std::uint64_t>(file->Size().value_or(kMaxProfilesIniBytes), kMaxProfilesIniBytes)));
        std::size_t size = 0;
        std::size_t got = 0;
        while (size < bytes.size() && file->ReadAt(size, bytes.data() + size, bytes.size() - size, got) &&
               got > 0) {
            size += got;
        }
        bytes.resize(size);
        return bytes;
    }

    std::optional<std::u16string> TwinOf(const std::u16string& profile, const FirefoxInstall& install) {
        const std::size_t size = install.twinFrom.size();
        if (install.twinTo.empty() || profile.size() <= size + 1 || profile[size] != m_separator ||
            !m_fs.SamePath(std::u16string_view(profile).substr(0, size), install.twinFrom)) {
            return std::nullopt;
        }
        return install.twinTo + profile.substr(size);
    }

    void AddFirefoxInstall(const FirefoxInstall& install) {
        const std::vector<FirefoxProfilePath> profiles =
            ParseProfilesIni(ReadProfilesIni(JoinPath(install.folder, u"profiles.ini", m_separator)));
        for (const FirefoxProfilePath& profile : profiles) {
            std::u16string path = WithSeparator(profile.path, m_separator);
            const std::u16string label = Labelled(install.browser, LastComponent(path));
            if (profile.relative) {
                path = JoinPath(install.folder, path, m_separator);
            }
            if (const std::optional<std::u16string> twin = TwinOf(path, install)) {
                AddIfCache(JoinPath(*twin, u"cache2", m_separator), label);
            }
            AddIfCache(JoinPath(path, u"cache2", m_separator), label);
        }
    }

    bool IsSkipped(const std::u16string& name, const std::u16string& path) const {
        return IsOneOf(name, std::begin(kSkippedFolders), std::end(kSkippedFolders)) ||
               IsOtherChromiumCache(name) || m_examined.count(path) != 0 ||
               (!m_internetCache.empty() && m_fs.SamePath(path, m_internetCache));
    }

    std::u16string RelativeOf(const PendingFolder& folder, const std::u16string& name) const {
        return folder.relative.empty() ? name : JoinPath(folder.relative, name, m_separator);
    }

    void Descend(const PendingFolder& folder, const std::u16string& name, std::u16string path,
                 std::deque<PendingFolder>& pending) const {
        if (folder.depth + 1 < m_limits.depth) {
            pending.push_back({std::move(path), RelativeOf(folder, name), folder.depth + 1, folder.root});
        }
    }

    // What a sub-folder's name makes it, while the listing is open.
    void Note(const PendingFolder& folder, const std::u16string& name, Listing& listing) {
        if (EqualsIgnoringAsciiCase(name, u"Cache") || EqualsIgnoringAsciiCase(name, u"Media Cache")) {
            listing.caches.push_back(name);
            return;
        }
        if (m_anyCache) {
            listing.local = EqualsIgnoringAsciiCase(name, u"Local") ? name : listing.local;
            listing.roaming = EqualsIgnoringAsciiCase(name, u"Roaming") ? name : listing.roaming;
            listing.home |= IsOneOf(name, std::begin(kHomeMarks), std::end(kHomeMarks));
        }
        std::u16string path = JoinPath(folder.path, name, m_separator);
        if (IsSkipped(name, path)) {
            return;
        }
        if (EqualsIgnoringAsciiCase(name, u"User Data") || EqualsIgnoringAsciiCase(name, u"EBWebView")) {
            listing.profileParents.push_back(std::move(path));
        } else {
            listing.others.push_back(name);
        }
    }

    // What the listing showed is acted on once it is closed.
    void Settle(const PendingFolder& folder, Listing& listing, std::deque<PendingFolder>& pending) {
        const std::u16string& label = folder.relative.empty() ? folder.path : folder.relative;
        if (!listing.caches.empty() && !AddProfile(folder.path, label) && m_anyCache) {
            // No Chromium profile: a named folder's "cache" may hold anything, a Flatpak's caches among them.
            listing.others.insert(listing.others.end(), listing.caches.begin(), listing.caches.end());
        }
        // In a named folder any cache counts, whatever its name: a copy may have been renamed.
        for (const std::u16string& name : listing.others) {
            std::u16string path = JoinPath(folder.path, name, m_separator);
            if (!m_anyCache || !AddIfCache(path, RelativeOf(folder, name))) {
                Descend(folder, name, std::move(path), pending);
            }
        }
        for (const std::u16string& parent : listing.profileParents) {
            AddProfilesOf(parent, folder.relative.empty() ? parent : folder.relative);
        }
        const SearchRoot& root = m_roots[folder.root];
        if (listing.profilesIni && root.findsProfilesIni) {
            AddFirefoxInstall({folder.path, label, root.twinFrom, root.twinTo});
        }
        if (!listing.local.empty() && !listing.roaming.empty()) {
            AddAppData({JoinPath(folder.path, listing.local, m_separator),
                        JoinPath(folder.path, listing.roaming, m_separator),
                        {}},
                       false);
        }
        if (listing.home) {
            AddHome(folder.path, false);
        }
    }

    void SearchFolder(const PendingFolder& folder, std::deque<PendingFolder>& pending) {
        const std::unique_ptr<DirectoryListing> listing = m_fs.OpenDirectory(folder.path);
        if (!listing) {
            return;
        }
        Listing seen;
        DirectoryEntry entry;
        for (std::size_t count = 0; count < m_limits.entriesPerFolder && listing->Next(entry); ++count) {
            if (!entry.isDirectory) {
                seen.profilesIni |= EqualsIgnoringAsciiCase(entry.name, u"profiles.ini");
            } else if (!entry.isReparsePoint && !IsDots(entry.name)) {
                Note(folder, entry.name, seen);
            }
        }
        Settle(folder, seen, pending);
    }

    FileSystem& m_fs;
    const char16_t m_separator;
    const CacheSearchLimits m_limits;
    const HarvestProgress* m_progress;
    bool m_anyCache = false;
    std::u16string m_internetCache;
    std::vector<SearchRoot> m_roots;
    std::vector<CacheSource> m_sources;
    // Folders already handled as a known place, so the search passes them by.
    std::set<std::u16string> m_examined;
};

}  // namespace

std::vector<FirefoxProfilePath> ParseProfilesIni(std::string_view bytes) {
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    if (bytes.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
        bytes.remove_prefix(kByteOrderMark.size());
    }
    std::vector<FirefoxProfilePath> profiles;
    bool inProfile = false;
    std::u16string path;
    std::string_view isRelative;  // "1" or "0"; anything else leaves it to the path
    const auto finishSection = [&] {
        if (inProfile && !path.empty() && profiles.size() < kMaxFirefoxProfiles) {
            profiles.push_back({path, isRelative == "1" || (isRelative != "0" && !LooksAbsolute(path))});
        }
        inProfile = false;
        path.clear();
        isRelative = {};
    };
    while (!bytes.empty()) {
        const std::size_t end = bytes.find('\n');
        const std::string_view line = Trimmed(bytes.substr(0, end));
        bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 1);
        if (line.empty() || line.front() == ';' || line.front() == '#') {
            continue;
        }
        if (line.front() == '[') {
            const std::size_t close = line.find(']');
            if (close != std::string_view::npos) {
                finishSection();
                inProfile = IsProfileSection(Trimmed(line.substr(1, close - 1)));
            }
            continue;
        }
        const std::size_t equals = line.find('=');
        if (!inProfile || equals == std::string_view::npos) {
            continue;
        }
        const std::string_view key = Trimmed(line.substr(0, equals));
        const std::string_view value = Trimmed(line.substr(equals + 1));
        if (EqualsIgnoringAsciiCase(key, "Path")) {
            path = Utf8ToUtf16(value);
        } else if (EqualsIgnoringAsciiCase(key, "IsRelative")) {
            isRelative = value;
        }
    }
    finishSection();
    return profiles;
}

std::vector<CacheSource> FindBrowserCaches(FileSystem& fs, const AppDataRoots& roots,
                                           const CacheSearchLimits& limits, const HarvestProgress* progress) {
    CacheFinder finder(fs, limits, progress);
    finder.AddAppData(roots, true);
    finder.Search(false);
    return finder.Take();
}

std::vector<CacheSource> FindHomeCaches(FileSystem& fs, std::u16string_view home,
                                        const CacheSearchLimits& limits, const HarvestProgress* progress) {
    CacheFinder finder(fs, limits, progress);
    finder.AddHome(std::u16string(home), true);
    finder.Search(false);
    return finder.Take();
}

std::vector<CacheSource> FindCachesBelow(FileSystem& fs, std::u16string_view folder,
                                         const CacheSearchLimits& limits, const HarvestProgress* progress) {
    CacheFinder finder(fs, limits, progress);
    finder.AddFolder(std::u16string(folder));
    finder.Search(true);
    std::vector<CacheSource> sources = finder.Take();
    std::sort(sources.begin(), sources.end(),
              [](const CacheSource& a, const CacheSource& b) { return a.folder < b.folder; });
    return sources;
}

}  // namespace drovan
