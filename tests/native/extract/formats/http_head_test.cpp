#include "extract/formats/http_head.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "extract/formats/cache_key.h"
#include "extract/formats/completeness.h"
#include "tests/support/cache_builders.h"

namespace drovan::tests {
namespace {

TEST(CacheKeys, UrlIsTheKeyWithoutItsPartition) {
    const struct {
        const char* key;
        const char* url;
    } chromium[] = {
        {"1/0/_dk_http://127.0.0.1 http://127.0.0.1 http://127.0.0.1:34439/a/b/song.mp3",
         "http://127.0.0.1:34439/a/b/song.mp3"},
        {"1/0/_dk_s_http://a.example http://b.example 3 https://cdn.example/x.flv",
         "https://cdn.example/x.flv"},
        {"1/0/https://example.com/x.png", "https://example.com/x.png"},
        {"0/https://example.com/x.png", "https://example.com/x.png"},
        {"https://example.com/x.png", "https://example.com/x.png"},
        {"_dk_https://a.example https://a.example https://a.example/v.mp4", "https://a.example/v.mp4"},
        {"Range_1/0/_dk_http://h http://h http://h/v.mp4:12345:7", "http://h/v.mp4"},
        {"1/0/_dk_http://h http://h", ""},
        {"1/0/", ""},
        {"", ""},
    };
    for (const auto& c : chromium) {
        EXPECT_EQ(UrlFromChromiumKey(c.key), c.url) << c.key;
    }
    const struct {
        const char* key;
        const char* url;
    } firefox[] = {
        {"O^partitionKey=%28http%2C127.0.0.1%29,:http://127.0.0.1:45263/img/photo.jpg",
         "http://127.0.0.1:45263/img/photo.jpg"},
        {"O^partitionKey=%28http%2C127.0.0.1%29,a,~FETCH,:http://localhost/cdn/other.flv",
         "http://localhost/cdn/other.flv"},
        {":http://example.com/a.png", "http://example.com/a.png"},
        {"O^firstPartyDomain=a,,:b,:http://x/y", "http://x/y"},
        {"a,b", ""},
        {"a,:not a url", ""},
    };
    for (const auto& c : firefox) {
        EXPECT_EQ(UrlFromFirefoxKey(c.key), c.url) << c.key;
    }
}

TEST(StoredHeaders, HeadFillsTheEntry) {
    constexpr char kChromium[] =
        "HTTP/1.1 206 Partial Content\0Content-Type: Video/MP4; codecs=x\0"
        "content-range: bytes 0-99/1000\0Content-Length: 1000\0Last-Modified: Sun, 06 Nov 1994 08:49:37 GMT\0"
        "Last-Modified: Mon, 07 Nov 1994 08:49:37 GMT\0\0";
    const std::string chromium(kChromium, sizeof kChromium - 1);
    const auto head = ParseHeaderLines(chromium);
    ASSERT_TRUE(head);
    CacheEntry entry;
    ApplyHead(*head, entry);
    EXPECT_EQ(entry.status, 206);
    EXPECT_EQ(entry.contentType, "video/mp4");
    EXPECT_EQ(entry.contentLength, 1000u);
    ASSERT_TRUE(entry.contentRange);
    EXPECT_EQ(entry.contentRange->last, 99u);
    EXPECT_EQ(entry.contentRange->total, 1000u);
    EXPECT_EQ(entry.lastModified, 784111777);

    const auto firefox =
        ParseHeaderLines("HTTP/1.1 200 OK\r\nContent-Encoding: br\r\nContent-Range: bytes 9-1/5\r\n");
    ASSERT_TRUE(firefox);
    CacheEntry other;
    ApplyHead(*firefox, other);
    EXPECT_EQ(other.contentEncoding, "br");
    EXPECT_FALSE(other.contentRange);
    EXPECT_FALSE(other.lastModified);
    EXPECT_FALSE(ParseHeaderLines("Content-Type: x\r\n"));
    EXPECT_FALSE(ParseHeaderLines("HTTP/1.1 2x0 OK"));
}

TEST(StoredHeaders, LinesEndAtEitherSeparatorAndTheFirstOfANameCounts) {
    using namespace std::string_literals;
    const struct {
        std::string text;
        const char* type;
        std::optional<std::uint64_t> length;
    } cases[] = {
        {"HTTP/1.1 200 OK\nContent-Type: a/b\0Content-Length: 7\r\n"s, "a/b", 7},
        {"HTTP/1.1 200 OK\0\0\nContent-Length: 9\0Content-Length: 8\0"s, "", 9},
        {"HTTP/1.1 200 OK\r\n\r\ncontent-type: X/Y\r\nContent-Type: z/z\r\nContent-Length: 3", "x/y", 3},
        {"HTTP/1.1 200 OK\nContent-Length:  12 \nBroken line\n: no name\n", "", 12},
    };
    for (const auto& c : cases) {
        const auto head = ParseHeaderLines(c.text);
        ASSERT_TRUE(head) << c.text;
        CacheEntry entry;
        ApplyHead(*head, entry);
        EXPECT_EQ(entry.status, 200) << c.text;
        EXPECT_EQ(entry.contentType, c.type) << c.text;
        EXPECT_EQ(entry.contentLength, c.length) << c.text;
    }
}

std::string Pickle(std::uint32_t flags, const std::string& headers, std::size_t cut = 0) {
    std::string payload;
    auto u32 = [&payload](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            payload += static_cast<char>(v >> (8 * i));
        }
    };
    u32(flags);
    if (flags & 0x80000000u) {
        u32(4);  // original response time follows
    }
    payload += std::string(flags & 0x80000000u ? 24 : 16, '\x01');
    u32(static_cast<std::uint32_t>(headers.size()));
    payload += headers;
    payload += std::string((4 - headers.size() % 4) % 4, '\0');
    std::string pickle;
    std::swap(pickle, payload);
    u32(static_cast<std::uint32_t>(pickle.size()));
    return (payload + pickle).substr(0, payload.size() + pickle.size() - cut);
}

TEST(StoredHeaders, ChromiumResponseInfoIsReadOrRefused) {
    constexpr char kHeaders[] = "HTTP/1.1 200 OK\0Content-Length: 5\0\0";
    const std::string headers(kHeaders, sizeof kHeaders - 1);
    const auto plain = ParseChromiumResponseInfo(Pickle(3, headers));
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->head.status, 200);
    EXPECT_FALSE(plain->truncated);
    // Microseconds since 1601 in the pickle, seconds since 1970 out.
    EXPECT_EQ(plain->responseTime, 0x0101010101010101 / 1000000 - 11644473600);
    const auto truncated = ParseChromiumResponseInfo(Pickle(0x80041003u, headers));
    ASSERT_TRUE(truncated);
    EXPECT_TRUE(truncated->truncated);
    EXPECT_FALSE(ParseChromiumResponseInfo(Pickle(2, headers)));
    EXPECT_FALSE(ParseChromiumResponseInfo(Pickle(3, headers, 8)));
    EXPECT_FALSE(ParseChromiumResponseInfo(std::string("\xff\xff\xff\x7f", 4)));
}

TEST(StoredHeaders, CompletenessNeedsEveryByteFromZero) {
    const struct {
        int status;
        std::optional<std::uint64_t> length;
        std::optional<ContentRange> range;
        std::vector<std::pair<std::uint64_t, std::uint64_t>> pieces;  // body offset, length
        bool truncated;
        const char* state;
    } cases[] = {
        {200, 10, {}, {{0, 10}}, false, "complete"},
        {200, {}, {}, {{0, 7}}, false, "complete"},
        {200, 10, {}, {{0, 4}}, false, "incomplete"},
        {200, 10, {}, {{0, 10}}, true, "incomplete"},
        {206, 10, ContentRange{0, 9, 10}, {{5, 5}, {0, 5}}, false, "complete"},
        {206, 10, ContentRange{0, 9, 10}, {{0, 4}, {5, 5}}, false, "incomplete"},
        {206, 10, ContentRange{0, 9, std::nullopt}, {{0, 10}}, false, "incomplete"},
        {206, 10, ContentRange{5, 9, 10}, {{5, 5}, {0, 5}}, false, "complete"},
        {206, 10, ContentRange{5, 9, 10}, {{5, 5}}, false, "incomplete"},
        {404, {}, {}, {{0, 3}}, false, "incomplete"},
        {204, {}, {}, {}, false, "no-body"},
        {205, {}, {}, {}, true, "no-body"},
        {200, 0, {}, {}, false, "no-body"},
        {200, {}, {}, {}, false, "no-body"},
        {200, 10, {}, {}, false, "incomplete"},
        {200, 0, {}, {}, true, "incomplete"},
    };
    for (const auto& c : cases) {
        CacheEntry entry;
        entry.status = c.status;
        entry.contentLength = c.length;
        entry.contentRange = c.range;
        entry.truncated = c.truncated;
        for (const auto& [offset, length] : c.pieces) {
            entry.pieces.push_back({u"f", 0, length, offset});
            entry.storedSize += length;
        }
        DecideCompleteness(entry);
        EXPECT_EQ(tests::StateOf(entry), c.state) << c.status << " pieces " << c.pieces.size();
    }
}

}  // namespace
}  // namespace drovan::tests
