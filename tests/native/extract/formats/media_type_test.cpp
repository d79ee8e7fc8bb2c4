#include "extract/formats/media_type.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "extract/formats/url_name.h"

namespace drovan::tests {
namespace {

std::string Bytes(const char* text, std::size_t size) {
    return std::string(text, size);
}

// An ISO media file's first box, of the brand given.
std::string Ftyp(const char* brand) {
    return Bytes("\x00\x00\x00\x20", 4) + "ftyp" + brand + Bytes("\x00\x00\x02\x00", 4);
}

const std::string kAsfHeader = Bytes("\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C", 16);
const std::string kAsfVideo = Bytes("\xC0\xEF\x19\xBC\x4D\x5B\xCF\x11\xA8\xFD\x00\x80\x5F\x5C\x44\x2B", 16);
const std::string kAsfAudio = Bytes("\x40\x9E\x69\xF8\x4D\x5B\xCF\x11\xA8\xFD\x00\x80\x5F\x5C\x44\x2B", 16);

TEST(MediaType, SignatureDecidesFirst) {
    const struct {
        std::string bytes;
        const char* type;
    } cases[] = {
        {Bytes("FLV\x01\x05\x00\x00\x00\x09", 9), "flv"},
        {"FWS\x0A", "swf"},
        {"CWS\x0A", "swf"},
        {"ZWS\x0D", "swf"},
        {Ftyp("isom"), "mp4"},
        {Ftyp("M4A "), "m4a"},
        {Ftyp("qt  "), "mov"},
        {Ftyp("3gp5"), "3gp"},
        {Ftyp("avif"), "avif"},
        {"ID3\x03\x00\x00\x00", "mp3"},
        {Bytes("\xFF\xFB\x90\x64\x00", 5), "mp3"},
        {Bytes("\xFF\xF3\x58\xC4\x00", 5), "mp3"},
        {Bytes("\xFF\xF1\x50\x80\x00", 5), ""},  // AAC in ADTS: layer bits 00
        {Bytes("\xFF\xD8\xFF\xE0\x00\x10JFIF", 10), "jpg"},
        {Bytes("\x89PNG\r\n\x1A\n\x00\x00\x00\x0DIHDR", 16), "png"},
        {"GIF89a\x01\x00", "gif"},
        {"GIF87a\x01\x00", "gif"},
        {Bytes("RIFF\x24\x00\x00\x00WEBPVP8 ", 16), "webp"},
        {Bytes("RIFF\x24\x00\x00\x00", 8) + "AVI LIST", "avi"},
        {Bytes("RIFF\x24\x00\x00\x00WAVEfmt ", 16), "wav"},
        {Bytes("RIFF\x24\x00\x00\x00XXXX", 12), ""},
        {Bytes("MThd\x00\x00\x00\x06", 8), "mid"},
        {kAsfHeader + std::string(40, '\0') + kAsfVideo + kAsfAudio, "wmv"},
        {kAsfHeader + std::string(40, '\0') + kAsfAudio, "wma"},
        {kAsfHeader, "asf"},
        {Bytes(".RMF\x00\x00\x00\x12", 8), "rm"},
        {Bytes("OggS\x00\x02", 6) + std::string(22, '\0') + "\x01vorbis", "ogg"},
        {Bytes("OggS\x00\x02", 6) + std::string(22, '\0') + "OpusHead", "opus"},
        {Bytes("\x1A\x45\xDF\xA3\x9F\x42\x86\x81\x01\x42\x82\x84webm", 16), "webm"},
        {Bytes("\x1A\x45\xDF\xA3\xA3\x42\x86\x81\x01\x42\x82\x88matroska", 20), "mkv"},
        {"%PDF-1.7\n", "pdf"},
        {Bytes("PK\x03\x04\x14\x00", 6), "zip"},
        {"<html><body>", ""},
        {"FLV", ""},  // too short for its version byte
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DecideType(c.bytes, "", ""), c.type) << c.bytes.substr(0, 8);
        // A look decodes only the leading bytes the first ones say DecideType can use.
        const std::string wanted = c.bytes.substr(0, TypeLeadingBytesWanted(c.bytes));
        EXPECT_EQ(DecideType(wanted, "", ""), c.type) << c.bytes.substr(0, 8);
        // A signature outweighs what the server claimed and what the URL says.
        if (*c.type != '\0') {
            EXPECT_EQ(DecideType(c.bytes, "text/html", "http://h/page.php"), c.type);
        }
    }
}

TEST(MediaType, ContentTypeThenUrlEnding) {
    const struct {
        const char* contentType;
        const char* url;
        const char* type;
    } cases[] = {
        {"video/x-flv", "http://h/stream/12345", "flv"},
        {"audio/mpeg", "http://h/getaudio?id=7", "mp3"},
        {"Video/MP4; codecs=\"avc1\"", "http://h/v", "mp4"},
        {"application/x-shockwave-flash", "http://h/game", "swf"},
        {"image/jpeg", "http://h/photo.jpeg", "jpeg"},  // same family: the URL's choice is kept
        {"image/jpeg", "http://h/photo.png", "jpg"},    // another family: the server wins
        {"text/html; charset=utf-8", "http://h/", "html"},
        {"text/html", "http://h/index.htm", "htm"},
        {"text/css", "http://h/s", "css"},
        {"application/javascript", "http://h/app.mjs", "mjs"},
        {"application/json", "http://h/api", "json"},
        {"image/svg+xml", "http://h/i", "svg"},
        {"text/xml", "http://h/feed", "xml"},
        {"application/octet-stream", "http://h/a/clip.FLV?x=1#t", "flv"},
        {"binary/octet-stream", "http://h/song.mp3", "mp3"},
        {"text/plain", "http://h/data.json", "json"},
        {"application/octet-stream", "http://h/stream/12345", ""},
        {"application/x-unheard-of", "http://h/a.b.tar.gz", "gz"},
        {"", "http://h/dir.v2/file", ""},
        {"", "http://h/file.", ""},
        {"", "http://h/file.toolongending", ""},
        {"", "http://h/file.m%70%33", "mp3"},
        {"", "http://example.com", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DecideType("", c.contentType, c.url), c.type) << c.contentType << " " << c.url;
    }
}

TEST(MediaType, UrlEndingOfTheSignaturesFamilyIsKeptWhole) {
    const std::string ftyp = Ftyp("isom");
    const std::string ftypAudio = Ftyp("M4A ");
    const struct {
        std::string bytes;
        const char* contentType;
        const char* url;
        const char* type;
    } cases[] = {
        {Bytes("\xFF\xD8\xFF\xE1", 4), "", "http://h/p.JPEG", "jpeg"},
        {Bytes("\xFF\xD8\xFF\xE1", 4), "image/png", "http://h/p.png", "jpg"},
        {ftyp, "", "http://h/a.m4a", "m4a"},
        {ftyp, "", "http://h/a.m4v", "m4v"},
        {ftyp, "", "http://h/a.mov", "mov"},
        {ftyp, "audio/mp4", "http://h/a", "m4a"},       // a generic brand lets the server say more
        {ftypAudio, "video/mp4", "http://h/a", "m4a"},  // a specific brand does not
        {ftyp, "video/mp4", "http://h/a.flv", "mp4"},
        {Bytes(".RMF\x00\x00", 6), "", "http://h/film.rmvb", "rmvb"},
        {Bytes(".RMF\x00\x00", 6), "application/vnd.rn-realmedia-vbr", "http://h/film", "rmvb"},
        {kAsfHeader + kAsfVideo, "", "http://h/song.wma", "wma"},
        {kAsfHeader, "audio/x-ms-wma", "http://h/song", "wma"},
        {Bytes("PK\x03\x04", 4), "", "http://h/report.docx", "docx"},
        {Bytes("\x1A\x45\xDF\xA3", 4), "", "http://h/a.mkv", "mkv"},
        {"ID3\x04\x00", "application/octet-stream", "http://h/a.wav", "mp3"},
        // Only whole endings and whole Content-Types count, whatever their case and spaces.
        {Bytes("\xFF\xD8\xFF\xE1", 4), "", "http://h/p.jp", "jpg"},
        {Bytes("\xFF\xD8\xFF\xE1", 4), "", "http://h/p.fif", "jpg"},
        {ftyp, "", "http://h/a.m4", "mp4"},
        {ftyp, "", "http://h/a.4a", "mp4"},
        {ftyp, "audio/mp", "http://h/a", "mp4"},
        {"", "image/tiff", "http://h/a.ti", "tif"},
        {"", "image/tiff", "http://h/a.tiff", "tiff"},
        {"", "text/javascript", "http://h/a.j", "js"},
        {"", "TEXT/CSS", "http://h/s", "css"},
        {"", " Image/SVG+XML ;x", "http://h/s", "svg"},
        {"", "\tAUDIO/X-MS-WMA\t", "http://h/s", "wma"},
        {"", "text/cs", "http://h/s", ""},
        {"", "text/csss", "http://h/s", ""},
        {"", "image/jpe", "http://h/s", ""},
        {"", "text/css2", "http://h/a.css", "css"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DecideType(c.bytes, c.contentType, c.url), c.type) << c.contentType << " " << c.url;
    }
}

TEST(MediaType, MediaSegmentsOfMp4AreNamedByTheirTracks) {
    const std::string ftyp = Ftyp("iso5");
    using T = MovieTracks;
    const struct {
        const char* what;
        std::string bytes;
        const char* contentType;
        const char* url;
        MovieTracks tracks;
        const char* type;
    } cases[] = {
        {"a picture track", ftyp, "video/mp4", "http://h/77001-1-30064.m4s", T::Picture, "mp4"},
        {"a sound track", ftyp, "video/mp4", "http://h/77001-1-30280.m4s", T::SoundOnly, "m4a"},
        {"tracks unknown", ftyp, "", "http://h/a.m4s", T::Unknown, "mp4"},
        {"tracks unknown, served as sound", ftyp, "audio/mp4", "http://h/a.m4s", T::Unknown, "m4a"},
        {"tracks unknown, a sound brand", Ftyp("M4A "), "", "http://h/a.m4s", T::Unknown, "m4a"},
        {"tracks unknown, CMAF sound", ftyp, "", "http://h/a.cmfa", T::Unknown, "m4a"},
        {"tracks unknown, .cmfv served as sound", ftyp, "audio/mp4", "http://h/a.cmfv", T::Unknown, "m4a"},
        {"the tracks outweigh the server", ftyp, "audio/mp4", "http://h/a.cmfa", T::Picture, "mp4"},
        {"a sound-only .mp4", ftyp, "video/mp4", "http://h/song.mp4", T::SoundOnly, "m4a"},
        {"a picture in .m4a", ftyp, "", "http://h/clip.m4a", T::Picture, "mp4"},
        {"a picture in .m4v", ftyp, "", "http://h/clip.M4V", T::Picture, "mp4"},
        {"a whole file's ending kept while tracks are unknown", ftyp, "", "http://h/clip.m4v", T::Unknown,
         "m4v"},
        {".dash", ftyp, "", "http://h/v.dash", T::SoundOnly, "m4a"},
        {"a QuickTime brand", Ftyp("qt  "), "", "http://h/a.m4s", T::Unknown, "mp4"},
        {"no segment ending: tracks not asked", ftyp, "", "http://h/stream/1", T::SoundOnly, "mp4"},
        {"not an MP4 family signature", Ftyp("avif"), "", "http://h/a.m4s", T::Picture, "avif"},
        {"no MP4 bytes", "FLV\x01\x05", "", "http://h/a.m4s", T::Picture, "flv"},
        {"no bytes at all", "", "", "http://h/a.m4s", T::SoundOnly, "m4s"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DecideType(c.bytes, c.contentType, c.url, c.tracks), c.type) << c.what;
    }
    // The moov is wanted only where its tracks decide the name.
    EXPECT_EQ(TypeLeadingBytesWanted(ftyp, "http://h/a.m4s?x=1"), kTypeLeadingBytes);
    EXPECT_EQ(TypeLeadingBytesWanted(ftyp, "http://h/a.MP4"), kTypeLeadingBytes);
    EXPECT_EQ(TypeLeadingBytesWanted(ftyp, "http://h/stream/1"), kTypeSignatureBytes);
    EXPECT_EQ(TypeLeadingBytesWanted(ftyp), kTypeSignatureBytes);
    EXPECT_EQ(TypeLeadingBytesWanted("FLV\x01\x05", "http://h/a.m4s"), kTypeSignatureBytes);
}

// UrlEnding reads the segment backwards; this is the plain way round: decode it all, then look for the dot.
std::string EndingOfDecodedSegment(std::string_view url) {
    std::string segment = PercentDecode(UrlLastSegment(url));
    std::transform(segment.begin(), segment.end(), segment.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    const std::size_t dot = segment.rfind('.');
    if (dot == std::string::npos || dot + 1 == segment.size() || segment.size() - dot - 1 > 10) {
        return {};
    }
    const std::string ending = segment.substr(dot + 1);
    const bool plain = std::all_of(ending.begin(), ending.end(),
                                   [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); });
    return plain ? ending : std::string();
}

TEST(MediaType, UrlEndingDecodesLikeTheWholeSegment) {
    const char* cases[] = {
        "http://h/a.%41bcdefghij", "http://h/a.%41bcdefghijk", "http://h/a%2Emp3",   "http://h/a%252Emp3",
        "http://h/%%2Emp3",        "http://h/a.mp%3",          "http://h/a.M%50%34", "http://h/a.mp4%",
        "http://h/a.%C3%A4",       "http://h/a.%2e",           "http://h/%2E%2E",    "http://h/a.b%2F",
    };
    for (const char* url : cases) {
        EXPECT_EQ(UrlEnding(url), EndingOfDecodedSegment(url)) << url;
    }
    // Every segment of up to five characters from an alphabet rich in escapes and dots.
    const std::string alphabet = ".%2Ee5Ax_";
    std::string segment;
    for (std::size_t count = 1, total = 1; count <= 5; ++count) {
        total *= alphabet.size();
        for (std::size_t n = 0; n < total; ++n) {
            segment.clear();
            for (std::size_t k = 0, rest = n; k < count; ++k, rest /= alphabet.size()) {
                segment += alphabet[rest % alphabet.size()];
            }
            const std::string url = "http://h/d/f" + segment;
            ASSERT_EQ(UrlEnding(url), EndingOfDecodedSegment(url)) << url;
        }
    }
}

}  // namespace
}  // namespace drovan::tests
