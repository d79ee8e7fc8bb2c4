#pragma once

#include <optional>
#include <string>
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

// Status, Content-Type (without parameters), Content-Encoding, Content-Length, Content-Range and Last-Modified
// into entry.
void ApplyHead(const HttpHead& head, CacheEntry& entry);

// Decides entry.complete from its status, lengths, truncation and pieces: a 200 whose pieces hold exactly
// Content-Length bytes (or any stored length when there is none), or a 206 whose pieces cover
// [0, total) with no gap. A 204, a 205 or a 200 that is empty by its headers and its pieces has no body.
void DecideCompleteness(CacheEntry& entry);

// The URL inside a key: Chromium's "1/0/_dk_<site> <site> <url>" and older forms, a blockfile child's
// "Range_<key>:<sig>:<n>"; Firefox's "<tags>,:<url>". Empty when there is none.
std::string UrlFromChromiumKey(std::string_view key);
std::string UrlFromFirefoxKey(std::string_view key);

}  // namespace drovan
