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

class CacheFinder {
  public:
    CacheFinder(FileSystem& fs, const AppDataRoots& roots, const CacheSearchLimits& limits,
                const HarvestProgress* progress)
        : m_fs(fs),
          m_separator(fs.Separator()),
          m_local(Root(roots.local)),
          m_roaming(Root(roots.roaming)),
          m_internetCache(Root(roots.internetCache)),
          m_limits(limits),
          m_progress(progress) {}

    std::vector<CacheSource> Find() {
        for (const std::u16string* root : Roots()) {
            for (const ChromiumPlace& place : kChromiumPlaces) {
                if (StopRequested(m_progress)) {
                    return std::move(m_sources);
                }
                const std::u16string folder = Below(*root, place.folder);
                m_examined.insert(folder);
                if (place.isProfile) {
                    AddProfile(folder, place.browser);
                } else {
                    AddProfilesOf(folder, place.browser);
                }
            }
        }
        if (!m_roaming.empty()) {
            for (const FirefoxPlace& place : kFirefoxPlaces) {
                const std::u16string relative = WithSeparator(place.folder, m_separator);
                m_examined.insert(JoinPath(m_roaming, relative, m_separator));
                AddFirefoxInstall(relative, place.browser);
            }
        }
        Search();
        return std::move(m_sources);
    }

  private:
    struct PendingFolder {
        std::u16string path;
        std::u16string relative;  // below its root, for the label
        int depth = 0;
        bool isRoaming = false;
    };

    std::u16string Root(const std::u16string& path) { return path.empty() ? path : m_fs.Normalise(path); }

    std::vector<const std::u16string*> Roots() const {
        std::vector<const std::u16string*> roots;
        if (!m_local.empty()) {
            roots.push_back(&m_local);
        }
        if (!m_roaming.empty() && (m_local.empty() || !m_fs.SamePath(m_local, m_roaming))) {
            roots.push_back(&m_roaming);
        }
        return roots;
    }

    std::u16string Below(std::u16string_view root, std::u16string_view relative) const {
        return JoinPath(root, WithSeparator(relative, m_separator), m_separator);
    }

    void AddIfCache(const std::u16string& folder, const std::u16string& browser) {
        for (const CacheSource& known : m_sources) {
            if (m_fs.SamePath(known.folder, folder)) {
                return;
            }
        }
        if (const std::optional<CacheKind> kind = RecogniseCacheFolder(m_fs, folder)) {
            m_sources.push_back({*kind, folder, browser});
        }
    }

    // Chromium keeps its HTTP cache in Cache\Cache_Data, older versions in Cache itself, and versions before
    // that their audio and video apart in Media Cache.
    void AddProfile(const std::u16string& profile, const std::u16string& browser) {
        const std::u16string cache = JoinPath(profile, u"Cache", m_separator);
        if (m_fs.IsDirectory(cache)) {
            AddIfCache(JoinPath(cache, u"Cache_Data", m_separator), browser);
            AddIfCache(cache, browser);
        }
        const std::u16string media = JoinPath(profile, u"Media Cache", m_separator);
        if (m_fs.IsDirectory(media)) {
            AddIfCache(media, browser);
        }
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

    // relative: the install's folder below the roaming root, whose twin below the local root holds the
    // caches.
    void AddFirefoxInstall(const std::u16string& relative, const std::u16string& browser) {
        const std::u16string roamingFolder = JoinPath(m_roaming, relative, m_separator);
        const std::u16string localFolder =
            m_local.empty() ? roamingFolder : JoinPath(m_local, relative, m_separator);
        const std::vector<FirefoxProfilePath> profiles =
            ParseProfilesIni(ReadProfilesIni(JoinPath(roamingFolder, u"profiles.ini", m_separator)));
        for (const FirefoxProfilePath& profile : profiles) {
            const std::u16string path = WithSeparator(profile.path, m_separator);
            const std::u16string label = Labelled(browser, LastComponent(path));
            if (profile.relative) {
                AddIfCache(JoinPath(JoinPath(localFolder, path, m_separator), u"cache2", m_separator), label);
                AddIfCache(JoinPath(JoinPath(roamingFolder, path, m_separator), u"cache2", m_separator),
                           label);
                continue;
            }
            AddIfCache(JoinPath(path, u"cache2", m_separator), label);
            // A profile kept below the roaming root has its cache in the local twin, as relative ones do.
            const std::size_t rootSize = m_roaming.size();
            if (!m_local.empty() && path.size() > rootSize + 1 && path[rootSize] == m_separator &&
                m_fs.SamePath(std::u16string_view(path).substr(0, rootSize), m_roaming)) {
                AddIfCache(JoinPath(m_local + path.substr(rootSize), u"cache2", m_separator), label);
            }
        }
    }

    bool IsSkipped(const std::u16string& name, const std::u16string& path) const {
        return IsOneOf(name, std::begin(kSkippedFolders), std::end(kSkippedFolders)) ||
               IsOtherChromiumCache(name) || m_examined.count(path) != 0 ||
               (!m_internetCache.empty() && m_fs.SamePath(path, m_internetCache));
    }

    // Breadth first over both roots, so that a cut by the folder cap leaves out only the deepest folders.
    void Search() {
        std::deque<PendingFolder> pending;
        for (const std::u16string* root : Roots()) {
            pending.push_back({*root, {}, 0, root == &m_roaming});
        }
        std::size_t listed = 0;
        while (!pending.empty() && listed < m_limits.folders && !StopRequested(m_progress)) {
            const PendingFolder folder = std::move(pending.front());
            pending.pop_front();
            const std::unique_ptr<DirectoryListing> listing = m_fs.OpenDirectory(folder.path);
            ++listed;
            if (!listing) {
                continue;
            }
            bool holdsCache = false;
            bool holdsProfilesIni = false;
            std::vector<PendingFolder> profileParents;
            DirectoryEntry entry;
            for (std::size_t seen = 0; seen < m_limits.entriesPerFolder && listing->Next(entry); ++seen) {
                if (!entry.isDirectory) {
                    holdsProfilesIni |=
                        folder.isRoaming && EqualsIgnoringAsciiCase(entry.name, u"profiles.ini");
                    continue;
                }
                if (entry.isReparsePoint || IsDots(entry.name)) {
                    continue;
                }
                if (EqualsIgnoringAsciiCase(entry.name, u"Cache") ||
                    EqualsIgnoringAsciiCase(entry.name, u"Media Cache")) {
                    holdsCache = true;
                    continue;
                }
                std::u16string path = JoinPath(folder.path, entry.name, m_separator);
                if (IsSkipped(entry.name, path)) {
                    continue;
                }
                const bool isProfileParent = EqualsIgnoringAsciiCase(entry.name, u"User Data") ||
                                             EqualsIgnoringAsciiCase(entry.name, u"EBWebView");
                if (isProfileParent) {
                    profileParents.push_back({std::move(path), folder.relative, 0, folder.isRoaming});
                } else if (folder.depth + 1 < m_limits.depth) {
                    std::u16string relative = folder.relative.empty()
                                                  ? entry.name
                                                  : JoinPath(folder.relative, entry.name, m_separator);
                    pending.push_back(
                        {std::move(path), std::move(relative), folder.depth + 1, folder.isRoaming});
                }
            }
            const std::u16string& label = folder.relative.empty() ? folder.path : folder.relative;
            if (holdsCache) {
                AddProfile(folder.path, label);
            }
            for (const PendingFolder& parent : profileParents) {
                AddProfilesOf(parent.path, parent.relative.empty() ? parent.path : parent.relative);
            }
            if (holdsProfilesIni && !folder.relative.empty()) {
                AddFirefoxInstall(folder.relative, folder.relative);
            }
        }
    }

    FileSystem& m_fs;
    const char16_t m_separator;
    const std::u16string m_local;
    const std::u16string m_roaming;
    const std::u16string m_internetCache;
    const CacheSearchLimits m_limits;
    const HarvestProgress* m_progress;
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
    return CacheFinder(fs, roots, limits, progress).Find();
}

}  // namespace drovan
