#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "extract/formats/cache_key.h"
#include "extract/formats/completeness.h"
#include "extract/formats/http_head.h"

namespace {

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

void CheckHead(const drovan::HttpHead& head) {
    Require(head.status >= 0 && head.status <= 999);
    drovan::CacheEntry entry;
    drovan::ApplyHead(head, entry);
    Require(entry.status == head.status);
    if (entry.contentRange) {
        Require(entry.contentRange->first <= entry.contentRange->last);
        Require(!entry.contentRange->total || *entry.contentRange->total > entry.contentRange->last);
    }
    entry.pieces.push_back({u"f", 0, entry.contentLength.value_or(1), 0});
    entry.storedSize = entry.pieces[0].length;
    drovan::DecideCompleteness(entry);
    Require(!entry.complete || entry.status == 200 || entry.status == 206);
}

}  // namespace

// The same bytes as a pickled Chromium response info, as header lines, and as both kinds of cache key.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (const auto info = drovan::ParseChromiumResponseInfo(bytes)) {
        CheckHead(info->head);
    }
    if (const auto head = drovan::ParseHeaderLines(bytes)) {
        CheckHead(*head);
    }
    const std::string chromiumUrl = drovan::UrlFromChromiumKey(bytes);
    Require(chromiumUrl.size() <= size &&
            (chromiumUrl.empty() || bytes.find(chromiumUrl) != std::string_view::npos));
    const std::string firefoxUrl = drovan::UrlFromFirefoxKey(bytes);
    Require(firefoxUrl.size() <= size &&
            (firefoxUrl.empty() || bytes.find(firefoxUrl) != std::string_view::npos));
    return 0;
}
