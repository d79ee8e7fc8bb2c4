#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "extract/streams/webvtt_join.h"

namespace {

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// Every lone LF made a CRLF: the same lines.
std::string WithCrLf(std::string_view text) {
    std::string converted;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) {
            converted.push_back('\r');
        }
        converted.push_back(text[i]);
    }
    return converted;
}

bool TakeNumber(std::string_view& text, std::size_t digits, int last) {
    if (text.size() < digits) {
        return false;
    }
    int value = 0;
    for (std::size_t i = 0; i < digits; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        value = value * 10 + (text[i] - '0');
    }
    text.remove_prefix(digits);
    return value <= last;
}

bool TakeChar(std::string_view& text, char c) {
    if (text.empty() || text[0] != c) {
        return false;
    }
    text.remove_prefix(1);
    return true;
}

// hh:mm:ss.ttt, as a string that compares in time order.
std::optional<std::string_view> TakeTime(std::string_view& text) {
    const std::string_view start = text;
    if (TakeNumber(text, 2, 99) && TakeChar(text, ':') && TakeNumber(text, 2, 59) && TakeChar(text, ':') &&
        TakeNumber(text, 2, 59) && TakeChar(text, '.') && TakeNumber(text, 3, 999)) {
        return start.substr(0, 12);
    }
    return std::nullopt;
}

// A timing line as the joiner writes it: `hh:mm:ss.ttt --> hh:mm:ss.ttt`, then nothing or a space and
// settings.
bool IsWrittenTiming(std::string_view line) {
    const std::optional<std::string_view> start = TakeTime(line);
    if (!start || line.substr(0, 5) != " --> ") {
        return false;
    }
    line.remove_prefix(5);
    const std::optional<std::string_view> end = TakeTime(line);
    return end && *start <= *end && (line.empty() || (line[0] == ' ' && line.size() > 1 && line[1] != ' '));
}

}  // namespace

// Input: five bytes of the video's first timestamp, then segments split at 0xFF bytes. Whatever they hold, a
// join starts with the one header, ends with a newline, stays within twice the input, writes only timing
// lines that read back, and reads CRLF as LF and timestamps modulo 2^33.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 5) {
        return 0;
    }
    std::uint64_t zeroTicks = 0;
    for (std::size_t i = 0; i < 5; ++i) {
        zeroTicks = zeroTicks << 8 | data[i];
    }
    const std::string_view text(reinterpret_cast<const char*>(data + 5), size - 5);
    std::vector<std::string_view> segments;
    std::vector<std::string> crlfSegments;
    for (std::size_t at = 0; at <= text.size();) {
        const std::size_t end = std::min(text.find('\xFF', at), text.size());
        segments.push_back(text.substr(at, end - at));
        crlfSegments.push_back(WithCrLf(segments.back()));
        at = end + 1;
    }
    const std::optional<std::string> joined = drovan::JoinWebVtt(segments, zeroTicks);
    const std::vector<std::string_view> crlfViews(crlfSegments.begin(), crlfSegments.end());
    Require(drovan::JoinWebVtt(crlfViews, zeroTicks) == joined);
    Require(drovan::JoinWebVtt(segments, zeroTicks + (std::uint64_t{1} << 33)) == joined);
    if (!joined) {
        return 0;
    }
    Require(joined->substr(0, 7) == "WEBVTT\n" && joined->back() == '\n');
    Require(joined->size() <= 2 * text.size() + 16);
    for (std::size_t at = 7; at < joined->size();) {
        const std::size_t end = joined->find('\n', at);
        const std::string_view line = std::string_view(*joined).substr(at, end - at);
        Require(line.find('\r') == std::string_view::npos);
        Require(line.find("-->") == std::string_view::npos || IsWrittenTiming(line));
        at = end + 1;
    }
    return 0;
}
