#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "extract/formats/cache_entry.h"

namespace drovan {

// A stored response's status line and header lines; names and values are views into the parsed text.
struct HttpHead {
    int status = 0;
    std::vector<std::pair<std::string_view, std::string_view>> headers;
};

// Lines separated by NUL (Chromium's raw headers) or by CRLF/LF (Firefox's response-head).
std::optional<HttpHead> ParseHeaderLines(std::string_view text);

struct ChromiumResponseInfo {
    HttpHead head;
    bool truncated = false;
    std::optional<std::int64_t> responseTime;  // seconds since 1970 UTC
};

// The pickled response info of a Chromium entry's stream 0; the head views into pickle.
std::optional<ChromiumResponseInfo> ParseChromiumResponseInfo(std::string_view pickle);

// Status, Content-Type (without parameters), Content-Encoding, Content-Length, Content-Range and
// Last-Modified into entry.
void ApplyHead(const HttpHead& head, CacheEntry& entry);

}  // namespace drovan
