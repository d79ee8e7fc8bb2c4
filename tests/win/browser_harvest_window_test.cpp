#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "extract/formats/byte_reader.h"
#include "extract/formats/mp4_box.h"
#include "extract/sha256.h"
#include "extract/utf8.h"
#include "main_window_fixture.h"
#include "tests/support/stream_expectations.h"

namespace drovan {
namespace {

std::wstring ToWide(const std::u16string& text) {
    return std::wstring(text.begin(), text.end());
}

// Wine shows the Unix root as drive Z:.
std::wstring DataFolder(const std::string& name) {
    std::wstring path = L"Z:" + ToWide(Utf8ToUtf16(std::string(DROVAN_TEST_DATA_DIR) + "/" + name));
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

// The rows of one of the data's tables, without its heading.
std::vector<std::vector<std::string>> TsvRows(const std::string& table) {
    std::istringstream lines(ReadFile(DataFolder(table)));
    std::vector<std::vector<std::string>> rows;
    std::string line;
    std::getline(lines, line);
    while (std::getline(lines, line)) {
        std::vector<std::string>& fields = rows.emplace_back();
        std::istringstream parts(line);
        for (std::string field; std::getline(parts, field, '\t');) {
            fields.push_back(field);
        }
    }
    return rows;
}

struct ManifestLine {
    std::wstring name;
    std::string type;
    std::string sha256;
    bool complete;
};

std::vector<ManifestLine> ReadManifest(const std::string& cache) {
    std::istringstream lines(ReadFile(DataFolder(cache + "/manifest.tsv")));
    std::vector<ManifestLine> manifest;
    std::string line;
    std::getline(lines, line);
    while (std::getline(lines, line)) {
        std::vector<std::string> fields;
        std::istringstream parts(line);
        for (std::string field; std::getline(parts, field, '\t');) {
            fields.push_back(field);
        }
        if (fields.size() >= 5) {
            manifest.push_back(
                {ToWide(Utf8ToUtf16(fields[1])), fields[2], fields[3], fields[4] == "complete"});
        }
    }
    return manifest;
}

struct BrowserProfile {
    TempFolder local;
    TempFolder roaming;
    std::vector<std::vector<ManifestLine>> manifests;
};

struct CachePlace {
    const char* cache;
    const wchar_t* place;
};

std::unique_ptr<BrowserProfile> LayOutBrowsers(const std::vector<CachePlace>& places) {
    auto profile = std::make_unique<BrowserProfile>();
    for (const CachePlace& place : places) {
        EXPECT_TRUE(CopyTree(DataFolder(place.cache), profile->local / place.place)) << place.cache;
        // The tables are the tests', not the browser's.
        for (const auto& file : FileSizes(profile->local / place.place)) {
            if (file.first.size() > 4 && file.first.substr(file.first.size() - 4) == L".tsv") {
                DeleteFileW((profile->local / place.place + L"\\" + file.first).c_str());
            }
        }
        // Only the browsers' own caches at the top of the data folder come with a manifest.
        if (std::string(place.cache).find('/') == std::string::npos) {
            profile->manifests.push_back(ReadManifest(place.cache));
        }
    }
    profile->roaming.Write(L"Mozilla\\Firefox\\profiles.ini",
                           "[General]\r\nStartWithLastProfile=1\r\n\r\n[Profile0]\r\nName=default\r\n"
                           "IsRelative=1\r\nPath=Profiles/x.default\r\nDefault=1\r\n");
    return profile;
}

// The committed caches where Chrome, Edge, a WebView2 app and Firefox keep theirs.
std::unique_ptr<BrowserProfile> LayOutBrowsers() {
    return LayOutBrowsers({
        {"chromium-blockfile", L"Google\\Chrome\\User Data\\Default\\Cache\\Cache_Data"},
        {"chromium-simple", L"Microsoft\\Edge\\User Data\\Default\\Cache\\Cache_Data"},
        {"chromium-simple", L"SomeApp\\EBWebView\\Default\\Cache\\Cache_Data"},
        {"firefox-cache2", L"Mozilla\\Firefox\\Profiles\\x.default\\cache2"},
    });
}

std::wstring Numbered(const std::wstring& name, int number) {
    if (number == 1) {
        return name;
    }
    const std::size_t dot = name.rfind(L'.');
    return name.substr(0, dot) + L" (" + std::to_wstring(number) + L")" + name.substr(dot);
}

// File name to SHA-256 of its bytes.
std::map<std::wstring, std::string> Harvested(const std::wstring& folder) {
    std::map<std::wstring, std::string> files;
    for (const auto& file : FileSizes(folder)) {
        files[file.first] = Sha256Hex(ReadFile(folder + L"\\" + file.first));
    }
    return files;
}

// Name to the different bodies of that name.
using Bodies = std::map<std::wstring, std::vector<std::string>>;

// Every complete entry of the type from every browser; the same body under the same name, from Edge and the
// WebView2 app, is written once.
void AddBrowserBodies(Bodies& expected, const BrowserProfile& browsers, const std::string& type) {
    for (const auto& manifest : browsers.manifests) {
        for (const ManifestLine& line : manifest) {
            if (!line.complete || line.type != type) {
                continue;
            }
            std::vector<std::string>& bodies = expected[line.name];
            if (std::find(bodies.begin(), bodies.end(), line.sha256) == bodies.end()) {
                bodies.push_back(line.sha256);
            }
        }
    }
}

// Names: name, name (2), ... per shared name; bodies: exactly the expected ones, whichever number each got,
// but the Internet cache's file keeps the plain name.
void ExpectHarvest(std::map<std::wstring, std::string> files, Bodies expected,
                   const std::wstring& internetName) {
    Bodies got;
    for (const auto& [name, bodies] : expected) {
        for (int number = 1; number <= static_cast<int>(bodies.size()); ++number) {
            const auto file = files.find(Numbered(name, number));
            ASSERT_NE(file, files.end()) << testing::PrintToString(Numbered(name, number));
            got[name].push_back(file->second);
            files.erase(file);
        }
    }
    EXPECT_TRUE(files.empty()) << "unexpected files, e.g. " << testing::PrintToString(files.begin()->first);
    if (!internetName.empty()) {
        EXPECT_EQ(got[internetName].front(), expected[internetName].front()) << "the Internet cache's file";
    }
    for (auto& [name, bodies] : expected) {
        std::sort(bodies.begin(), bodies.end());
        std::sort(got[name].begin(), got[name].end());
        EXPECT_EQ(got[name], bodies) << testing::PrintToString(name);
    }
}

class BrowserHarvestTest : public ExtractorDialogTest {
  protected:
    static void SetUpTestSuite() { s_browsers = LayOutBrowsers(); }
    static void TearDownTestSuite() { s_browsers.reset(); }
    void SetUp() override {
        ExtractorDialogTest::SetUp();
        m_localAppData = s_browsers->local.path();
        m_roamingAppData = s_browsers->roaming.path();
    }

    inline static std::unique_ptr<BrowserProfile> s_browsers;
};

// Every complete entry of the type from every browser, byte for byte, numbered after the Internet-cache file
// of the same name when its bytes differ; a second harvest adds nothing.
TEST_F(BrowserHarvestTest, EveryBrowsersCacheIsHarvestedAfterTheInternetCacheFolder) {
    const struct {
        const char* type;
        const wchar_t* internetCacheFile;  // null: the shell names no Internet-cache folder
    } cases[] = {
        {"flv", L"Content.IE5\\X1\\clip.flv"},
        {"mp3", L"getaudio.mp3"},
        {"mp4", L"a\\b\\movie.bin.mp4"},
        {"jpg", L"Low\\photo.jpg"},
        {"jpg", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.type) + (c.internetCacheFile ? " with" : " without") + " Internet cache");
        const TempFolder internetCache;
        const TempFolder into;
        Bodies expected;
        std::wstring internetName;
        m_cacheFolder.clear();
        if (c.internetCacheFile != nullptr) {
            const std::string body = std::string("from the Internet cache: ") + c.type;
            internetCache.Write(c.internetCacheFile, body);
            m_cacheFolder = internetCache.path();
            const std::wstring file = c.internetCacheFile;
            internetName = file.substr(file.rfind(L'\\') + 1);
            expected[internetName].push_back(Sha256Hex(body));
        }
        AddBrowserBodies(expected, *s_browsers, c.type);
        std::map<std::wstring, std::string> first;
        Run([&](HWND dialog) {
            SetPath(dialog, into.path());
            SetType(dialog, ToWide(Utf8ToUtf16(c.type)));
            for (int round = 0; round < 2; ++round) {
                Click(dialog, IDC_EXTRACT);
                HWND box = ExpectMessageBox(kFinished);
                ASSERT_NE(box, nullptr) << round;
                ASSERT_TRUE(Answer(box, IDNO));
                if (round == 0) {
                    first = Harvested(into.path());
                } else {
                    EXPECT_EQ(Harvested(into.path()), first) << "the second harvest changed the folder";
                }
            }
        });
        ExpectHarvest(first, expected, internetName);
    }
    EXPECT_TRUE(Opened().empty());
}

// The players' caches where Chrome (blockfile) and Edge (simple) keep theirs: 提取 "mp4" gives one playable
// file per complete video, picture and sound together, and nothing else: no segment on its own, nothing of
// the incomplete ones, and no .ts, since every stream there can be rewrapped.
TEST_F(ExtractorDialogTest, StreamsInTheBrowsersCachesAreHarvestedAsOneMp4Each) {
    const std::unique_ptr<BrowserProfile> players = LayOutBrowsers({
        {"streams/chromium-blockfile", L"Google\\Chrome\\User Data\\Default\\Cache\\Cache_Data"},
        {"streams/chromium-simple", L"Microsoft\\Edge\\User Data\\Default\\Cache\\Cache_Data"},
    });
    m_localAppData = players->local.path();
    m_roamingAppData = players->roaming.path();
    m_cacheFolder.clear();
    for (const char* type : {"mp4", "ts"}) {
        SCOPED_TRACE(type);
        std::set<std::wstring> expected;
        for (const char* cache : {"streams/chromium-blockfile", "streams/chromium-simple"}) {
            for (const ExpectedFile& file : ExpectedFiles(TsvRows(std::string(cache) + "/streams.tsv"))) {
                if (file.type == type && file.state == "complete") {
                    expected.insert(ToWide(Utf8ToUtf16(file.name)));
                }
            }
        }
        const TempFolder into;
        Run([&](HWND dialog) {
            SetPath(dialog, into.path());
            SetType(dialog, ToWide(Utf8ToUtf16(type)));
            Click(dialog, IDC_EXTRACT);
            HWND box = ExpectMessageBox(kFinished);
            ASSERT_NE(box, nullptr);
            ASSERT_TRUE(Answer(box, IDNO));
        });
        std::set<std::wstring> written;
        for (const auto& [name, size] : FileSizes(into.path())) {
            // The two browsers' copies of one video are the same bytes, or numbered apart.
            written.insert(std::regex_replace(name, std::wregex(L" \\(\\d+\\)(\\.[^.]*)$"), L"$1"));
            const std::string bytes = ReadFile(into.path() + L"\\" + name);
            const std::vector<std::string> boxes = TopLevelBoxes(bytes);
            ASSERT_GE(boxes.size(), 3u);
            EXPECT_EQ(boxes[0] + " " + boxes[1], "ftyp moov")
                << Utf16ToUtf8(std::u16string(name.begin(), name.end()));
            EXPECT_NE(bytes.find("vide"), std::string::npos);
            EXPECT_NE(bytes.find("soun"), std::string::npos);
        }
        EXPECT_EQ(written, expected);
    }
}

std::vector<mp4::Box> Children(const std::optional<mp4::Box>& box) {
    return box ? mp4::DecodeBoxes(box->payload).value_or(std::vector<mp4::Box>{}) : std::vector<mp4::Box>{};
}

// The sample count of the movie's picture track, from its stsz box; none without one.
std::optional<std::uint32_t> VideoSampleCount(std::string_view file) {
    const std::vector<mp4::Box> top = mp4::DecodeBoxes(file).value_or(std::vector<mp4::Box>{});
    for (const mp4::Box& trak : Children(mp4::FindBox(top, "moov"))) {
        const std::vector<mp4::Box> mdia = Children(mp4::FindBox(Children(trak), "mdia"));
        const std::optional<mp4::Box> hdlr = mp4::FindBox(mdia, "hdlr");
        const auto handler = hdlr ? mp4::DecodeHandlerBox(hdlr->payload) : std::nullopt;
        if (trak.header.type != "trak" || !handler || handler->handlerType != "vide") {
            continue;
        }
        const std::vector<mp4::Box> stbl =
            Children(mp4::FindBox(Children(mp4::FindBox(mdia, "minf")), "stbl"));
        const std::optional<mp4::Box> stsz = mp4::FindBox(stbl, "stsz");
        ByteReader reader(stsz ? stsz->payload : std::string_view{});
        mp4::ReadFullBoxHeader(reader);
        std::uint32_t count = 0;
        reader.Skip(4);  // sample_size
        reader.U32BE(count);
        return reader.failed() ? std::nullopt : std::optional<std::uint32_t>(count);
    }
    return std::nullopt;
}

// A live stream with an ad break at another picture size, as a browser cached it among other streams:
// 提取 "mp4" joins the pieces on both sides of the break into one movie of every picture frame served, not
// one file per side of the break nor the pieces themselves.
TEST_F(ExtractorDialogTest, AnAdBreakStreamIsHarvestedAsOneMp4) {
    const CachePlace caches[] = {
        {"stream-joins/chromium-simple", L"Microsoft\\Edge\\User Data\\Default\\Cache\\Cache_Data"},
        {"stream-joins/chromium-blockfile", L"Google\\Chrome\\User Data\\Default\\Cache\\Cache_Data"},
    };
    for (const CachePlace& cache : caches) {
        SCOPED_TRACE(cache.cache);
        const std::unique_ptr<BrowserProfile> browser = LayOutBrowsers({cache});
        m_localAppData = browser->local.path();
        m_roamingAppData = browser->roaming.path();
        m_cacheFolder.clear();
        std::uint32_t frames = 0;
        for (const auto& row : TsvRows(std::string(cache.cache) + "/frames.tsv")) {
            if (row.size() > 1 && row[0] == "matchday.mp4" && row[1] == "0") {
                ++frames;  // a picture frame as served
            }
        }
        ASSERT_GT(frames, 0u);
        const TempFolder into;
        Run([&](HWND dialog) {
            SetPath(dialog, into.path());
            SetType(dialog, L"mp4");
            Click(dialog, IDC_EXTRACT);
            HWND box = ExpectMessageBox(kFinished);
            ASSERT_NE(box, nullptr);
            ASSERT_TRUE(Answer(box, IDNO));
        });
        std::vector<std::wstring> matchday;
        for (const auto& [name, size] : FileSizes(into.path())) {
            EXPECT_FALSE(name.size() > 3 && name.substr(name.size() - 3) == L".ts")
                << Utf16ToUtf8(std::u16string(name.begin(), name.end()));
            if (name.rfind(L"matchday", 0) == 0) {
                matchday.push_back(name);
            }
        }
        ASSERT_EQ(matchday, std::vector<std::wstring>{L"matchday.mp4"});
        const std::string bytes = ReadFile(into / L"matchday.mp4");
        const std::vector<std::string> boxes = TopLevelBoxes(bytes);
        ASSERT_GE(boxes.size(), 2u);
        EXPECT_EQ(boxes[0] + " " + boxes[1], "ftyp moov");
        EXPECT_EQ(VideoSampleCount(bytes), frames);
    }
}

}  // namespace
}  // namespace drovan
