#include "extract/formats/url_name.h"

#include <gtest/gtest.h>

#include <string>

#include "extract/utf8.h"

namespace drovan::tests {
namespace {

TEST(EntryNames, FromTheUrlsLastSegment) {
    const struct {
        const char* url;
        const char* type;
        const char* name;
    } cases[] = {
        {"http://h/stream/12345", "flv", "12345.flv"},
        {"http://h/getaudio?id=7", "mp3", "getaudio.mp3"},
        {"http://h/weird/a%3Ab%7Cc.mp3", "mp3", "a_b_c.mp3"},
        {"http://h/v/clip.MP4", "mp4", "clip.MP4"},
        {"http://h/v/clip.mp4#t=10", "mp4", "clip.mp4"},
        {"http://h/upgcxcode/77001-1-30064.m4s?e=ig8", "mp4", "77001-1-30064.mp4"},
        {"http://h/upgcxcode/77001-1-30280.m4s?e=ig8", "m4a", "77001-1-30280.m4a"},
        {"http://h/seg-1.CMFV", "mp4", "seg-1.mp4"},
        {"http://h/seg-1.cmfa", "m4a", "seg-1.m4a"},
        {"http://h/init.dash", "mp4", "init.mp4"},
        {"http://h/song.mp4", "m4a", "song.m4a"},
        {"http://h/clip.m4v", "mp4", "clip.mp4"},
        {"http://h/a.mp4.m4s", "mp4", "a.mp4"},
        {"http://h/a.m4s", "ts", "a.m4s.ts"},  // only an MP4 takes a segment's ending's place
        {"http://h/a.m4s.bak", "mp4", "a.m4s.bak.mp4"},
        {"http://h/.m4s", "mp4", "_m4s.mp4"},
        {"http://h/photo.jpeg", "jpeg", "photo.jpeg"},
        {"http://h/photo.jpeg", "jpg", "photo.jpeg.jpg"},
        {"http://h/%E4%B8%AD%E6%96%87.mp3", "mp3", "\xE4\xB8\xAD\xE6\x96\x87.mp3"},
        {"http://h/bad%FFutf8.mp3", "mp3", "bad%FFutf8.mp3"},  // not UTF-8: left encoded
        {"http://h/a%2Fb%5Cc%3Fd%2Ae%22f%3Cg%3Eh.js", "js", "a_b_c_d_e_f_g_h.js"},
        {"http://h/tab%09and%00nul", "", "tab_and_nul"},
        {"http://h/100%25", "", "100%"},
        {"http://h/50%zz", "", "50%zz"},
        {"http://h/trailing.%20.", "html", "trailing.html"},
        {"http://h/...", "html", "h.html"},
        {"http://user:pw@www.example.com:8080/", "html", "www.example.com.html"},
        {"http://[::1]:8080/", "", "[__1]"},
        {"http://www.example.com", "", "www.example.com"},
        {"http://h/a/b/", "css", "b.css"},
        {"http://h/", "css", "h.css"},
        {"not a url", "", "not a url"},
        {"", "", "unnamed"},
        {"http://h/CON", "flv", "_CON.flv"},
        {"http://h/con.txt", "txt", "_con.txt"},
        {"http://h/nul%20.mp3", "mp3", "_nul .mp3"},
        {"http://h/lpt9", "", "_lpt9"},
        {"http://h/com0", "", "com0"},
        {"http://h/console", "log", "console.log"},
        {"http://h/auxiliary.js", "js", "auxiliary.js"},
        {"http://h/COM%C2%B9", "", "_COM\xC2\xB9"},
        {"http://h/lpt%C2%B3.mp3", "mp3", "_lpt\xC2\xB3.mp3"},
        {"http://h/com%C2%B2%20.txt", "txt", "_com\xC2\xB2 .txt"},
        {"http://h/com%E2%81%B4", "", "com\xE2\x81\xB4"},  // superscript 4 names no device
        {"http://h/clip%E2%80%AEgpj.exe", "", "clipgpj.exe"},
        {"http://h/a%E2%80%8Eb%E2%80%8Fc%E2%80%AAd%E2%81%A6e%E2%81%A9f%D8%9Cg.js", "js", "abcdefg.js"},
        {"http://h/a%C2%85b%C2%9Bc%7Fd%E2%80%A8e%E2%80%A9f%EF%BB%BFg.js", "js", "abcdefg.js"},
        {"http://h/.htaccess", "", "_htaccess"},
        {"http://h/.hidden.mp4", "mp4", "_hidden.mp4"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Utf16ToUtf8(FileNameForEntry(c.url, c.type)), c.name) << c.url;
    }
}

TEST(EntryNames, LongNamesKeepTheirEnding) {
    const struct {
        std::string url;
        const char* type;
        std::u16string name;
    } cases[] = {
        {"http://h/" + std::string(200, 'a') + ".mp4", "mp4", std::u16string(146, u'a') + u".mp4"},
        {"http://h/" + std::string(200, 'a'), "flv", std::u16string(146, u'a') + u".flv"},
        {"http://h/" + std::string(200, 'a'), "", std::u16string(150, u'a')},
        {"http://h/" + std::string(140, 'a') + "." + std::string(40, 'b'), "",
         std::u16string(140, u'a') + u"." + std::u16string(9, u'b')},
        // U+1F600 is a surrogate pair: the cut falls before it, not in its middle.
        {"http://h/" + std::string(145, 'a') + "%F0%9F%98%80.mp3", "mp3",
         std::u16string(145, u'a') + u".mp3"},
        {"http://h/" + std::string(144, 'a') + "%F0%9F%98%80.mp3", "mp3",
         std::u16string(144, u'a') + u"\U0001F600.mp3"},
        {"http://h/" + std::string(147, 'a') + "%20%20%20" + std::string(10, 'b'), "",
         std::u16string(147, u'a')},
        {"http://h/" + std::string(160, ' ') + "b", "", u"unnamed"},
    };
    for (const auto& c : cases) {
        const std::u16string name = FileNameForEntry(c.url, c.type);
        EXPECT_EQ(name, c.name) << c.url;
        EXPECT_LE(name.size(), kMaxEntryNameUnits);
    }
}

TEST(EntryNames, UrlParts) {
    const struct {
        const char* url;
        const char* segment;
        const char* host;
    } cases[] = {
        {"http://h:1/a/b.mp3?x=/y#z/w", "b.mp3", "h"},
        {"https://u@host.example/dir/", "dir", "host.example"},
        {"http://h?q=/x", "", "h"},
        {"file.mp3", "file.mp3", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(UrlLastSegment(c.url), c.segment) << c.url;
        EXPECT_EQ(UrlHost(c.url), c.host) << c.url;
    }
}

std::string Escaped(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        out += '%';
        out += kHex[byte >> 4];
        out += kHex[byte & 15];
    }
    return out;
}

// A segment without escapes skips decoding; escaping all of it must not change the name.
TEST(EntryNames, PlainSegmentsNameAsTheirEscapedForm) {
    const std::string cases[] = {
        "clip.mp4",
        "Clip.MP4",
        "a:b|c*d<e>f\"g\\h",
        "tab\tand\x01",
        "trailing. . ",
        " . ",
        "CON",
        "com1.txt",
        "nul .mp3",
        "COM\xC2\xB9",
        ".htaccess",
        "100%",
        std::string(200, 'a') + ".mp4",
        std::string(147, 'a') + "   " + std::string(10, 'b'),
        std::string(160, ' ') + "b",
    };
    for (const std::string& segment : cases) {
        for (const char* type : {"", "mp4", "txt"}) {
            EXPECT_EQ(FileNameForEntry("http://h/" + segment, type),
                      FileNameForEntry("http://h/" + Escaped(segment), type))
                << segment << " " << type;
        }
    }
}

}  // namespace
}  // namespace drovan::tests
