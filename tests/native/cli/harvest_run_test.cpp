#include "cli/harvest_run.h"
#include "cli/list_format.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "cli/harvest_args.h"
#include "extract/utf8.h"
#include "tests/support/captured_output.h"
#include "tests/support/real_cache_data.h"

namespace drovan::tests {
namespace {

TEST(HarvestCommand, ArgumentsAndExitStatuses) {
    std::vector<std::vector<std::string>> manifest;
    MemoryFileSystem fs = tests::LoadCache("firefox-cache2", manifest);
    fs.AddFolder(u"/out");
    fs.AddFile(u"/plain/a.flv", "FLV");
    fs.AddFile(u"/plain/b.mp3", "ID3");
    const std::size_t firefoxMp3 = static_cast<std::size_t>(
        std::count_if(manifest.begin(), manifest.end(), [](const auto& line) { return line[2] == "mp3"; }));
    const MachineSources machine{u"/plain", {{CacheKind::FirefoxCache2, u"/cache", u"Firefox"}}};
    const MachineSources bare{u"", {}};
    const struct {
        std::vector<std::u16string> args;
        const MachineSources* machine;  // null: the platform has no folders of its own
        int status;                     // -1: the arguments are refused before running
        std::size_t lines;
        std::size_t messages = 1;
    } cases[] = {
        {{u"--type", u"flv", u"--to", u"/out", u"--from", u"/plain"}, nullptr, kHarvestOk, 0},
        {{u"--list", u"--from", u"/plain"}, nullptr, kHarvestOk, 2},
        {{u"--list", u"--type", u"mp3", u"--from", u"/plain"}, nullptr, kHarvestOk, 1},
        // Without --from: the Internet-cache folder, then the browsers; none at all is said.
        {{u"--list", u"--type", u"mp3"}, &machine, kHarvestOk, 1 + firefoxMp3},
        {{u"--list", u"--type", u"mp3", u"--from", u"/plain"}, &machine, kHarvestOk, 1},
        {{u"--type", u"flv", u"--to", u"/out"}, &bare, kHarvestOk, 0, 2},
        {{u"--type", u"flv", u"--to", u"/out"}, nullptr, kHarvestUsage, 0},
        {{u"--list"}, nullptr, kHarvestUsage, 0},
        {{u"--type", u"flv", u"--to", u"/missing", u"--from", u"/plain"}, nullptr, kHarvestUsage, 0},
        {{u"--type", u"flv", u"--to", u"/out", u"--from", u"/nowhere"}, nullptr, kHarvestUsage, 0},
        {{u"--type", u"flv", u"--from", u"/plain"}, nullptr, -1, 0},
        {{u"--to", u"/out", u"--from", u"/plain"}, nullptr, -1, 0},
        {{u"--list", u"--to", u"/out"}, nullptr, -1, 0},
        {{u"--type"}, nullptr, -1, 0},
        {{u"--verbose"}, nullptr, -1, 0},
        {{u"--help"}, nullptr, kHarvestOk, 24, 0},
        {{u"--list", u"--format", u"csv", u"--from", u"/plain"}, nullptr, kHarvestOk, 3},
        {{u"--list", u"--type", u"flv,mp3", u"--url", u"PLAIN/A", u"--from", u"/plain"},
         nullptr,
         kHarvestOk,
         1},
        {{u"--list", u"--type", u"*", u"--min-size", u"4", u"--from", u"/plain"}, nullptr, kHarvestOk, 0},
        {{u"--list", u"--since", u"2000-01-01", u"--from", u"/plain"}, nullptr, kHarvestOk, 0},
    };
    for (const auto& c : cases) {
        const ParsedArguments parsed = ParseHarvestArguments(c.args);
        ASSERT_EQ(parsed.arguments.has_value(), c.status != -1) << parsed.error;
        if (!parsed.arguments) {
            EXPECT_FALSE(parsed.error.empty());
            continue;
        }
        CapturedOutput output;
        const std::optional<MachineSources> sources =
            c.machine ? std::optional<MachineSources>(*c.machine) : std::nullopt;
        EXPECT_EQ(RunHarvest(fs, *parsed.arguments, sources, output, nullptr), c.status)
            << Utf16ToUtf8(c.args.back());
        EXPECT_EQ(output.lines.size(), c.lines) << Utf16ToUtf8(c.args.back());
        ASSERT_EQ(output.messages.size(), c.messages) << Utf16ToUtf8(c.args.back());
    }
    EXPECT_EQ(fs.files().count(u"/out/a.flv"), 1u);
    EXPECT_EQ(fs.files().count(u"/out/b.mp3"), 0u);
}

// A listing's rows are the manifest's lines, in their states, and its summary counts what the rows say.
TEST(HarvestCommand, ListedRowsAndTheSummaryAgree) {
    for (const char* folder :
         {"firefox-cache2", "firefox140-cache2", "chromium-simple", "chromium-sql", "chromium-sql-wal"}) {
        std::vector<std::vector<std::string>> manifest;
        MemoryFileSystem fs = tests::LoadCache(folder, manifest);
        CapturedOutput output;
        const ParsedArguments parsed = ParseHarvestArguments({u"--list", u"--from", u"/cache"});
        ASSERT_EQ(RunHarvest(fs, *parsed.arguments, std::nullopt, output, nullptr), kHarvestOk);
        std::map<std::string, std::string> rows;  // URL -> state
        std::map<std::string, std::size_t> states;
        std::multiset<std::string> listedSizes;  // of the complete rows
        for (const std::u16string& line : output.lines) {
            std::vector<std::string> fields;
            std::istringstream parts(Utf16ToUtf8(line) + "\t");  // so an empty last field counts
            for (std::string field; std::getline(parts, field, '\t');) {
                fields.push_back(field);
            }
            ASSERT_EQ(fields.size(), 10u);
            rows[fields[6]] = fields[5];
            ++states[fields[5]];
            if (fields[5] == "complete") {
                listedSizes.insert(fields[3]);
            }
        }
        std::map<std::string, std::string> lines;
        for (const auto& line : manifest) {
            lines[line[0]] = line[4];
        }
        EXPECT_EQ(rows, lines) << folder;
        ASSERT_EQ(output.messages.size(), 1u);
        EXPECT_EQ(Utf16ToUtf8(output.messages[0]),
                  "matched " + std::to_string(manifest.size()) + ", incomplete " +
                      std::to_string(states["incomplete"]) + ", skipped " +
                      std::to_string(states["no-body"]) + " (" + std::to_string(states["no-body"]) +
                      " without a body), in use 0, locked 0")
            << folder;
        // The sizes listed are those written, decoded.
        fs.AddFolder(u"/out");
        CapturedOutput harvest;
        ASSERT_EQ(
            RunHarvest(
                fs,
                *ParseHarvestArguments({u"--type", u"*", u"--to", u"/out", u"--from", u"/cache"}).arguments,
                std::nullopt, harvest, nullptr),
            kHarvestOk);
        std::multiset<std::string> writtenSizes;
        for (const auto& [name, bytes] : fs.FilesIn(u"/out")) {
            writtenSizes.insert(std::to_string(bytes.size()));
        }
        EXPECT_EQ(listedSizes, writtenSizes) << folder;
    }
}

TEST(HarvestCommand, ListedFieldsCannotForgeRecordsOrReachTheTerminal) {
    const struct {
        std::u16string text;
        std::u16string printed;
    } cases[] = {
        {u"http://h/a\tb\nc", u"http://h/a%09b%0Ac"},
        {u"http://h/\x1b[31mred", u"http://h/%1B[31mred"},
        {u"http://h/\x7f\x85", u"http://h/%7F%C2%85"},
        {u"http://h/\u202egpj.exe", u"http://h/%E2%80%AEgpj.exe"},
        {u"http://h/\u2066x\u2069", u"http://h/%E2%81%A6x%E2%81%A9"},
        {u"http://h/%41/\u4e2d\u6587/\xe9/\U0001F600", u"http://h/%41/\u4e2d\u6587/\xe9/\U0001F600"},
        // Bytes that were no UTF-8, as Utf8ToUtf16 keeps them: 0x9B alone is a terminal's CSI.
        {Utf8ToUtf16("http://h/\x9b[2J\xff"), u"http://h/%9B[2J%FF"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ListField(c.text), c.printed) << Utf16ToUtf8(c.printed);
    }
}

// One run with --type '*' writes exactly what a run per type writes, streams joined, from every real cache.
TEST(HarvestCommand, EveryTypeInOneRunIsTheUnionOfTheRunsPerType) {
    for (const std::string folder : {"chromium-simple", "chromium-blockfile", "firefox-cache2",
                                     "streams/chromium-simple", "streams/firefox-cache2"}) {
        MemoryFileSystem fs = LoadCacheFiles(folder);
        const auto run = [&fs](const std::u16string& types, const std::u16string& into) {
            fs.AddFolder(into);
            HarvestArguments arguments;
            arguments.types = types;
            arguments.destination = into;
            arguments.sources = {u"/cache"};
            CapturedOutput output;
            EXPECT_EQ(RunHarvest(fs, arguments, std::nullopt, output, nullptr), kHarvestOk);
            return fs.FilesIn(into);
        };
        const std::map<std::u16string, std::string> everything = run(u"*", u"/every");
        std::map<std::u16string, std::string> union_;
        std::set<std::u16string> types;
        for (const auto& [name, bytes] : everything) {
            const std::size_t dot = name.rfind(u'.');
            if (dot != std::u16string::npos) {
                types.insert(name.substr(dot + 1));
            } else {
                union_[name] = bytes;  // no type names it: only every type takes it
            }
        }
        for (const std::u16string& type : types) {
            for (auto& [name, bytes] : run(type, u"/" + type)) {
                union_[name] = bytes;
            }
        }
        EXPECT_EQ(union_, everything) << folder;
    }
}

TEST(HarvestCommand, FailuresAreGroupedByTheSystemsReasonWithTheirFirstPath) {
    MemoryFileSystem fs;
    fs.AddFile(u"/plain/a.flv", "FLV1");
    fs.AddFile(u"/plain/b.flv", "FLV2");
    fs.AddFolder(u"/out");
    fs.commitFails = true;
    const ParsedArguments parsed =
        ParseHarvestArguments({u"--type", u"flv", u"--to", u"/out", u"--from", u"/plain"});
    CapturedOutput output;
    EXPECT_EQ(RunHarvest(fs, *parsed.arguments, std::nullopt, output, nullptr), kHarvestSomeFailed);
    ASSERT_EQ(output.messages.size(), 1u);
    EXPECT_EQ(
        Utf16ToUtf8(output.messages[0]),
        "matched 2, copied 0, already present 0, failed 2 (2 read-only file system: /out), incomplete 0, "
        "skipped 0, in use 0, locked 0");
}

}  // namespace
}  // namespace drovan::tests
