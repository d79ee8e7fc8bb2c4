#include "extract/formats/http_head.h"

#include <algorithm>
#include <cstdint>

#include "extract/ascii.h"
#include "extract/formats/byte_reader.h"
#include "extract/formats/http_date.h"

namespace drovan {
namespace {

constexpr std::uint32_t kResponseInfoVersion = 3;
constexpr std::uint32_t kFlagTruncated = 1u << 12;
constexpr std::uint32_t kFlagHasExtraFlags = 1u << 31;
constexpr std::uint32_t kExtraFlagOriginalResponseTime = 1u << 2;

// Digits only, no sign, no overflow.
std::optional<std::uint64_t> ParseDecimal(std::string_view text) {
    if (text.empty() || text.size() > 19) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return value;
}

// "HTTP/1.1 206 Partial Content" -> 206.
int ParseStatusLine(std::string_view line) {
    if (line.substr(0, 5) != "HTTP/") {
        return 0;
    }
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos) {
        return 0;
    }
    const std::string_view code = line.substr(space + 1, 3);
    const std::optional<std::uint64_t> value = ParseDecimal(code);
    if (code.size() != 3 || !value) {
        return 0;
    }
    return static_cast<int>(*value);
}

// "bytes 0-99/1000" or "bytes 0-99/*".
std::optional<ContentRange> ParseContentRange(std::string_view value) {
    value = TrimBlanks(value);
    if (!EqualsIgnoringAsciiCase(value.substr(0, 6), "bytes ")) {
        return std::nullopt;
    }
    value = TrimBlanks(value.substr(6));
    const std::size_t dash = value.find('-');
    const std::size_t slash = value.find('/');
    if (dash == std::string_view::npos || slash == std::string_view::npos || dash > slash) {
        return std::nullopt;
    }
    const auto first = ParseDecimal(TrimBlanks(value.substr(0, dash)));
    const auto last = ParseDecimal(TrimBlanks(value.substr(dash + 1, slash - dash - 1)));
    if (!first || !last || *first > *last) {
        return std::nullopt;
    }
    ContentRange range{*first, *last, std::nullopt};
    const std::string_view total = TrimBlanks(value.substr(slash + 1));
    if (total != "*") {
        range.total = ParseDecimal(total);
        if (!range.total || *range.total <= *last) {
            return std::nullopt;
        }
    }
    return range;
}

// Chromium's times count microseconds since 1601; zero and times before 1970 stand for none.
std::optional<std::int64_t> UnixSeconds(std::uint64_t chromiumTime) {
    constexpr std::uint64_t kSecondsFrom1601To1970 = 11644473600;
    const std::uint64_t seconds = chromiumTime / 1000000;
    if (seconds <= kSecondsFrom1601To1970 || seconds - kSecondsFrom1601To1970 > INT64_MAX) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(seconds - kSecondsFrom1601To1970);
}

bool ReadPickleString(ByteReader& reader, std::string_view& text) {
    std::uint32_t length = 0;
    if (!reader.U32LE(length) || !reader.Bytes(length, text)) {
        return false;
    }
    const std::size_t padding = (4 - length % 4) % 4;
    return reader.Skip(std::min(padding, reader.remaining()));
}

}  // namespace

std::optional<HttpHead> ParseHeaderLines(std::string_view text) {
    HttpHead head;
    // Stored heads rarely hold more: one allocation for most.
    head.headers.reserve(16);
    bool statusSeen = false;
    // Lines end at either separator; the next of each is found once, not once per line.
    std::size_t nextNul = text.find('\0');
    std::size_t nextNewline = text.find('\n');
    for (std::size_t start = 0; start < text.size();) {
        if (nextNul < start) {
            nextNul = text.find('\0', start);
        }
        if (nextNewline < start) {
            nextNewline = text.find('\n', start);
        }
        const std::size_t end = std::min(std::min(nextNul, nextNewline), text.size());
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.empty()) {
            continue;
        }
        if (!statusSeen) {
            head.status = ParseStatusLine(line);
            if (head.status == 0) {
                return std::nullopt;
            }
            statusSeen = true;
            continue;
        }
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0) {
            continue;
        }
        head.headers.emplace_back(TrimBlanks(line.substr(0, colon)), TrimBlanks(line.substr(colon + 1)));
    }
    if (!statusSeen) {
        return std::nullopt;
    }
    return head;
}

std::optional<ChromiumResponseInfo> ParseChromiumResponseInfo(std::string_view pickle) {
    ByteReader reader(pickle);
    std::uint32_t payloadSize = 0;
    if (!reader.U32LE(payloadSize) || payloadSize > reader.remaining()) {
        return std::nullopt;
    }
    ByteReader payload(pickle.substr(4, payloadSize));
    std::uint32_t flags = 0;
    if (!payload.U32LE(flags) || (flags & 0xFF) != kResponseInfoVersion) {
        return std::nullopt;
    }
    std::uint32_t extraFlags = 0;
    if ((flags & kFlagHasExtraFlags) != 0 && !payload.U32LE(extraFlags)) {
        return std::nullopt;
    }
    std::uint64_t requestTime = 0;
    std::uint64_t responseTime = 0;
    if (!payload.U64LE(requestTime) || !payload.U64LE(responseTime)) {
        return std::nullopt;
    }
    std::uint64_t originalResponseTime = 0;
    if ((extraFlags & kExtraFlagOriginalResponseTime) != 0 && !payload.U64LE(originalResponseTime)) {
        return std::nullopt;
    }
    std::string_view rawHeaders;
    if (!ReadPickleString(payload, rawHeaders)) {
        return std::nullopt;
    }
    std::optional<HttpHead> head = ParseHeaderLines(rawHeaders);
    if (!head) {
        return std::nullopt;
    }
    return ChromiumResponseInfo{std::move(*head), (flags & kFlagTruncated) != 0, UnixSeconds(responseTime)};
}

void ApplyHead(const HttpHead& head, CacheEntry& entry) {
    entry.status = head.status;
    // One pass over the headers; the first of each name counts.
    bool typeSeen = false;
    bool encodingSeen = false;
    bool lengthSeen = false;
    bool rangeSeen = false;
    bool modifiedSeen = false;
    auto firstOf = [](bool& seen, std::string_view name, std::string_view wanted) {
        if (seen || !EqualsIgnoringAsciiCase(name, wanted)) {
            return false;
        }
        seen = true;
        return true;
    };
    for (const auto& [name, value] : head.headers) {
        if (firstOf(typeSeen, name, "Content-Type")) {
            entry.contentType.assign(TrimBlanks(value.substr(0, value.find(';'))));
            std::transform(entry.contentType.begin(), entry.contentType.end(), entry.contentType.begin(),
                           LowerAscii<char>);
        } else if (firstOf(encodingSeen, name, "Content-Encoding")) {
            entry.contentEncoding = std::string(value);
        } else if (firstOf(lengthSeen, name, "Content-Length")) {
            entry.contentLength = ParseDecimal(value);
        } else if (firstOf(rangeSeen, name, "Content-Range")) {
            entry.contentRange = ParseContentRange(value);
        } else if (firstOf(modifiedSeen, name, "Last-Modified")) {
            entry.lastModified = ParseHttpDate(value);
        }
    }
}

}  // namespace drovan
