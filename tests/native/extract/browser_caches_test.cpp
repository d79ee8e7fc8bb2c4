#include "extract/browser_caches.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <tuple>
#include <utility>

#include "tests/support/memory_file_system.h"
#include "extract/utf8.h"

namespace drovan::tests {
namespace {

const std::string kBlockfileIndex = std::string("\xC3\xCA\x03\xC1", 4) + std::string(364, '\0');
const std::string kSimpleIndex = std::string("\x30\x5C\x72\xA7\x1B\x6D\xFB\xFC", 8) + std::string(16, '\0');

void AddBlockfile(MemoryFileSystem& fs, const std::u16string& folder) {
    fs.AddFile(folder + u"/index", kBlockfileIndex);
    fs.AddFile(folder + u"/data_0", std::string("\xC3\xCA\x04\xC1", 4));
}

void AddSimple(MemoryFileSystem& fs, const std::u16string& folder) {
    fs.AddFile(folder + u"/index", kSimpleIndex);
    fs.AddFile(folder + u"/0123456789abcdef_0", "entry");
}

void AddSql(MemoryFileSystem& fs, const std::u16string& folder) {
    fs.AddFile(folder + u"/index", "SQLCacheTruncate2");
    fs.AddFile(folder + u"/sqldb0", "SQLite format 3");
    fs.AddFile(folder + u"/sqldb1", "SQLite format 3");
}

void AddCache2(MemoryFileSystem& fs, const std::u16string& folder) {
    fs.AddFile(folder + u"/entries/0123456789ABCDEF0123456789ABCDEF01234567", "entry");
}

void RecordListings(MemoryFileSystem& fs, std::vector<std::u16string>& listed) {
    fs.onList = [&listed](const std::u16string& folder) { listed.push_back(folder); };
}

using Found = std::tuple<std::string, CacheKind, std::string>;  // folder, kind, browser

std::vector<Found> Sorted(const std::vector<CacheSource>& sources) {
    std::vector<Found> found;
    for (const CacheSource& source : sources) {
        found.emplace_back(Utf16ToUtf8(source.folder), source.kind, Utf16ToUtf8(source.browser));
    }
    std::sort(found.begin(), found.end());
    return found;
}

const AppDataRoots kRoots{u"/u/Local", u"/u/Roaming", u"/u/Local/Microsoft/Windows/INetCache"};

// One user's application data with every kind of place, and the places that must stay unseen.
void BuildMachine(MemoryFileSystem& fs) {
    const std::u16string chrome = u"/u/Local/Google/Chrome/User Data";
    AddBlockfile(fs, chrome + u"/Default/Cache/Cache_Data");
    AddSimple(fs, chrome + u"/Profile 3/Cache/Cache_Data");
    AddBlockfile(fs, chrome + u"/Guest Profile/Cache/Cache_Data");
    AddBlockfile(fs, chrome + u"/Profile 5/Cache");  // before Cache_Data existed
    AddSql(fs, chrome + u"/Profile 6/Cache/Cache_Data");
    AddBlockfile(fs, chrome + u"/Default/GPUCache");
    fs.AddFile(chrome + u"/System Profile/Preferences", "{}");
    fs.AddFile(chrome + u"/Local State", "{}");
    AddSimple(fs, u"/u/Local/Microsoft/Edge/User Data/Default/Cache/Cache_Data");
    AddSql(fs, u"/u/Local/Microsoft/Edge/User Data/Profile 1/Cache/Cache_Data");
    AddSql(fs, u"/u/Local/Contoso/Sql/EBWebView/Default/Cache/Cache_Data");
    AddBlockfile(fs, u"/u/Local/Opera Software/Opera Stable/Cache/Cache_Data");
    fs.AddFile(u"/u/Roaming/Opera Software/Opera Stable/Preferences", "{}");
    AddBlockfile(fs, u"/u/Roaming/360se6/User Data/Default/Cache");
    AddSimple(fs, u"/u/Local/Acme/Acme Browser/User Data/Work/Cache/Cache_Data");
    AddSimple(fs, u"/u/Local/Contoso/Notes/EBWebView/Default/Cache/Cache_Data");
    AddBlockfile(fs, u"/u/Local/Programs/Tool/Tool.exe.WebView2/EBWebView/Default/Cache/Cache_Data");
    AddSimple(fs, u"/u/Roaming/discord/Cache/Cache_Data");
    fs.AddFile(u"/u/Roaming/discord/Cache/Cache_Data/index-dir/the-real-index", "x");

    fs.AddFile(
        u"/u/Roaming/Mozilla/Firefox/profiles.ini",
        "[General]\r\nStartWithLastProfile=1\r\n\r\n"
        "[Profile0]\r\nName=default-release\r\nIsRelative=1\r\nPath=Profiles/abc.default-release\r\n\r\n"
        "[Profile1]\r\nName=elsewhere\r\nIsRelative=0\r\nPath=/data/ff/custom\r\n\r\n"
        "[Profile2]\r\nName=roaming\r\nIsRelative=0\r\nPath=/u/Roaming/Mozilla/Firefox/Profiles/r.abs\r\n"
        "[Install308046B0AF4A39CB]\r\nDefault=Profiles/abc.default-release\r\n");
    AddCache2(fs, u"/u/Local/Mozilla/Firefox/Profiles/abc.default-release/cache2");
    AddCache2(fs, u"/data/ff/custom/cache2");
    AddCache2(fs, u"/u/Local/Mozilla/Firefox/Profiles/r.abs/cache2");
    fs.AddFile(u"/u/Roaming/Waterfox/profiles.ini", "[Profile0]\nIsRelative=1\nPath=Profiles\\wf.default\n");
    AddCache2(fs, u"/u/Local/Waterfox/Profiles/wf.default/cache2");
    fs.AddFile(u"/u/Roaming/Newfox/Browser/profiles.ini", "[Profile0]\nPath=Profiles/n.default\n");
    AddCache2(fs, u"/u/Local/Newfox/Browser/Profiles/n.default/cache2");

    // Never counted: not a cache by its files, or where the search must not go.
    fs.AddFile(u"/u/Local/Fake/App/Cache/Cache_Data/index", "not an index");
    fs.AddFile(u"/u/Local/Fake/App/Cache/Cache_Data/data_0", std::string("\xC3\xCA\x04\xC1", 4));
    AddBlockfile(fs, u"/u/Local/Fake/Loose/Cache_Data");
    AddBlockfile(fs, u"/u/Local/Temp/Setup/Cache/Cache_Data");
    AddSimple(fs,
              u"/u/Local/Packages/Contoso.App_8wekyb3d8bbwe/LocalState/EBWebView/Default/Cache/Cache_Data");
    AddBlockfile(fs, u"/u/Local/Microsoft/Windows/INetCache/IE/Cache/Cache_Data");
    AddSimple(fs, u"/u/Local/a/b/c/d/Deep/Cache/Cache_Data");
    AddBlockfile(fs, u"/u/Roaming/a/b/c/d/EBWebView/Default/Cache/Cache_Data");
}

// Links (junctions) lead back up and to a cache found elsewhere.
TEST(BrowserCaches, EveryBrowserOnTheMachineOnce) {
    MemoryFileSystem fs;
    BuildMachine(fs);
    for (const char16_t* link : {u"/u/Local/Loop", u"/u/Roaming/Vendor/Shared"}) {
        AddSimple(fs, link + std::u16string(u"/Cache/Cache_Data"));
        fs.reparsePoints.insert(link);
    }
    std::vector<std::u16string> listed;
    RecordListings(fs, listed);
    const CacheKind block = CacheKind::ChromiumBlockfile;
    const CacheKind simple = CacheKind::ChromiumSimple;
    const CacheKind fox = CacheKind::FirefoxCache2;
    const CacheKind sql = CacheKind::ChromiumSql;
    std::vector<Found> expected = {
        {"/u/Local/Google/Chrome/User Data/Profile 6/Cache/Cache_Data", sql, "Google Chrome / Profile 6"},
        {"/u/Local/Microsoft/Edge/User Data/Profile 1/Cache/Cache_Data", sql, "Microsoft Edge / Profile 1"},
        {"/u/Local/Contoso/Sql/EBWebView/Default/Cache/Cache_Data", sql, "Contoso/Sql / Default"},
        {"/u/Local/Google/Chrome/User Data/Default/Cache/Cache_Data", block, "Google Chrome / Default"},
        {"/u/Local/Google/Chrome/User Data/Profile 3/Cache/Cache_Data", simple, "Google Chrome / Profile 3"},
        {"/u/Local/Google/Chrome/User Data/Guest Profile/Cache/Cache_Data", block,
         "Google Chrome / Guest Profile"},
        {"/u/Local/Google/Chrome/User Data/Profile 5/Cache", block, "Google Chrome / Profile 5"},
        {"/u/Local/Microsoft/Edge/User Data/Default/Cache/Cache_Data", simple, "Microsoft Edge / Default"},
        {"/u/Local/Opera Software/Opera Stable/Cache/Cache_Data", block, "Opera"},
        {"/u/Roaming/360se6/User Data/Default/Cache", block, "360安全浏览器 / Default"},
        {"/u/Local/Acme/Acme Browser/User Data/Work/Cache/Cache_Data", simple, "Acme/Acme Browser / Work"},
        {"/u/Local/Contoso/Notes/EBWebView/Default/Cache/Cache_Data", simple, "Contoso/Notes / Default"},
        {"/u/Local/Programs/Tool/Tool.exe.WebView2/EBWebView/Default/Cache/Cache_Data", block,
         "Programs/Tool/Tool.exe.WebView2 / Default"},
        {"/u/Roaming/discord/Cache/Cache_Data", simple, "discord"},
        {"/u/Local/Mozilla/Firefox/Profiles/abc.default-release/cache2", fox,
         "Firefox / abc.default-release"},
        {"/data/ff/custom/cache2", fox, "Firefox / custom"},
        {"/u/Local/Mozilla/Firefox/Profiles/r.abs/cache2", fox, "Firefox / r.abs"},
        {"/u/Local/Waterfox/Profiles/wf.default/cache2", fox, "Waterfox / wf.default"},
        {"/u/Local/Newfox/Browser/Profiles/n.default/cache2", fox, "Newfox/Browser / n.default"},
    };
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Sorted(FindBrowserCaches(fs, kRoots)), expected);

    // A cache folder may be looked into when recognised, never walked below; the excluded places not even
    // that.
    for (const std::u16string& folder : listed) {
        std::string path = Utf16ToUtf8(folder) + "/";
        for (const std::string candidate : {"/Cache/Cache_Data/", "/Cache/"}) {
            if (path.size() > candidate.size() &&
                path.compare(path.size() - candidate.size(), candidate.size(), candidate) == 0) {
                path.resize(path.size() - candidate.size() + 1);
                break;
            }
        }
        for (const char* unseen :
             {"/Cache/", "/Temp/", "/Packages/", "/INetCache/", "/Loop/", "/Shared/", "/a/b/c/d/"}) {
            EXPECT_EQ(path.find(unseen), std::string::npos) << path;
        }
    }
}

// The profile walks of a known and of an unknown browser, and the search's walk into an Electron app, which
// keeps all of Chromium's caches in one folder.
TEST(BrowserCaches, MediaCachesAreFoundAndChromiumsOtherCachesNeverEntered) {
    const struct {
        const char16_t* place;
        const char16_t* cache;  // below place; when not found, its first folder is never entered
        const char* browser;    // empty: not found
    } cases[] = {
        {u"/u/Local/Google/Chrome/User Data/Default", u"Cache/Cache_Data", "Google Chrome / Default"},
        {u"/u/Local/Google/Chrome/User Data/Default", u"Media Cache", "Google Chrome / Default"},
        {u"/u/Local/Google/Chrome/User Data/Old", u"Media Cache", "Google Chrome / Old"},
        {u"/u/Local/Google/Chrome/User Data", u"ShaderCache/GPUCache", ""},
        {u"/u/Local/Google/Chrome/User Data", u"GrShaderCache", ""},
        {u"/u/Local/Acme/User Data", u"GraphiteDawnCache", ""},
        {u"/u/Local/Acme/User Data/Default", u"Media Cache", "Acme / Default"},
        {u"/u/Local/Old App", u"Media Cache", "Old App"},
        {u"/u/Roaming/Code", u"Cache/Cache_Data", "Code"},
        {u"/u/Roaming/Code", u"Code Cache/js", ""},
        {u"/u/Roaming/Code", u"GPUCache", ""},
        {u"/u/Roaming/Code", u"DawnCache", ""},
        {u"/u/Roaming/Code", u"DawnGraphiteCache", ""},
        {u"/u/Roaming/Code", u"DawnWebGPUCache", ""},
        {u"/u/Roaming/Code", u"Shared Dictionary/cache", ""},
        {u"/u/Roaming/Code", u"Service Worker/CacheStorage/2f3a/9b0c-41d7", ""},
    };
    MemoryFileSystem fs;
    std::vector<Found> expected;
    for (const auto& c : cases) {
        const std::u16string folder = std::u16string(c.place) + u"/" + c.cache;
        AddSimple(fs, folder);
        if (*c.browser != '\0') {
            expected.emplace_back(Utf16ToUtf8(folder), CacheKind::ChromiumSimple, c.browser);
        }
    }
    std::vector<std::u16string> looked;
    RecordListings(fs, looked);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Sorted(FindBrowserCaches(fs, kRoots)), expected);
    for (const auto& [path, opens] : fs.opens) {
        looked.push_back(path);
    }
    for (const auto& c : cases) {
        if (*c.browser != '\0') {
            continue;
        }
        const std::u16string cache(c.cache);
        const std::u16string unentered = std::u16string(c.place) + u"/" + cache.substr(0, cache.find(u'/'));
        for (const std::u16string& path : looked) {
            EXPECT_NE(path.rfind(unentered, 0), 0u) << Utf16ToUtf8(path);
        }
    }
}

TEST(BrowserCaches, KnownPlacesComeFirstAndStayFoundWhenTheSearchIsCut) {
    MemoryFileSystem fs;
    BuildMachine(fs);
    const struct {
        std::size_t folders;
        int depth;
        std::size_t sources;
    } cases[] = {
        {0, 4, 13},      // Chrome's 5, Edge's 2, Opera, 360, Firefox's 3, Waterfox
        {1, 4, 13},      // the local root listed: no cache directly below it
        {10000, 1, 13},  // the roots listed, nothing below them
        {10000, 2, 14},  // + discord
        {10000, 3, 18},  // + Contoso's two WebView2, Acme's User Data, Newfox's profiles.ini two levels down
        {10000, 4, 19},  // + the WebView2 folder four levels down
    };
    for (const auto& c : cases) {
        const std::vector<CacheSource> sources = FindBrowserCaches(fs, kRoots, {c.depth, c.folders, 8192});
        EXPECT_EQ(sources.size(), c.sources) << c.folders << " folders, depth " << c.depth;
        ASSERT_GE(sources.size(), 13u);
        EXPECT_EQ(Utf16ToUtf8(sources[0].browser), "Google Chrome / Default");
        EXPECT_EQ(Utf16ToUtf8(sources[12].browser), "Waterfox / wf.default");
    }
}

TEST(BrowserCaches, SearchListsNoMoreFoldersThanItsCap) {
    MemoryFileSystem files;
    for (char16_t letter = u'a'; letter <= u'z'; ++letter) {
        for (char16_t digit = u'0'; digit <= u'9'; ++digit) {
            files.AddFile(std::u16string(u"/u/Local/") + letter + u"/" + digit + u"/x/y/z", "");
        }
    }
    AddSimple(files, u"/u/Local/zz-app/Cache/Cache_Data");
    for (const std::size_t cap : {1u, 5u, 40u, 300u}) {
        std::vector<std::u16string> listed;
        RecordListings(files, listed);
        const std::size_t sources = FindBrowserCaches(files, {u"/u/Local", {}, {}}, {4, cap, 8192}).size();
        // Known places and the looks into cache folders that recognise them are not the search's walk.
        const std::size_t searched = static_cast<std::size_t>(
            std::count_if(listed.begin(), listed.end(), [](const std::u16string& path) {
                return path.find(u"User Data") == std::u16string::npos &&
                       path.find(u"/Webkit") == std::u16string::npos &&
                       path.find(u"/Cache") == std::u16string::npos;
            }));
        EXPECT_EQ(searched, cap) << cap;
        // Breadth first: the app, the last of the 28 folders of the first two levels, is reached before the
        // search goes deeper into the others.
        EXPECT_EQ(sources, cap >= 28 ? 1u : 0u) << cap;
    }
}

TEST(BrowserCaches, AFolderMeetsTheSameCacheOnce) {
    MemoryFileSystem fs;
    AddBlockfile(fs, u"/u/Local/Google/Chrome/User Data/Default/Cache/Cache_Data");
    fs.AddFile(u"/u/Roaming/Mozilla/Firefox/profiles.ini",
               "[Profile0]\nPath=Profiles/p\n[Profile1]\nPath=Profiles/p\n[Profile2]\nIsRelative=0\n"
               "Path=/u/Local/Mozilla/Firefox/Profiles/p\n");
    AddCache2(fs, u"/u/Local/Mozilla/Firefox/Profiles/p/cache2");
    const struct {
        AppDataRoots roots;
        std::size_t sources;
    } cases[] = {
        {{u"/u/Local", u"/u/Roaming", {}}, 2},
        {{u"/u/Local/", u"/u/Roaming//", {}}, 2},
        {{u"/u/Local", u"/u/Local", {}}, 1},
        {{u"/u/Local", {}, {}}, 1},
        {{{}, {}, {}}, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FindBrowserCaches(fs, c.roots).size(), c.sources) << Utf16ToUtf8(c.roots.roaming);
    }
}

// Windows' separator and case-blind names over a MemoryFileSystem that keeps '/'-separated paths.
class BackslashFileSystem final : public FileSystem {
  public:
    explicit BackslashFileSystem(MemoryFileSystem& files) : m_files(files) {}
    char16_t Separator() const override { return u'\\'; }
    std::u16string Normalise(std::u16string_view path) override {
        std::u16string result(path);
        while (result.size() > 3 && result.back() == u'\\') {
            result.pop_back();
        }
        return result;
    }
    bool SamePath(std::u16string_view a, std::u16string_view b) override {
        const auto fold = [](char16_t c) { return (c >= u'a' && c <= u'z') ? c - u'a' + u'A' : c; };
        return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                                  [&](char16_t x, char16_t y) { return fold(x) == fold(y); });
    }
    bool IsDirectory(std::u16string_view path) override { return m_files.IsDirectory(Slashed(path)); }
    std::unique_ptr<DirectoryListing> OpenDirectory(std::u16string_view folder) override {
        return m_files.OpenDirectory(Slashed(folder));
    }
    std::unique_ptr<ReadableFile> OpenForReading(std::u16string_view path) override {
        return m_files.OpenForReading(Slashed(path));
    }
    std::unique_ptr<NewFile> CreateNewFile(std::u16string_view path, CreateStatus& status) override {
        return m_files.CreateNewFile(Slashed(path), status);
    }

  private:
    static std::u16string Slashed(std::u16string_view path) {
        std::u16string result(path);
        std::replace(result.begin(), result.end(), u'\\', u'/');
        return result;
    }

    MemoryFileSystem& m_files;
};

TEST(BrowserCaches, WindowsSeparatorsAndCaseBlindNames) {
    MemoryFileSystem files;
    const std::u16string local = u"C:/Users/u/AppData/Local";
    AddBlockfile(files, local + u"/Google/Chrome/User Data/Default/Cache/Cache_Data");
    AddSimple(files, u"C:/Users/u/AppData/Roaming/Code/Cache/Cache_Data");
    AddSimple(files, local + u"/TEMP/App/Cache/Cache_Data");
    files.AddFile(u"C:/Users/u/AppData/Roaming/Mozilla/Firefox/profiles.ini",
                  "[Profile0]\r\nIsRelative=1\r\nPath=Profiles/rel.default\r\n"
                  "[Profile1]\r\nIsRelative=0\r\nPath=C:"
                  "\\USERS\\U\\AppData\\Roaming\\Mozilla\\Firefox\\Profiles\\abs\r\n"
                  "[Profile2]\r\nIsRelative=0\r\nPath=D:/Firefox/elsewhere\r\n");
    AddCache2(files, local + u"/Mozilla/Firefox/Profiles/rel.default/cache2");
    AddCache2(files, local + u"/Mozilla/Firefox/Profiles/abs/cache2");
    AddCache2(files, u"D:/Firefox/elsewhere/cache2");
    BackslashFileSystem fs(files);
    std::vector<Found> expected = {
        {R"(C:\Users\u\AppData\Local\Google\Chrome\User Data\Default\Cache\Cache_Data)",
         CacheKind::ChromiumBlockfile, "Google Chrome / Default"},
        {R"(C:\Users\u\AppData\Roaming\Code\Cache\Cache_Data)", CacheKind::ChromiumSimple, "Code"},
        {R"(C:\Users\u\AppData\Local\Mozilla\Firefox\Profiles\rel.default\cache2)", CacheKind::FirefoxCache2,
         "Firefox / rel.default"},
        {R"(C:\Users\u\AppData\Local\Mozilla\Firefox\Profiles\abs\cache2)", CacheKind::FirefoxCache2,
         "Firefox / abs"},
        {R"(D:\Firefox\elsewhere\cache2)", CacheKind::FirefoxCache2, "Firefox / elsewhere"},
    };
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Sorted(FindBrowserCaches(
                  fs, {uR"(C:\Users\u\AppData\Local\)", uR"(C:\Users\u\AppData\Roaming)", {}})),
              expected);
}

void AddCacheOfItsName(MemoryFileSystem& fs, const std::u16string& folder) {
    if (folder.size() >= 6 && folder.compare(folder.size() - 6, 6, u"cache2") == 0) {
        AddCache2(fs, folder);
    } else {
        AddSimple(fs, folder);
    }
}

// One Linux home with every browser's layout, sandboxed ones too.
TEST(HomeCaches, EveryLayoutOfAHomeFolder) {
    const struct {
        const char16_t* cache;  // below the home folder, or absolute
        const char* browser;    // empty: never found
    } cases[] = {
        {u".cache/chromium/Default/Cache/Cache_Data", "Chromium / Default"},
        {u".cache/chromium/Profile 2/Cache/Cache_Data", "Chromium / Profile 2"},
        {u".cache/chromium/Default/Code Cache/js", ""},
        {u".config/chromium/Default/GPUCache", ""},
        {u".cache/google-chrome-beta/Default/Cache/Cache_Data", "Google Chrome Beta / Default"},
        {u".cache/google-chrome-unstable/Profile 1/Cache/Cache_Data", "Google Chrome Dev / Profile 1"},
        {u".cache/microsoft-edge-dev/Default/Cache/Cache_Data", "Microsoft Edge Dev / Default"},
        {u".cache/BraveSoftware/Brave-Browser/Default/Cache/Cache_Data", "Brave / Default"},
        {u".config/vivaldi/Default/Cache", "Vivaldi / Default"},  // kept in the profile, in Cache itself
        {u".cache/opera/Cache/Cache_Data", "Opera"},
        {u"snap/chromium/common/.cache/chromium/Default/Cache/Cache_Data", "Chromium (snap) / Default"},
        {u".var/app/com.google.Chrome/cache/google-chrome/Profile 1/Cache/Cache_Data",
         "Google Chrome (Flatpak) / Profile 1"},
        {u".var/app/com.opera.Opera/cache/opera/Cache/Cache_Data", "Opera (Flatpak)"},
        {u".cache/mozilla/firefox/ab.default-release/cache2", "Firefox / ab.default-release"},
        {u".cache/mozilla/firefox/old.default/cache2", "Firefox / old.default"},
        {u".cache/mozilla/firefox/removed.default/cache2", ""},
        {u"/data/ff/p/cache2", "Firefox / p"},
        {u"snap/firefox/common/.cache/mozilla/firefox/s.default/cache2", "Firefox (snap) / s.default"},
        {u".var/app/org.mozilla.firefox/cache/mozilla/firefox/f.default/cache2",
         "Firefox (Flatpak) / f.default"},
        {u".config/Code/Cache/Cache_Data", "Code"},
        {u".config/Loop/Cache/Cache_Data", ""},
    };
    MemoryFileSystem fs;
    fs.AddFile(u"/home/u/.config/mozilla/firefox/profiles.ini",
               "[Profile0]\nPath=ab.default-release\n[Profile1]\nIsRelative=0\nPath=/data/ff/p\n");
    fs.AddFile(u"/home/u/.mozilla/firefox/profiles.ini", "[Profile0]\nPath=old.default\n");
    fs.AddFile(u"/home/u/snap/firefox/common/.mozilla/firefox/profiles.ini", "[Profile0]\nPath=s.default\n");
    fs.AddFile(u"/home/u/.var/app/org.mozilla.firefox/.mozilla/firefox/profiles.ini",
               "[Profile0]\nPath=f.default\n");
    fs.reparsePoints.insert(u"/home/u/.config/Loop");
    std::vector<Found> expected;
    for (const auto& c : cases) {
        const std::u16string folder = c.cache[0] == u'/' ? c.cache : u"/home/u/" + std::u16string(c.cache);
        AddCacheOfItsName(fs, folder);
        if (*c.browser != '\0') {
            const bool fox = folder.back() == u'2';
            expected.emplace_back(Utf16ToUtf8(folder),
                                  fox ? CacheKind::FirefoxCache2 : CacheKind::ChromiumSimple, c.browser);
        }
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Sorted(FindHomeCaches(fs, u"/home/u/")), expected);
    EXPECT_TRUE(FindHomeCaches(fs, u"").empty());
}

// Folders a user names: every cache below each, sorted, whatever holds it; a cut at six levels.
TEST(CachesBelow, EveryKindOfCopiedFolder) {
    const struct {
        const char16_t* from;
        std::vector<std::u16string> caches;  // below from
    } cases[] = {
        {u"/copy/Default", {u"/Cache/Cache_Data", u"/Media Cache"}},
        {u"/copy/User Data", {u"/Default/Cache/Cache_Data", u"/Profile 1/Cache"}},
        {u"/copy/Profiles", {u"/a.default/cache2", u"/b.default/cache2"}},
        {u"/copy/AppData",
         {u"/Local/Google/Chrome/User Data/Default/Cache/Cache_Data",
          u"/Local/Mozilla/Firefox/Profiles/w.default/cache2"}},
        {u"/copy/home",
         {u"/.cache/chromium/Default/Cache/Cache_Data", u"/.cache/mozilla/firefox/h.default/cache2",
          u"/snap/firefox/common/.cache/mozilla/firefox/s.default/cache2"}},
        {u"/copy/flatpak", {u"/org.chromium.Chromium/cache/chromium/Default/Cache/Cache_Data"}},
        {u"/copy/renamed", {u"/chrome backup", u"/old cache2"}},
        {u"/copy/deep/1", {u"/2/3/4/5/6/Cache_Data"}},
        {u"/copy/deep", {}},
        {u"/copy/plain", {}},
        {u"/copy/linked", {}},
    };
    MemoryFileSystem fs;
    for (const auto& c : cases) {
        for (const std::u16string& cache : c.caches) {
            AddCacheOfItsName(fs, c.from + cache);
        }
    }
    AddSimple(fs, u"/copy/Default/Code Cache/js");
    fs.AddFile(u"/copy/AppData/Roaming/Mozilla/Firefox/profiles.ini",
               "[Profile0]\nPath=Profiles/w.default\n");
    fs.AddFile(u"/copy/home/.mozilla/firefox/profiles.ini", "[Profile0]\nPath=h.default\n");
    fs.AddFile(u"/copy/home/snap/firefox/common/.mozilla/firefox/profiles.ini",
               "[Profile0]\nPath=s.default\n");
    fs.AddFile(u"/copy/plain/a/photo.jpg", "jpg");
    AddSimple(fs, u"/copy/linked/elsewhere/Cache/Cache_Data");
    fs.reparsePoints.insert(u"/copy/linked/elsewhere");
    const auto foldersBelow = [&fs](const std::u16string& from) {
        std::vector<std::string> folders;
        for (const CacheSource& source : FindCachesBelow(fs, from)) {
            folders.push_back(Utf16ToUtf8(source.folder));
        }
        return folders;
    };
    std::vector<std::string> everything;
    for (const auto& c : cases) {
        std::vector<std::string> expected;
        for (const std::u16string& cache : c.caches) {
            expected.push_back(Utf16ToUtf8(c.from + cache));
        }
        EXPECT_EQ(foldersBelow(c.from), expected) << Utf16ToUtf8(c.from);
        everything.insert(everything.end(), expected.begin(), expected.end());
    }
    // From the top, AppData's Firefox cache lies seven levels down: only its profiles.ini leads to it, and
    // the deep cache is out of reach.
    std::sort(everything.begin(), everything.end());
    everything.erase(std::find(everything.begin(), everything.end(), "/copy/deep/1/2/3/4/5/6/Cache_Data"));
    EXPECT_EQ(foldersBelow(u"/copy"), everything);
}

TEST(ProfilesIni, PathsOfTheProfileSections) {
    using namespace std::string_literals;
    using Paths = std::vector<std::pair<std::string, bool>>;
    const struct {
        std::string ini;
        Paths paths;
    } cases[] = {
        {"[Profile0]\nName=a\nIsRelative=1\nPath=Profiles/a.default\nDefault=1\n",
         {{"Profiles/a.default", true}}},
        {"\xEF\xBB\xBF[Profile0]\r\nPath=P/x\r\nIsRelative=1\r\n", {{"P/x", true}}},
        {"[Profile1]\nIsRelative=0\nPath=C:\\Users\\u\\ff\n[Profile0]\nPath=Profiles\\b\n",
         {{"C:\\Users\\u\\ff", false}, {"Profiles\\b", true}}},
        {"[Profile0]\nPath=D:\\ff\n[Profile1]\nPath=\\\\server\\share\\ff\n",
         {{"D:\\ff", false}, {"\\\\server\\share\\ff", false}}},
        {"[Profile0]\nIsRelative=1\nPath=/odd\n", {{"/odd", true}}},
        {"  [ Profile0 ]  \n  path = spaced  \nISRELATIVE = 1\n", {{"spaced", true}}},
        {"[General]\nPath=x\n[Install4F96D1932A9F858E]\nDefault=Profiles/"
         "a\n[Profiles]\nPath=y\n[Profile]\nPath=z\n",
         {}},
        {"[ProfileX]\nPath=x\n[Profile0]\n;Path=commented\n#Path=too\nName=none\n", {}},
        {"[Profile0]\nPath=first\nPath=second\nIsRelative=maybe\n", {{"second", true}}},
        {"[Profile0\nPath=x\n", {}},
        {"Path=before any section\n[Profile0]\nPath=a", {{"a", true}}},
        {"[Profile0]\nPath=\xE6\xB5\x8F\xE8\xA7\x88\n", {{"\xE6\xB5\x8F\xE8\xA7\x88", true}}},
        {"[Profile0]\nPath=a\0b\n"s, {{"a\0b"s, true}}},
        {"", {}},
        {"[", {}},
        {"=", {}},
    };
    for (const auto& c : cases) {
        Paths paths;
        for (const FirefoxProfilePath& profile : ParseProfilesIni(c.ini)) {
            paths.emplace_back(Utf16ToUtf8(profile.path), profile.relative);
        }
        EXPECT_EQ(paths, c.paths) << c.ini;
    }
}

TEST(ProfilesIni, ManyProfilesAreCut) {
    std::string ini;
    for (int i = 0; i < 1000; ++i) {
        ini += "[Profile" + std::to_string(i) + "]\nPath=p" + std::to_string(i) + "\n";
    }
    const std::vector<FirefoxProfilePath> profiles = ParseProfilesIni(ini);
    ASSERT_EQ(profiles.size(), 256u);
    EXPECT_EQ(Utf16ToUtf8(profiles.back().path), "p255");
}

}  // namespace
}  // namespace drovan::tests
