#include "cli/harvest_args.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "extract/utf8.h"

namespace drovan::tests {
namespace {

constexpr const char* kTypeRefused =
    "--type takes a type such as mp4, a list such as mp4,m4a,flv, or * for every type";

TEST(HarvestArguments, RefuseWhatCannotRun) {
    const struct {
        std::vector<std::u16string> args;
        const char* error;  // empty: accepted
    } cases[] = {
        {{u"--type", u"mp4", u"--to", u"/out"}, ""},
        {{u"--type", u"mp4,m4a,flv", u"--to", u"/out", u"--no-join", u"--no-join"}, ""},
        {{u"--type", u"*", u"--to", u"/out"}, ""},
        {{u"--type", u"MP4,Ts2", u"--to", u"/out"}, ""},
        {{u"--list", u"--type", u"mp4,,flv"}, kTypeRefused},
        {{u"--list", u"--type", u"mp4,"}, kTypeRefused},
        {{u"--list", u"--type", u"mp4,*"}, kTypeRefused},
        {{u"--list", u"--type", u".mp4"}, kTypeRefused},
        {{u"--list", u"--type", u"m\u00E94"}, kTypeRefused},
        {{u"--list", u"--type", u"mp4", u"--type", u"flv"}, "--type is given twice"},
        {{u"--type"}, "--type needs a value"},
        {{u"--list", u"--type", u""}, "--type needs a value"},
        {{u"--list", u"--from", u"/a", u"--from", u"/b"}, ""},
        {{u"--list", u"--from"}, "--from needs a value"},
        {{u"--list", u"--to", u"/out"}, "--list prints the entries and writes nothing: leave out --to"},
        {{u"--type", u"mp4"}, "missing --to FOLDER"},
        {{u"--to", u"/out"}, "missing --type TYPE"},
        {{u"--list", u"--url", u"example.com/a b"}, ""},
        {{u"--list", u"--url", u""}, "--url needs a value"},
        {{u"--list", u"--min-size", u"1.5k"},
         "--min-size takes a count of bytes such as 500000, 100k, 20M or 2G"},
        {{u"--list", u"--max-size", u"-1"},
         "--max-size takes a count of bytes such as 500000, 100k, 20M or 2G"},
        {{u"--list", u"--min-size", u"1", u"--min-size", u"2"}, "--min-size is given twice"},
        {{u"--list", u"--min-size", u"2k", u"--max-size", u"2048"}, ""},
        {{u"--list", u"--min-size", u"2049", u"--max-size", u"2k"}, "--min-size is larger than --max-size"},
        {{u"--list", u"--since", u"2026-12-07T25:00"},
         "--since takes an ISO 8601 date such as 2026-12-07 or 2026-12-07T18:30"},
        {{u"--list", u"--format", u"CSV"}, "--format takes tsv, csv or json"},
        {{u"--type", u"mp4", u"--to", u"/out", u"--format", u"tsv"}, "--format only goes with --list"},
        {{u"--format", u"csv"}, "--format only goes with --list"},
        {{u"--foo"}, "unknown option --foo"},
        {{u"--list", u"clips"}, "unknown option clips"},
        {{u"--help"}, ""},
        {{u"--foo", u"--type", u"mp4,,", u"--help"}, ""},
    };
    for (const auto& c : cases) {
        const ParsedArguments parsed = ParseHarvestArguments(c.args);
        EXPECT_EQ(parsed.error, c.error) << Utf16ToUtf8(c.args.front());
        EXPECT_EQ(parsed.arguments.has_value(), *c.error == '\0') << c.error;
    }
    EXPECT_TRUE(ParseHarvestArguments({u"--foo", u"--help"}).arguments->help);
    EXPECT_EQ(ParseHarvestArguments({u"--type", u"MP4,Ts", u"--to", u"o"}).arguments->types, u"MP4,Ts");
}

TEST(HarvestArguments, SizesInBytesOrPowersOf1024) {
    const struct {
        const char16_t* text;
        std::optional<std::uint64_t> bytes;
    } cases[] = {
        {u"0", 0},
        {u"007", 7},
        {u"100k", 102400},
        {u"100K", 102400},
        {u"20M", 20971520},
        {u"2g", 2147483648},
        {u"18446744073709551615", 18446744073709551615u},
        {u"17179869183G", 18446744072635809792u},
        {u"18446744073709551616", std::nullopt},
        {u"17179869184G", std::nullopt},
        {u"18014398509481984k", std::nullopt},
        {u"k", std::nullopt},
        {u"1e3", std::nullopt},
        {u" 1", std::nullopt},
        {u"1kk", std::nullopt},
        {u"1T", std::nullopt},
        {u"\uFF11", std::nullopt},  // a fullwidth digit
    };
    using Size = std::optional<std::uint64_t> HarvestArguments::*;
    const std::pair<const char16_t*, Size> options[] = {{u"--min-size", &HarvestArguments::minSize},
                                                        {u"--max-size", &HarvestArguments::maxSize}};
    for (const auto& c : cases) {
        for (const auto& [option, size] : options) {
            const ParsedArguments parsed = ParseHarvestArguments({u"--list", option, c.text});
            ASSERT_EQ(parsed.arguments.has_value(), c.bytes.has_value()) << Utf16ToUtf8(c.text);
            if (parsed.arguments) {
                EXPECT_EQ((*parsed.arguments).*size, c.bytes);
            }
        }
    }
}

// "2026-12-07 18:30:05 60" (minutes east of UTC), "... local" without an offset, or "refused".
std::string Describe(const std::optional<GivenTime>& time) {
    if (!time) {
        return "refused";
    }
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d ", time->year, time->month, time->day,
                  time->hour, time->minute, time->second);
    return text + (time->offsetMinutes ? std::to_string(*time->offsetMinutes) : std::string("local"));
}

TEST(HarvestArguments, SinceTakesIso8601Dates) {
    const struct {
        const char16_t* text;
        const char* time;
    } cases[] = {
        {u"2026-12-07", "2026-12-07 00:00:00 local"},
        {u"2026-12-07T18:30", "2026-12-07 18:30:00 local"},
        {u"2026-12-07 18:30:05", "2026-12-07 18:30:05 local"},
        {u"2026-12-07T23:59:59Z", "2026-12-07 23:59:59 0"},
        {u"2026-12-07T18:30:05+01:00", "2026-12-07 18:30:05 60"},
        {u"2026-12-07T18:30-0530", "2026-12-07 18:30:00 -330"},
        {u"2026-12-07 00:00+14:00", "2026-12-07 00:00:00 840"},
        {u"2026-12-07T00:00-1400", "2026-12-07 00:00:00 -840"},
        {u"2024-02-29", "2024-02-29 00:00:00 local"},
        {u"2000-02-29", "2000-02-29 00:00:00 local"},
        {u"2023-02-29", "refused"},
        {u"1900-02-29", "refused"},
        {u"2026-04-31", "refused"},
        {u"2026-13-01", "refused"},
        {u"2026-12-00", "refused"},
        {u"2026-12-07T24:00", "refused"},
        {u"2026-12-07T23:59:60", "refused"},
        {u"2026-12-07T18:30+14:01", "refused"},
        {u"2026-12-07T18:30+05:60", "refused"},
        {u"2026-12-07T18:30+5:00", "refused"},
        {u"2026-12-07T18:30+05", "refused"},
        {u"2026-12-07T18:30Z+01:00", "refused"},
        {u"2026-12-07Z", "refused"},  // a zone belongs to a time of day
        {u"2026-12-7", "refused"},
        {u"20261207", "refused"},
        {u"2026-12-07T18", "refused"},
        {u"2026-12-07t18:30", "refused"},
        {u"2026-12-07T18:30:05.5", "refused"},
        {u"2026-12-07T18:30 ", "refused"},
    };
    for (const auto& c : cases) {
        const ParsedArguments parsed = ParseHarvestArguments({u"--list", u"--since", c.text});
        EXPECT_EQ(Describe(parsed.arguments ? parsed.arguments->since : std::nullopt), c.time)
            << Utf16ToUtf8(c.text);
    }
}

TEST(HarvestArguments, HelpFitsAndItsExamplesRun) {
    const std::string help = kHarvestHelpText;
    const std::string usage = kHarvestUsageText;
    const std::string usageLines = usage.substr(0, usage.rfind("drovan-harvest --help"));
    EXPECT_EQ(help.substr(0, usageLines.size()), usageLines);
    std::istringstream lines(help);
    std::size_t examples = 0;
    for (std::string line; std::getline(lines, line);) {
        EXPECT_LT(line.size(), 100u) << line;
        if (line.rfind("    drovan-harvest ", 0) != 0) {
            continue;
        }
        std::istringstream words(line);
        std::vector<std::u16string> args;
        for (std::string word; words >> word;) {
            args.push_back(Utf8ToUtf16(word));
        }
        args.erase(args.begin());
        EXPECT_TRUE(ParseHarvestArguments(args).arguments) << line;
        ++examples;
    }
    EXPECT_EQ(examples, 3u);
    for (const char* option : {"--type", "--to", "--from", "--list", "--no-join", "--partial", "--url",
                               "--min-size", "--max-size", "--since", "--format", "--quiet", "--help"}) {
        EXPECT_NE(help.find(std::string("\n  ") + option + " "), std::string::npos) << option;
    }
}

}  // namespace
}  // namespace drovan::tests
