#include "cli/harvest_args.h"

#include <cstddef>
#include <iterator>
#include <limits>
#include <string_view>

#include "extract/utf8.h"

namespace drovan {

const char* const kHarvestUsageText =
    "usage: drovan-harvest --type TYPES --to FOLDER [--from CACHE ...] [--no-join] [filters]\n"
    "       drovan-harvest --list [--type TYPES] [--from CACHE ...] [--no-join] [filters] "
    "[--format F]\n"
    "drovan-harvest --help lists every option\n";

const char* const kHarvestHelpText =
    "usage: drovan-harvest --type TYPES --to FOLDER [--from CACHE ...] [--no-join] [filters]\n"
    "       drovan-harvest --list [--type TYPES] [--from CACHE ...] [--no-join] [filters] "
    "[--format F]\n"
    "options:\n"
    "  --type TYPES   mp4, a list such as mp4,m4a,flv, or '*' for all types (default with --list)\n"
    "  --to FOLDER    the existing folder the files are written to\n"
    "  --from CACHE   a cache, or a folder searched for caches, repeatable; default: this user's caches\n"
    "  --list         print a line for each entry found instead of writing files\n"
    "  --no-join      each segment of a streamed video as its own file, not joined into one\n"
    "  --partial      also a video watched part way: its segments cached without a gap from its start\n"
    "filters:\n"
    "  --url TEXT     only entries whose URL contains TEXT\n"
    "  --min-size N   only entries of at least N bytes; N may end in k, M or G (powers of 1024)\n"
    "  --max-size N   only entries of at most N bytes\n"
    "  --since DATE   only entries cached since DATE: 2026-12-07 (local time), 2026-12-07T18:30+01:00\n"
    "  --format F     with --list: tsv (the default), csv with a header line, or json (an object a line)\n"
    "  --quiet        no progress line on a terminal\n"
    "  --help         print this help\n"
    "examples:\n"
    "  every video a copied browser profile holds:\n"
    "    drovan-harvest --type mp4,m4a,ts --from /media/usb/chrome-profile --to videos\n"
    "  every video from example.com since 7 December 2026:\n"
    "    drovan-harvest --type mp4,m4a,ts --url example.com --since 2026-12-07 --to videos\n"
    "  every image of 100 KB or more:\n"
    "    drovan-harvest --type jpg,png,gif,webp --min-size 100k --to images\n";

namespace {

bool IsAsciiLetterOrDigit(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9');
}

bool IsTypeList(std::u16string_view text) {
    if (text == u"*") {
        return true;
    }
    while (true) {
        const std::size_t comma = text.find(u',');
        const std::u16string_view type = text.substr(0, comma);
        bool valid = !type.empty();
        for (const char16_t c : type) {
            valid = valid && IsAsciiLetterOrDigit(c);
        }
        if (!valid || comma == std::u16string_view::npos) {
            return valid;
        }
        text.remove_prefix(comma + 1);
    }
}

// Digits with an optional k, M or G (either case, as nobody means milli- or bits here).
std::optional<std::uint64_t> ParseByteCount(std::u16string_view text) {
    unsigned shift = 0;
    if (!text.empty()) {
        switch (text.back()) {
            case u'k':
            case u'K':
                shift = 10;
                break;
            case u'm':
            case u'M':
                shift = 20;
                break;
            case u'g':
            case u'G':
                shift = 30;
                break;
        }
    }
    text.remove_suffix(shift == 0 ? 0 : 1);
    constexpr std::uint64_t kMost = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t value = 0;
    for (const char16_t c : text) {
        if (c < u'0' || c > u'9') {
            return std::nullopt;
        }
        const unsigned digit = c - u'0';
        if (value > (kMost - digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 + digit;
    }
    if (text.empty() || value > (kMost >> shift)) {
        return std::nullopt;
    }
    return value << shift;
}

class TextReader {
  public:
    explicit TextReader(std::u16string_view text) : m_text(text) {}

    bool Number(std::size_t width, int& value) {
        if (m_text.size() < width) {
            return false;
        }
        value = 0;
        for (std::size_t i = 0; i < width; ++i) {
            if (m_text[i] < u'0' || m_text[i] > u'9') {
                return false;
            }
            value = value * 10 + (m_text[i] - u'0');
        }
        m_text.remove_prefix(width);
        return true;
    }
    bool Skip(char16_t c) {
        if (m_text.empty() || m_text.front() != c) {
            return false;
        }
        m_text.remove_prefix(1);
        return true;
    }
    bool AtEnd() const { return m_text.empty(); }

  private:
    std::u16string_view m_text;
};

// "Z", "+HH:MM" or "+HHMM" (or "-"), up to 14 hours either way.
std::optional<int> ReadOffset(TextReader& reader) {
    if (reader.Skip(u'Z')) {
        return 0;
    }
    const bool west = reader.Skip(u'-');
    int hours = 0;
    int minutes = 0;
    if ((!west && !reader.Skip(u'+')) || !reader.Number(2, hours)) {
        return std::nullopt;
    }
    reader.Skip(u':');
    if (!reader.Number(2, minutes) || minutes > 59 || hours * 60 + minutes > 14 * 60) {
        return std::nullopt;
    }
    return west ? -(hours * 60 + minutes) : hours * 60 + minutes;
}

int DaysInMonth(int year, int month) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
    return month == 2 && leap ? 29 : kDays[month - 1];
}

// An offset only after a time of day: ISO 8601 gives a zone to times, not to dates.
std::optional<GivenTime> ParseGivenTime(std::u16string_view text) {
    TextReader reader(text);
    GivenTime time;
    if (!reader.Number(4, time.year) || !reader.Skip(u'-') || !reader.Number(2, time.month) ||
        !reader.Skip(u'-') || !reader.Number(2, time.day)) {
        return std::nullopt;
    }
    if (reader.Skip(u'T') || reader.Skip(u' ')) {
        if (!reader.Number(2, time.hour) || !reader.Skip(u':') || !reader.Number(2, time.minute) ||
            (reader.Skip(u':') && !reader.Number(2, time.second))) {
            return std::nullopt;
        }
        if (!reader.AtEnd()) {
            time.offsetMinutes = ReadOffset(reader);
            if (!time.offsetMinutes) {
                return std::nullopt;
            }
        }
    }
    const bool valid = time.month >= 1 && time.month <= 12 && time.day >= 1 &&
                       time.day <= DaysInMonth(time.year, time.month) && time.hour <= 23 &&
                       time.minute <= 59 && time.second <= 59;
    return valid && reader.AtEnd() ? std::optional<GivenTime>(time) : std::nullopt;
}

std::optional<ListFormat> ParseListFormat(std::u16string_view text) {
    if (text == u"tsv") {
        return ListFormat::Tsv;
    }
    if (text == u"csv") {
        return ListFormat::Csv;
    }
    if (text == u"json") {
        return ListFormat::Json;
    }
    return std::nullopt;
}

// Stores the value where it belongs; false when it is not one the option takes.
using ValueTaker = bool (*)(std::u16string_view value, HarvestArguments& into);

struct ValueOption {
    std::u16string_view name;
    ValueTaker take;
    const char* refusal;  // the error when take refuses the value
    bool repeatable = false;
};

const ValueOption kValueOptions[] = {
    {u"--type",
     [](std::u16string_view value, HarvestArguments& into) {
         into.types = value;
         return IsTypeList(value);
     },
     "--type takes a type such as mp4, a list such as mp4,m4a,flv, or * for every type"},
    {u"--to",
     [](std::u16string_view value, HarvestArguments& into) {
         into.destination = value;
         return true;
     },
     ""},
    {u"--from",
     [](std::u16string_view value, HarvestArguments& into) {
         into.sources.emplace_back(value);
         return true;
     },
     "", true},
    {u"--url",
     [](std::u16string_view value, HarvestArguments& into) {
         into.urlContains = value;
         return true;
     },
     ""},
    {u"--min-size",
     [](std::u16string_view value, HarvestArguments& into) {
         into.minSize = ParseByteCount(value);
         return into.minSize.has_value();
     },
     "--min-size takes a count of bytes such as 500000, 100k, 20M or 2G"},
    {u"--max-size",
     [](std::u16string_view value, HarvestArguments& into) {
         into.maxSize = ParseByteCount(value);
         return into.maxSize.has_value();
     },
     "--max-size takes a count of bytes such as 500000, 100k, 20M or 2G"},
    {u"--since",
     [](std::u16string_view value, HarvestArguments& into) {
         into.since = ParseGivenTime(value);
         return into.since.has_value();
     },
     "--since takes an ISO 8601 date such as 2026-12-07 or 2026-12-07T18:30"},
    {u"--format",
     [](std::u16string_view value, HarvestArguments& into) {
         const std::optional<ListFormat> format = ParseListFormat(value);
         into.format = format.value_or(ListFormat::Tsv);
         return format.has_value();
     },
     "--format takes tsv, csv or json"},
};

std::size_t ValueOptionIndex(std::u16string_view name) {
    std::size_t index = 0;
    while (index < std::size(kValueOptions) && kValueOptions[index].name != name) {
        ++index;
    }
    return index;
}

ParsedArguments Refused(std::string error) {
    return {std::nullopt, std::move(error)};
}

std::optional<std::string> CheckCombination(const HarvestArguments& arguments, bool formatGiven) {
    if (!arguments.list && formatGiven) {
        return "--format only goes with --list";
    }
    if (arguments.list && !arguments.destination.empty()) {
        return "--list prints the entries and writes nothing: leave out --to";
    }
    if (!arguments.list && arguments.destination.empty()) {
        return "missing --to FOLDER";
    }
    if (!arguments.list && arguments.types.empty()) {
        return "missing --type TYPE";
    }
    if (arguments.partialStreams && !arguments.joinStreams) {
        return "--partial joins a stream's segments: leave out --no-join";
    }
    if (arguments.minSize && arguments.maxSize && *arguments.minSize > *arguments.maxSize) {
        return "--min-size is larger than --max-size";
    }
    return std::nullopt;
}

}  // namespace

ParsedArguments ParseHarvestArguments(const std::vector<std::u16string>& args) {
    HarvestArguments result;
    // --help anywhere wins, so that a command line gone wrong still gets its help.
    for (const std::u16string& arg : args) {
        if (arg == u"--help") {
            result.help = true;
            return {std::move(result), {}};
        }
    }
    bool given[std::size(kValueOptions)] = {};
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::u16string& name = args[i];
        if (name == u"--list") {
            result.list = true;
            continue;
        }
        if (name == u"--no-join") {
            result.joinStreams = false;
            continue;
        }
        if (name == u"--partial") {
            result.partialStreams = true;
            continue;
        }
        if (name == u"--quiet") {
            result.quiet = true;
            continue;
        }
        const std::size_t index = ValueOptionIndex(name);
        if (index == std::size(kValueOptions)) {
            return Refused("unknown option " + Utf16ToUtf8(name));
        }
        const ValueOption& option = kValueOptions[index];
        if (given[index] && !option.repeatable) {
            return Refused(Utf16ToUtf8(name) + " is given twice");
        }
        given[index] = true;
        if (i + 1 == args.size() || args[i + 1].empty()) {
            return Refused(Utf16ToUtf8(name) + " needs a value");
        }
        if (!option.take(args[++i], result)) {
            return Refused(option.refusal);
        }
    }
    if (const std::optional<std::string> error =
            CheckCombination(result, given[ValueOptionIndex(u"--format")])) {
        return Refused(*error);
    }
    return {std::move(result), {}};
}

}  // namespace drovan
