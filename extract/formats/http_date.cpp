#include "extract/formats/http_date.h"

#include <cstddef>

#include "extract/ascii.h"

namespace drovan {
namespace {

constexpr std::string_view kDayNames[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
constexpr std::string_view kLongDayNames[] = {"Monday", "Tuesday",  "Wednesday", "Thursday",
                                              "Friday", "Saturday", "Sunday"};
constexpr std::string_view kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

struct Civil {
    int year = 0;
    int month = 0;  // 1 to 12
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// Reads the text from its front; after a mismatch every read fails.
class Cursor {
  public:
    explicit Cursor(std::string_view text) : m_rest(text) {}

    bool AtEnd() const { return m_ok && m_rest.empty(); }
    bool Next(char c) const { return m_ok && !m_rest.empty() && m_rest.front() == c; }

    void Expect(std::string_view literal) {
        m_ok = m_ok && m_rest.substr(0, literal.size()) == literal;
        if (m_ok) {
            m_rest.remove_prefix(literal.size());
        }
    }

    // The place in names of the one the text goes on with (names are case-sensitive).
    template <std::size_t N>
    int OneOf(const std::string_view (&names)[N]) {
        for (std::size_t i = 0; m_ok && i < N; ++i) {
            if (m_rest.substr(0, names[i].size()) == names[i]) {
                m_rest.remove_prefix(names[i].size());
                return static_cast<int>(i);
            }
        }
        m_ok = false;
        return 0;
    }

    // Exactly count ASCII digits.
    int Digits(std::size_t count) {
        int value = 0;
        m_ok = m_ok && m_rest.size() >= count;
        for (std::size_t i = 0; m_ok && i < count; ++i) {
            const char c = m_rest[i];
            m_ok = c >= '0' && c <= '9';
            value = value * 10 + (c - '0');
        }
        if (!m_ok) {
            return 0;
        }
        m_rest.remove_prefix(count);
        return value;
    }

  private:
    std::string_view m_rest;
    bool m_ok = true;
};

void ReadTimeOfDay(Cursor& at, Civil& date) {
    date.hour = at.Digits(2);
    at.Expect(":");
    date.minute = at.Digits(2);
    at.Expect(":");
    date.second = at.Digits(2);
}

// The day name is not held against the date: browsers do not either.
std::optional<Civil> ReadImfFixdate(std::string_view text) {
    Cursor at(text);
    Civil date;
    at.OneOf(kDayNames);
    at.Expect(", ");
    date.day = at.Digits(2);
    at.Expect(" ");
    date.month = at.OneOf(kMonthNames) + 1;
    at.Expect(" ");
    date.year = at.Digits(4);
    at.Expect(" ");
    ReadTimeOfDay(at, date);
    at.Expect(" GMT");
    return at.AtEnd() ? std::optional<Civil>(date) : std::nullopt;
}

std::optional<Civil> ReadRfc850Date(std::string_view text) {
    Cursor at(text);
    Civil date;
    at.OneOf(kLongDayNames);
    at.Expect(", ");
    date.day = at.Digits(2);
    at.Expect("-");
    date.month = at.OneOf(kMonthNames) + 1;
    at.Expect("-");
    // A fixed pivot: RFC 9110 reckons from today instead, and the two agree on every year from 1976 to 2069.
    const int shortYear = at.Digits(2);
    date.year = shortYear + (shortYear >= 70 ? 1900 : 2000);
    at.Expect(" ");
    ReadTimeOfDay(at, date);
    at.Expect(" GMT");
    return at.AtEnd() ? std::optional<Civil>(date) : std::nullopt;
}

std::optional<Civil> ReadAsctimeDate(std::string_view text) {
    Cursor at(text);
    Civil date;
    at.OneOf(kDayNames);
    at.Expect(" ");
    date.month = at.OneOf(kMonthNames) + 1;
    at.Expect(" ");
    if (at.Next(' ')) {
        at.Expect(" ");
        date.day = at.Digits(1);
    } else {
        date.day = at.Digits(2);
    }
    at.Expect(" ");
    ReadTimeOfDay(at, date);
    at.Expect(" ");
    date.year = at.Digits(4);
    return at.AtEnd() ? std::optional<Civil>(date) : std::nullopt;
}

bool IsLeapYear(int year) {
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

bool Exists(const Civil& date) {
    constexpr int kMonthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const int monthDays = kMonthDays[date.month - 1] + (date.month == 2 && IsLeapYear(date.year) ? 1 : 0);
    // Second 60 is a leap second.
    return date.day >= 1 && date.day <= monthDays && date.hour <= 23 && date.minute <= 59 &&
           date.second <= 60;
}

bool IsUsableTime(std::optional<std::int64_t> time, std::int64_t now) {
    return time && *time >= 0 && *time <= now;
}

}  // namespace

// Days from 1970-01-01 in the proleptic Gregorian calendar, counted in 400-year eras that start on 1 March
// so that a leap day ends its year.
std::int64_t DaysFromCivil(int year, int month, int day) {
    const std::int64_t shifted = year - (month <= 2 ? 1 : 0);
    const std::int64_t era = (shifted >= 0 ? shifted : shifted - 399) / 400;
    const std::int64_t yearOfEra = shifted - era * 400;
    const std::int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

std::int64_t SecondsSince1970(int year, int month, int day, int hour, int minute, int second) {
    return DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
}

std::optional<std::int64_t> ParseHttpDate(std::string_view text) {
    text = TrimBlanks(text);
    std::optional<Civil> date = ReadImfFixdate(text);
    if (!date) {
        date = ReadRfc850Date(text);
    }
    if (!date) {
        date = ReadAsctimeDate(text);
    }
    if (!date || !Exists(*date)) {
        return std::nullopt;
    }
    return SecondsSince1970(date->year, date->month, date->day, date->hour, date->minute, date->second);
}

std::optional<std::int64_t> HarvestedFileTime(std::optional<std::int64_t> lastModified,
                                              std::optional<std::int64_t> storedTime, std::int64_t now) {
    if (IsUsableTime(lastModified, now)) {
        return lastModified;
    }
    if (IsUsableTime(storedTime, now)) {
        return storedTime;
    }
    return std::nullopt;
}

}  // namespace drovan
