#include "extract/placement.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "extract/progress.h"
#include "tests/support/node_file_system.h"

namespace drovan::tests {
namespace {

using tests::NodeFileSystem;
using Files = std::map<std::string, std::string>;
constexpr std::size_t kNever = std::string::npos;

// Bytes fed in chunks of three; it can fail after some bytes or ask to stop after some.
class ChunkedContent final : public Content {
  public:
    ChunkedContent(std::string bytes, std::size_t failAt, std::size_t stopAt, HarvestProgress& progress)
        : m_bytes(std::move(bytes)), m_failAt(failAt), m_stopAt(stopAt), m_progress(progress) {}

    Status Stream(const Sink& sink) override {
        for (std::size_t at = 0; at < m_bytes.size(); at += 3) {
            if (at >= m_failAt) {
                return Status::SourceFailed;
            }
            if (at >= m_stopAt) {
                m_progress.stop = true;
            }
            if (!sink(m_bytes.data() + at, std::min<std::size_t>(3, m_bytes.size() - at))) {
                return Status::Refused;
            }
        }
        return m_failAt <= m_bytes.size() ? Status::SourceFailed : Status::Done;
    }

  private:
    std::string m_bytes;
    std::size_t m_failAt;
    std::size_t m_stopAt;
    HarvestProgress& m_progress;
};

struct PlaceCase {
    const char* what;
    Files existing;  // in /out; a value of "/" makes a folder
    std::string name;
    std::string bytes;
    PlaceOutcome outcome;
    Files after;  // every file in /out afterwards
    std::size_t creations = 1;
    std::size_t sourceFailsAt = kNever;
    std::size_t stopAt = kNever;
    std::size_t capacity = kNever;
    std::size_t failWritesAfter = kNever;
    CreateStatus createAnswer = CreateStatus::Created;
    bool commitFails = false;
};

const PlaceCase kPlaceCases[] = {
    {"a free name", {}, "a.swf", "abcdefg", PlaceOutcome::Copied, {{"a.swf", "abcdefg"}}},
    {"an empty file", {}, "a.swf", "", PlaceOutcome::Copied, {{"a.swf", ""}}},
    {"the same bytes under the name",
     {{"a.swf", "abcdefg"}},
     "a.swf",
     "abcdefg",
     PlaceOutcome::AlreadyPresent,
     {{"a.swf", "abcdefg"}},
     0},
    {"other bytes under the name",
     {{"a.swf", "abcdefX"}},
     "a.swf",
     "abcdefg",
     PlaceOutcome::Copied,
     {{"a.swf", "abcdefX"}, {"a (2).swf", "abcdefg"}}},
    {"the same bytes under a numbered name",
     {{"a.swf", "other"}, {"a (2).swf", "abcdefg"}},
     "a.swf",
     "abcdefg",
     PlaceOutcome::AlreadyPresent,
     {{"a.swf", "other"}, {"a (2).swf", "abcdefg"}},
     0},
    {"a shorter file with the same start",
     {{"a.swf", "abcd"}},
     "a.swf",
     "abcdefg",
     PlaceOutcome::Copied,
     {{"a.swf", "abcd"}, {"a (2).swf", "abcdefg"}}},
    {"a longer file with the same start",
     {{"a.swf", "abcdefgh"}},
     "a.swf",
     "abcdefg",
     PlaceOutcome::Copied,
     {{"a.swf", "abcdefgh"}, {"a (2).swf", "abcdefg"}}},
    {"a folder under the name and a name without a dot",
     {{"noext", "/"}},
     "noext",
     "abc",
     PlaceOutcome::Copied,
     {{"noext (2)", "abc"}}},
    {"a write that fails half way",
     {},
     "a.swf",
     "abcdefg",
     PlaceOutcome::Failed,
     {},
     1,
     kNever,
     kNever,
     kNever,
     4},
    {"a file too big for the room left",
     {{"a.swf", "other"}},
     "a.swf",
     "abcdefg",
     PlaceOutcome::TooBig,
     {{"a.swf", "other"}},
     1,
     kNever,
     kNever,
     5},
    {"a full destination before the first byte",
     {},
     "a.swf",
     "abcdefg",
     PlaceOutcome::DestinationFull,
     {},
     1,
     kNever,
     kNever,
     0},
    {"a full destination at creation",
     {},
     "a.swf",
     "abc",
     PlaceOutcome::DestinationFull,
     {},
     0,
     kNever,
     kNever,
     kNever,
     kNever,
     CreateStatus::DiskFull},
    {"a creation that fails is not retried under other names",
     {},
     "a.swf",
     "abc",
     PlaceOutcome::Failed,
     {},
     0,
     kNever,
     kNever,
     kNever,
     kNever,
     CreateStatus::Failed},
    {"a source that fails half way", {}, "a.swf", "abcdefg", PlaceOutcome::Failed, {}, 1, 4},
    {"a source that fails while compared",
     {{"a.swf", "abcdefg"}},
     "a.swf",
     "abcdefg",
     PlaceOutcome::Failed,
     {{"a.swf", "abcdefg"}},
     0,
     4},
    {"a stop while writing", {}, "a.swf", "abcdefg", PlaceOutcome::Stopped, {}, 1, kNever, 3},
    {"a stop while comparing",
     {{"a.swf", "abcdefg"}},
     "a.swf",
     "abcdefg",
     PlaceOutcome::Stopped,
     {{"a.swf", "abcdefg"}},
     0,
     kNever,
     3},
    {"a commit that fails",
     {},
     "a.swf",
     "abcdefg",
     PlaceOutcome::Failed,
     {},
     1,
     kNever,
     kNever,
     kNever,
     kNever,
     CreateStatus::Created,
     true},
};

TEST(PlaceNewFile, DecidesTheNameAndLeavesNothingPartial) {
    for (const PlaceCase& c : kPlaceCases) {
        NodeFileSystem files;
        files.nodes["/out"];
        for (const auto& [name, bytes] : c.existing) {
            if (bytes == "/") {
                files.AddFolder("/out", name);
            } else {
                files.AddFile("/out", name, bytes);
            }
        }
        files.capacity = c.capacity;
        files.failWritesAfter = c.failWritesAfter;
        files.createAnswer = c.createAnswer;
        files.commitFails = c.commitFails;
        HarvestProgress progress;
        ChunkedContent content(c.bytes, c.sourceFailsAt, c.stopAt, progress);

        NameIndex names;
        const PlaceOutcome outcome =
            PlaceNewFile(files, u"/out", Utf8ToUtf16(c.name), content, &progress, names);

        EXPECT_EQ(outcome, c.outcome) << c.what;
        EXPECT_EQ(files.FilesIn("/out"), c.after) << c.what;
        EXPECT_EQ(files.creations.size(), c.creations) << c.what;
    }
}

TEST(PlaceNewFile, GivesUpAfterTheLastNumberedName) {
    NodeFileSystem files;
    files.nodes["/out"];
    files.AddFile("/out", "a.swf", "other");
    for (unsigned number = 2; number <= 100000; ++number) {
        files.AddFile("/out", "a (" + std::to_string(number) + ").swf", "other");
    }
    HarvestProgress progress;
    ChunkedContent content("new", kNever, kNever, progress);
    NameIndex names;
    EXPECT_EQ(PlaceNewFile(files, u"/out", u"a.swf", content, nullptr, names), PlaceOutcome::Failed);
    EXPECT_TRUE(files.creations.empty());
}

// Another harvest takes a name between our search and our commit, or is still writing the file under it.
TEST(PlaceNewFile, ANameTakenMeanwhileIsLearntAndTheSearchGoesOn) {
    const struct {
        const char* what;
        Files existing;
        Files takenAtCommit;
        std::size_t busyOpens;
        PlaceOutcome outcome;
        Files after;
    } kCases[] = {
        {"other bytes at commit",
         {},
         {{"a.swf", "theirs"}},
         0,
         PlaceOutcome::Copied,
         {{"a.swf", "theirs"}, {"a (2).swf", "mine"}}},
        {"the same bytes at commit",
         {},
         {{"a.swf", "mine"}},
         0,
         PlaceOutcome::AlreadyPresent,
         {{"a.swf", "mine"}}},
        {"a numbered name at commit",
         {{"a.swf", "x"}},
         {{"a (2).swf", "theirs"}},
         0,
         PlaceOutcome::Copied,
         {{"a.swf", "x"}, {"a (2).swf", "theirs"}, {"a (3).swf", "mine"}}},
        {"the same bytes once written",
         {{"a.swf", "mine"}},
         {},
         3,
         PlaceOutcome::AlreadyPresent,
         {{"a.swf", "mine"}}},
        {"a file that stays unreadable",
         {{"a.swf", "mine"}},
         {},
         1000,
         PlaceOutcome::Copied,
         {{"a.swf", "mine"}, {"a (2).swf", "mine"}}},
    };
    for (const auto& c : kCases) {
        NodeFileSystem files;
        files.nodes["/out"];
        for (const auto& [name, bytes] : c.existing) {
            files.AddFile("/out", name, bytes);
            files.nodes["/out/" + name].busyOpens = c.busyOpens;
        }
        for (const auto& [name, bytes] : c.takenAtCommit) {
            files.takenAtCommit["/out/" + name] = bytes;
        }
        HarvestProgress progress;
        ChunkedContent content("mine", kNever, kNever, progress);
        NameIndex names;
        EXPECT_EQ(PlaceNewFile(files, u"/out", u"a.swf", content, nullptr, names), c.outcome) << c.what;
        EXPECT_EQ(files.FilesIn("/out"), c.after) << c.what;
    }
}

TEST(PlaceNewFile, ASourceGoneIsNeitherWrittenNorFailed) {
    for (const Files& existing : {Files{}, Files{{"a.swf", "other"}}}) {
        NodeFileSystem files;
        files.nodes["/out"];
        for (const auto& [name, bytes] : existing) {
            files.AddFile("/out", name, bytes);
        }
        FileContent gone(files, u"/cache/evicted");
        NameIndex names;
        EXPECT_EQ(PlaceNewFile(files, u"/out", u"a.swf", gone, nullptr, names), PlaceOutcome::SourceGone);
        EXPECT_EQ(files.FilesIn("/out"), existing);
    }
}

// A copy shows when its source was modified; a file already there keeps its own time.
TEST(PlaceNewFile, ACopyKeepsItsSourcesModifiedTime) {
    const struct {
        const char* what;
        std::string existing;  // under the name, modified at 1
        std::optional<FileTime> sourceTime;
        std::optional<std::int64_t> nameTime, numberedTime;
    } kCases[] = {
        {"a free name", "", FileTime{5}, 5, std::nullopt},
        {"a source without a time", "", std::nullopt, std::nullopt, std::nullopt},
        {"other bytes under the name", "other", FileTime{5}, 1, 5},
        {"the same bytes under the name", "source", FileTime{5}, 1, std::nullopt},
    };
    for (const auto& c : kCases) {
        NodeFileSystem files;
        files.nodes["/out"];
        if (!c.existing.empty()) {
            files.AddFile("/out", "a.swf", c.existing);
            files.nodes["/out/a.swf"].modified = FileTime{1};
        }
        files.AddFile("/cache", "a.swf", "source");
        files.nodes["/cache/a.swf"].modified = c.sourceTime;
        FileContent content(files, u"/cache/a.swf");
        NameIndex names;
        PlaceNewFile(files, u"/out", u"a.swf", content, nullptr, names);

        const auto timeOf = [&](const std::string& path) -> std::optional<std::int64_t> {
            const auto node = files.nodes.find(path);
            if (node == files.nodes.end() || !node->second.modified) {
                return std::nullopt;
            }
            return node->second.modified->nanoseconds;
        };
        EXPECT_EQ(timeOf("/out/a.swf"), c.nameTime) << c.what;
        EXPECT_EQ(timeOf("/out/a (2).swf"), c.numberedTime) << c.what;
    }
}

// Bytes of one size, told apart by their number.
std::string Numbered(std::size_t number) {
    return "bytes " + std::to_string(1000 + number);
}

// One harvest's index numbers on from the last name it knows, and finds the same bytes by their digest: each
// file under the name is read at most twice (for its digest and, on a match, to compare), however many come.
TEST(PlaceNewFile, TheIndexReadsEachFileOfANameAFewTimesOnly) {
    std::vector<std::size_t> fresh;
    std::vector<std::size_t> found;  // new bytes and those of the files already there, in turns
    for (std::size_t i = 0; i < 60; ++i) {
        fresh.push_back(100 + i);
        found.push_back(i % 2 == 0 ? 100 + i : i - 1);
    }
    std::vector<std::size_t> again = fresh;
    again.insert(again.end(), fresh.begin(), fresh.end());
    const struct {
        const char* what;
        std::size_t existing;  // files 0, 1, … under the name and its numbered names
        std::vector<std::size_t> placed;
        std::size_t copied;
        std::size_t mostOpens;
    } kCases[] = {
        {"new bytes each time", 0, fresh, 60, 1},
        {"each of them twice", 0, again, 60, 2},
        {"files already there, then some of them again", 60, found, 30, 2},
    };
    for (const auto& c : kCases) {
        NodeFileSystem files;
        files.nodes["/out"];
        for (std::size_t i = 0; i < c.existing; ++i) {
            files.AddFile("/out", i == 0 ? "a.bin" : "a (" + std::to_string(i + 1) + ").bin", Numbered(i));
        }
        HarvestProgress progress;
        NameIndex names;
        std::size_t copied = 0;
        for (const std::size_t number : c.placed) {
            ChunkedContent content(Numbered(number), kNever, kNever, progress);
            copied += PlaceNewFile(files, u"/out", u"a.bin", content, nullptr, names) == PlaceOutcome::Copied;
        }
        EXPECT_EQ(copied, c.copied) << c.what;
        EXPECT_EQ(files.FilesIn("/out").size(), c.existing + c.copied) << c.what;
        std::size_t mostOpens = 0;
        for (const auto& [path, opens] : files.opens) {
            mostOpens = std::max(mostOpens, opens);
        }
        EXPECT_EQ(mostOpens, c.mostOpens) << c.what;
    }
}

// A name of 90 CJK characters is 270 bytes of UTF-8, over the limit on POSIX.
TEST(PlaceNewFile, CutsEveryNameToTheDestinationsLimit) {
    const std::u16string name = std::u16string(90, u'\u4E2D') + u".mp4";
    NodeFileSystem files;
    files.nodes["/out"];
    files.nameLength = NameLengthUnit::Utf8Bytes;
    HarvestProgress progress;
    NameIndex names;
    for (const char* bytes : {"one", "two"}) {
        ChunkedContent content(bytes, kNever, kNever, progress);
        EXPECT_EQ(PlaceNewFile(files, u"/out", name, content, nullptr, names), PlaceOutcome::Copied);
    }
    EXPECT_EQ(files.FilesIn("/out"), (Files{{Utf16ToUtf8(name.substr(0, 83)) + ".mp4", "one"},
                                            {Utf16ToUtf8(name.substr(0, 82)) + " (2).mp4", "two"}}));
}

}  // namespace
}  // namespace drovan::tests
