#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "extract/formats/http_date.h"

namespace {

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

constexpr std::int64_t kFirstSecond = -62167219200;  // 0000-01-01 00:00:00
constexpr std::int64_t kEndSecond = 253402300800;    // 10000-01-01 00:00:00, a leap second after the last

constexpr const char* kDays[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
constexpr const char* kLongDays[] = {"Monday", "Tuesday",  "Wednesday", "Thursday",
                                     "Friday", "Saturday", "Sunday"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

struct Civil {
    long long year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int weekday = 0;  // 0 is Monday
};

// The calendar date of a day count, the inverse of the parser's, worked out from the other side.
Civil CivilOf(std::int64_t seconds) {
    const std::int64_t days = (seconds >= 0 ? seconds : seconds - 86399) / 86400;
    const std::int64_t rest = seconds - days * 86400;
    Civil date;
    date.hour = static_cast<int>(rest / 3600);
    date.minute = static_cast<int>(rest / 60 % 60);
    date.second = static_cast<int>(rest % 60);
    date.weekday = static_cast<int>(((days + 3) % 7 + 7) % 7);  // 1970-01-01 was a Thursday
    const std::int64_t shifted = days + 719468;
    const std::int64_t era = (shifted >= 0 ? shifted : shifted - 146096) / 146097;
    const std::int64_t dayOfEra = shifted - era * 146097;
    const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
    date.day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
    date.month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    date.year = yearOfEra + era * 400 + (date.month <= 2 ? 1 : 0);
    return date;
}

std::string ImfFixdate(const Civil& date) {
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %04lld %02d:%02d:%02d GMT", kDays[date.weekday], date.day,
                  kMonths[date.month - 1], date.year, date.hour, date.minute, date.second);
    return text;
}

std::string Rfc850Date(const Civil& date) {
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d-%s-%02lld %02d:%02d:%02d GMT", kLongDays[date.weekday],
                  date.day, kMonths[date.month - 1], date.year % 100, date.hour, date.minute, date.second);
    return text;
}

std::string AsctimeDate(const Civil& date) {
    char text[64];
    std::snprintf(text, sizeof text, "%s %s %2d %02d:%02d:%02d %04lld", kDays[date.weekday],
                  kMonths[date.month - 1], date.day, date.hour, date.minute, date.second, date.year);
    return text;
}

void RequireParsesTo(const std::string& text, std::int64_t seconds) {
    const std::optional<std::int64_t> parsed = drovan::ParseHttpDate(text);
    Require(parsed && *parsed == seconds);
}

}  // namespace

// Whatever the text, the parse does not depend on surrounding blanks and lands between the years 0 and 9999;
// a date parsed is written back in every format that can hold its year, and each of those reads the same.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::optional<std::int64_t> parsed = drovan::ParseHttpDate(text);
    const std::optional<std::int64_t> padded = drovan::ParseHttpDate(" \t" + text + "\t ");
    Require(parsed == padded);
    if (!parsed) {
        return 0;
    }
    Require(*parsed >= kFirstSecond && *parsed <= kEndSecond);
    if (*parsed == kEndSecond) {
        return 0;
    }
    const Civil date = CivilOf(*parsed);
    Require(date.year >= 0 && date.year <= 9999);
    RequireParsesTo(ImfFixdate(date), *parsed);
    RequireParsesTo(AsctimeDate(date), *parsed);
    if (date.year >= 1970 && date.year <= 2069) {
        RequireParsesTo(Rfc850Date(date), *parsed);
    }
    return 0;
}
