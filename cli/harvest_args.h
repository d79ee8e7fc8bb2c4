#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace drovan {

enum class ListFormat { Tsv, Csv, Json };

// A calendar time as --since gives it: a date, a date and time, local unless an offset is given.
struct GivenTime {
    int year = 1970;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
    std::optional<int> offsetMinutes;  // "Z" is 0; none: local time
};

struct HarvestArguments {
    std::u16string types;  // as given: "mp4", "mp4,m4a,flv", "*"; empty: every type (only with --list)
    std::u16string destination;
    std::vector<std::u16string> sources;
    bool list = false;
    bool joinStreams = true;      // --no-join: every segment of a stream its own file
    bool partialStreams = false;  // --partial: an incomplete stream's gap-free start written too
    bool help = false;
    bool quiet = false;  // --quiet: no progress line
    ListFormat format = ListFormat::Tsv;
    std::u16string urlContains;            // --url
    std::optional<std::uint64_t> minSize;  // --min-size, bytes
    std::optional<std::uint64_t> maxSize;  // --max-size, bytes
    std::optional<GivenTime> since;
};

struct ParsedArguments {
    std::optional<HarvestArguments> arguments;
    std::string error;  // one line saying what is wrong, when arguments is empty
};

ParsedArguments ParseHarvestArguments(const std::vector<std::u16string>& args);

// A harvest that writes files shows its progress on a terminal unless asked for quiet.
// rowsOnTerminal: standard output is a terminal, where a listing's rows would break up the line.
inline bool WantsProgressLine(const HarvestArguments& arguments, bool rowsOnTerminal) {
    return !arguments.quiet && !arguments.help && !(arguments.list && rowsOnTerminal);
}

extern const char* const kHarvestUsageText;
// --help: every option, one line each.
extern const char* const kHarvestHelpText;

}  // namespace drovan
