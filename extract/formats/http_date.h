#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace drovan {

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar, and seconds to a UTC time of it.
std::int64_t DaysFromCivil(int year, int month, int day);
std::int64_t SecondsSince1970(int year, int month, int day, int hour, int minute, int second);

// An HTTP date (RFC 9110 section 5.6.7) as seconds since 1970 UTC: "Sun, 06 Nov 1994 08:49:37 GMT",
// "Sunday, 06-Nov-94 08:49:37 GMT" or "Sun Nov  6 08:49:37 1994", with spaces and tabs around. Nothing for
// any other text, or a day or time that does not exist.
std::optional<std::int64_t> ParseHttpDate(std::string_view text);

// The time a harvested entry's file should show as modified, all in seconds since 1970 UTC: the response's
// Last-Modified, else when the browser stored it; a time before 1970 or after now is no time. Nothing when
// neither will do: the file then shows when it was written.
std::optional<std::int64_t> HarvestedFileTime(std::optional<std::int64_t> lastModified,
                                              std::optional<std::int64_t> storedTime, std::int64_t now);

}  // namespace drovan
