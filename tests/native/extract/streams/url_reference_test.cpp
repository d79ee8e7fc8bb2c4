#include "extract/streams/url_reference.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace drovan::tests {
namespace {

// RFC 3986 §5.4's examples, fragments dropped and "//g" given its "/".
TEST(ResolveUrl, ResolvesTheReferenceExamples) {
    constexpr const char* kBase = "http://a/b/c/d;p?q";
    const struct {
        const char* reference;
        const char* resolved;
    } kCases[] = {
        {"g:h", "g:h"},
        {"g", "http://a/b/c/g"},
        {"./g", "http://a/b/c/g"},
        {"g/", "http://a/b/c/g/"},
        {"/g", "http://a/g"},
        {"//g", "http://g/"},
        {"?y", "http://a/b/c/d;p?y"},
        {"g?y", "http://a/b/c/g?y"},
        {"#s", "http://a/b/c/d;p?q"},
        {"g?y#s", "http://a/b/c/g?y"},
        {";x", "http://a/b/c/;x"},
        {"", "http://a/b/c/d;p?q"},
        {".", "http://a/b/c/"},
        {"..", "http://a/b/"},
        {"../g", "http://a/b/g"},
        {"../..", "http://a/"},
        {"../../g", "http://a/g"},
        {"../../../g", "http://a/g"},
        {"../../../../g", "http://a/g"},
        {"/./g", "http://a/g"},
        {"/../g", "http://a/g"},
        {"g.", "http://a/b/c/g."},
        {"..g", "http://a/b/c/..g"},
        {"./../g", "http://a/b/g"},
        {"./g/.", "http://a/b/c/g/"},
        {"g/./h", "http://a/b/c/g/h"},
        {"g/../h", "http://a/b/c/h"},
        {"g;x=1/./y", "http://a/b/c/g;x=1/y"},
        {"g;x=1/../y", "http://a/b/c/y"},
        {"g?y/./x", "http://a/b/c/g?y/./x"},
        {"g#s/../x", "http://a/b/c/g"},
        {"http:g", "http:g"},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(ResolveUrl(kBase, c.reference), std::optional<std::string>(c.resolved)) << c.reference;
    }
}

TEST(ResolveUrl, NormalisesWhatCachesKeyByAndNeedsAnAbsoluteUrl) {
    const std::optional<std::string> none;
    const struct {
        const char* base;
        const char* reference;
        std::optional<std::string> resolved;
    } kCases[] = {
        {"HTTPS://User@CDN.Example.COM:8443/Live/a.mpd", "seg/1.m4s",
         "https://User@cdn.example.com:8443/Live/seg/1.m4s"},
        {"https://cdn.example", "init.mp4", "https://cdn.example/init.mp4"},
        {"https://cdn.example", "", "https://cdn.example/"},
        {"https://cdn.example/a/b.m3u8?token=1#t=5", "", "https://cdn.example/a/b.m3u8?token=1"},
        {"https://cdn.example/a/b.m3u8?token=1", "c.ts", "https://cdn.example/a/c.ts"},
        {"https://cdn.example/a/b.m3u8", "https://other.example/x/../y.ts", "https://other.example/y.ts"},
        {"", "https://other.example/y.ts", "https://other.example/y.ts"},
        {"/relative/base.mpd", "https://other.example/y.ts", "https://other.example/y.ts"},
        {"/relative/base.mpd", "y.ts", none},
        {"", "", none},
        {"1http://a/b", "c", none},
        {"a/b:c", "d", none},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(ResolveUrl(c.base, c.reference), c.resolved) << c.base << " + " << c.reference;
    }
}

}  // namespace
}  // namespace drovan::tests
