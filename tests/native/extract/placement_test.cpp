#include "extract/placement.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "extract/progress.h"
#include "extract/utf8.h"
#include "tests/support/memory_file_system.h"

namespace drovan::tests {
namespace {

using Files = std::map<std::u16string, std::string>;
constexpr std::size_t kNever = std::string::npos;

// Bytes fed in chunks of three; it can fail after some bytes or ask to stop after some.
class ChunkedContent final : public Content {
  public:
    ChunkedContent(std::string bytes, std::size_t failAt = kNever, std::size_t stopAt = kNever,
                   HarvestProgress* progress = nullptr)
        : m_bytes(std::move(bytes)), m_failAt(failAt), m_stopAt(stopAt), m_progress(progress) {}

    Status Stream(const Sink& sink) override {
        for (std::size_t at = 0; at < m_bytes.size(); at += 3) {
            if (at >= m_failAt) {
                return Status::SourceFailed;
            }
            if (at >= m_stopAt) {
                m_progress->stop = true;
            }
            if (!sink(m_bytes.data() + at, std::min<std::size_t>(3, m_bytes.size() - at))) {
                return Status::Refused;
            }
        }
        return Status::Done;
    }

  private:
    std::string m_bytes;
    std::size_t m_failAt;
    std::size_t m_stopAt;
    HarvestProgress* m_progress;
};

// /out holding files, and folders where the bytes are "/".
MemoryFileSystem Destination(const Files& existing) {
    MemoryFileSystem files;
    files.AddFolder(u"/out");
    for (const auto& [name, bytes] : existing) {
        if (bytes == "/") {
            files.AddFolder(u"/out/" + name);
        } else {
            files.AddFile(u"/out/" + name, bytes);
        }
    }
    return files;
}

PlaceOutcome Place(MemoryFileSystem& files, Content& content, NameIndex& names,
                   std::u16string name = u"a.swf", HarvestProgress* progress = nullptr) {
    return PlaceNewFile(files, u"/out", name, content, progress, names);
}

// The files of existing but its folders, and the bytes under written.
Files After(const Files& existing, const char16_t* written, const std::string& bytes) {
    Files after;
    for (const auto& [name, existingBytes] : existing) {
        if (existingBytes != "/") {
            after[name] = existingBytes;
        }
    }
    if (written != nullptr) {
        after[written] = bytes;
    }
    return after;
}

enum Fault { kNone, kSourceFails, kStop, kRoom, kWritesFail, kCreateFull, kCreateFails, kCommitFails };

TEST(PlaceNewFile, DecidesTheNameAndLeavesNothingPartial) {
    constexpr auto kCopied = PlaceOutcome::Copied;
    constexpr auto kPresent = PlaceOutcome::AlreadyPresent;
    constexpr auto kFailed = PlaceOutcome::Failed;
    constexpr auto kFull = PlaceOutcome::DestinationFull;
    constexpr auto kStopped = PlaceOutcome::Stopped;
    const Files same = {{u"a.swf", "abcdefg"}};
    const Files other = {{u"a.swf", "other"}};
    const Files numbered = {{u"a.swf", "other"}, {u"a (2).swf", "abcdefg"}};
    const struct {
        const char* what;
        Files existing;  // a value of "/" makes a folder
        Fault fault;
        std::size_t at;  // the byte the fault comes at, or the room for bytes
        PlaceOutcome outcome;
        const char16_t* written;  // the name the bytes got, if any; all else stays as it was
        std::size_t creations;
        std::string bytes = "abcdefg";  // placed as "a.swf"
    } kCases[] = {
        {"a free name", {}, kNone, 0, kCopied, u"a.swf", 1},
        {"an empty file", {}, kNone, 0, kCopied, u"a.swf", 1, ""},
        {"the same bytes under the name", same, kNone, 0, kPresent, nullptr, 0},
        {"other bytes under the name", other, kNone, 0, kCopied, u"a (2).swf", 1},
        {"the same bytes under a numbered name", numbered, kNone, 0, kPresent, nullptr, 0},
        {"a shorter file with the same start", {{u"a.swf", "abcd"}}, kNone, 0, kCopied, u"a (2).swf", 1},
        {"a longer file with the same start", {{u"a.swf", "abcdefgh"}}, kNone, 0, kCopied, u"a (2).swf", 1},
        {"a folder under the name", {{u"a.swf", "/"}}, kNone, 0, kCopied, u"a (2).swf", 1},
        {"a write that fails half way", {}, kWritesFail, 4, kFailed, nullptr, 1},
        {"a file too big for the room left", other, kRoom, 5, PlaceOutcome::TooBig, nullptr, 1},
        {"a full destination before the first byte", {}, kRoom, 0, kFull, nullptr, 1},
        {"a full destination at creation", {}, kCreateFull, 0, kFull, nullptr, 1},
        {"a creation that fails is not retried under other names", {}, kCreateFails, 0, kFailed, nullptr, 1},
        {"a source that fails half way", {}, kSourceFails, 4, kFailed, nullptr, 1},
        {"a source that fails while compared", same, kSourceFails, 4, kFailed, nullptr, 0},
        {"a stop while writing", {}, kStop, 3, kStopped, nullptr, 1},
        {"a stop while comparing", same, kStop, 3, kStopped, nullptr, 0},
        {"a commit that fails", {}, kCommitFails, 0, kFailed, nullptr, 1},
    };
    for (const auto& c : kCases) {
        MemoryFileSystem files = Destination(c.existing);
        files.capacity = c.fault == kRoom ? c.at : files.capacity;
        files.failWritesAfter = c.fault == kWritesFail ? c.at : files.failWritesAfter;
        files.createAnswer = c.fault == kCreateFull    ? CreateStatus::DiskFull
                             : c.fault == kCreateFails ? CreateStatus::Failed
                                                       : CreateStatus::Created;
        files.commitFails = c.fault == kCommitFails;
        HarvestProgress progress;
        ChunkedContent content(c.bytes, c.fault == kSourceFails ? c.at : kNever,
                               c.fault == kStop ? c.at : kNever, &progress);
        NameIndex names;
        EXPECT_EQ(Place(files, content, names, u"a.swf", &progress), c.outcome) << c.what;
        EXPECT_EQ(files.FilesIn(u"/out"), After(c.existing, c.written, c.bytes)) << c.what;
        EXPECT_EQ(files.creations.size(), c.creations) << c.what;
    }
}

// Writes junk first, then goes back over it as content that learns its start last does.
class GoingBackContent final : public Content {
  public:
    explicit GoingBackContent(bool restarts) : m_restarts(restarts) {}
    Status Stream(const Sink& sink) override { return sink("abcdefg", 7) ? Status::Done : Status::Refused; }
    Status StreamInto(const Sink& sink, WrittenFile& file) override {
        if (m_restarts) {
            return sink("junk", 4) && file.Restart() ? Stream(sink) : Status::Refused;
        }
        return sink("...defg", 7) && file.Overwrite(0, "abc", 3) ? Status::Done : Status::Refused;
    }

  private:
    bool m_restarts;
};

TEST(PlaceNewFile, ContentMayGoBackOverTheFileItWrites) {
    for (const bool restarts : {false, true}) {
        for (const bool renameOnly : {false, true}) {
            MemoryFileSystem files = Destination({});
            files.renameOnly = renameOnly;
            GoingBackContent content(restarts);
            NameIndex names;
            EXPECT_EQ(Place(files, content, names), PlaceOutcome::Copied);
            EXPECT_EQ(files.FilesIn(u"/out"), (Files{{u"a.swf", "abcdefg"}})) << restarts << renameOnly;
        }
    }
}

TEST(PlaceNewFile, AFailureSaysWhyAndWhere) {
    const struct {
        Fault fault;
        const char16_t* reason;
        const char16_t* path;
    } kCases[] = {
        {kCreateFails, u"read-only file system", u"/out"},
        {kWritesFail, u"read-only file system", u"/out"},
        {kCommitFails, u"read-only file system", u"/out"},
        {kSourceFails, u"the source could not be read", u"a.swf"},
    };
    for (const auto& c : kCases) {
        MemoryFileSystem files = Destination({});
        files.failWritesAfter = c.fault == kWritesFail ? 2 : files.failWritesAfter;
        files.createAnswer = c.fault == kCreateFails ? CreateStatus::Failed : CreateStatus::Created;
        files.commitFails = c.fault == kCommitFails;
        ChunkedContent content("abcdefg", c.fault == kSourceFails ? 2 : kNever);
        NameIndex names;
        PlaceFailure failure;
        EXPECT_EQ(PlaceNewFile(files, u"/out", u"a.swf", content, nullptr, names, &failure),
                  PlaceOutcome::Failed);
        EXPECT_EQ(failure.reason, c.reason) << c.fault;
        EXPECT_EQ(failure.path, c.path) << c.fault;
    }
}

TEST(PlaceNewFile, GivesUpAfterTheLastNumberedName) {
    MemoryFileSystem files = Destination({{u"a.swf", "other"}});
    for (unsigned number = 2; number <= 100000; ++number) {
        files.AddFile(u"/out/a (" + Utf8ToUtf16(std::to_string(number)) + u").swf", "other");
    }
    ChunkedContent content("new");
    NameIndex names;
    EXPECT_EQ(Place(files, content, names), PlaceOutcome::Failed);
    EXPECT_TRUE(files.creations.empty());
}

// An index that remembers one name forgets a.swf for b.swf, then learns it again from the destination: the
// same bytes are found there, other bytes get the next number.
TEST(PlaceNewFile, ANameTheIndexForgotIsLearntAgain) {
    MemoryFileSystem files = Destination({});
    NameIndex names(1);
    const std::pair<const char16_t*, const char*> kPlaced[] = {
        {u"a.swf", "one"}, {u"b.swf", "two"}, {u"a.swf", "one"}, {u"a.swf", "three"}};
    for (const auto& [name, bytes] : kPlaced) {
        ChunkedContent content(bytes);
        Place(files, content, names, name);
    }
    EXPECT_EQ(files.FilesIn(u"/out"), (Files{{u"a.swf", "one"}, {u"b.swf", "two"}, {u"a (2).swf", "three"}}));
}

// Another harvest takes a name between our search and our commit, or is still writing the file under it.
TEST(PlaceNewFile, ANameTakenMeanwhileIsLearntAndTheSearchGoesOn) {
    constexpr auto kCopied = PlaceOutcome::Copied;
    constexpr auto kPresent = PlaceOutcome::AlreadyPresent;
    const struct {
        const char* what;
        Files existing;
        Files takenAtCommit;
        std::size_t busyOpens;  // of each file existing
        PlaceOutcome outcome;
        const char16_t* written;
    } kCases[] = {
        {"other bytes at commit", {}, {{u"a.swf", "theirs"}}, 0, kCopied, u"a (2).swf"},
        {"the same bytes at commit", {}, {{u"a.swf", "mine"}}, 0, kPresent, nullptr},
        {"a numbered name at commit",
         {{u"a.swf", "x"}},
         {{u"a (2).swf", "theirs"}},
         0,
         kCopied,
         u"a (3).swf"},
        {"the same bytes once written", {{u"a.swf", "mine"}}, {}, 3, kPresent, nullptr},
        {"a file that stays unreadable", {{u"a.swf", "mine"}}, {}, 1000, kCopied, u"a (2).swf"},
    };
    for (const auto& c : kCases) {
        MemoryFileSystem files = Destination(c.existing);
        Files after = c.existing;
        for (const auto& [name, bytes] : c.existing) {
            files.busyOpens[u"/out/" + name] = c.busyOpens;
        }
        for (const auto& [name, bytes] : c.takenAtCommit) {
            files.takenAtCommit[u"/out/" + name] = bytes;
            after[name] = bytes;
        }
        ChunkedContent content("mine");
        NameIndex names;
        EXPECT_EQ(Place(files, content, names), c.outcome) << c.what;
        EXPECT_EQ(files.FilesIn(u"/out"), After(after, c.written, "mine")) << c.what;
    }
}

TEST(PlaceNewFile, ASourceGoneIsNeitherWrittenNorFailed) {
    for (const Files& existing : {Files{}, Files{{u"a.swf", "other"}}}) {
        MemoryFileSystem files = Destination(existing);
        FileContent gone(files, u"/cache/evicted");
        NameIndex names;
        EXPECT_EQ(Place(files, gone, names), PlaceOutcome::SourceGone);
        EXPECT_EQ(files.FilesIn(u"/out"), existing);
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
        MemoryFileSystem files = Destination({});
        if (!c.existing.empty()) {
            files.AddFile(u"/out/a.swf", c.existing, FileTime{1});
        }
        files.AddFile(u"/cache/a.swf", "source", c.sourceTime);
        FileContent content(files, u"/cache/a.swf");
        NameIndex names;
        Place(files, content, names);

        const auto timeOf = [&](const std::u16string& path) -> std::optional<std::int64_t> {
            const auto time = files.modifiedTimes().find(path);
            return time == files.modifiedTimes().end()
                       ? std::nullopt
                       : std::optional<std::int64_t>(time->second.nanoseconds);
        };
        EXPECT_EQ(timeOf(u"/out/a.swf"), c.nameTime) << c.what;
        EXPECT_EQ(timeOf(u"/out/a (2).swf"), c.numberedTime) << c.what;
    }
}

bool HiddenTemporary(const std::u16string& name) {
    return name.rfind(u".drovan-", 0) == 0 && name.size() > 13 && name.substr(name.size() - 5) == u".part";
}

// On exFAT or FAT, with neither links nor an exclusive rename, a file waits under a hidden name until it is
// renamed: a crash while it is written or at any step of its commit leaves under the real names only whole
// files, and another harvest's file that took the name meanwhile is never replaced. The time set shows
// although a rename sets its own.
TEST(PlaceNewFile, WithoutLinksACrashAnywhereLeavesOnlyWholeFiles) {
    const struct {
        const char* what;
        Files existing;
        Files takenAtCommit;
        PlaceOutcome outcome;
        const char16_t* written;
    } kCases[] = {
        {"a free name", {}, {}, PlaceOutcome::Copied, u"a.swf"},
        {"other bytes under the name", {{u"a.swf", "other"}}, {}, PlaceOutcome::Copied, u"a (2).swf"},
        {"other bytes at commit", {}, {{u"a.swf", "theirs"}}, PlaceOutcome::Copied, u"a (2).swf"},
        {"the same bytes at commit", {}, {{u"a.swf", "source"}}, PlaceOutcome::AlreadyPresent, nullptr},
    };
    for (const auto& c : kCases) {
        MemoryFileSystem files = Destination(c.existing);
        files.renameOnly = true;
        Files after = c.existing;
        for (const auto& [name, bytes] : c.takenAtCommit) {
            files.takenAtCommit[u"/out/" + name] = bytes;
            after[name] = bytes;
        }
        after = After(after, c.written, "source");
        std::vector<std::string> steps;
        const auto crash = [&](std::string_view step) {
            steps.emplace_back(step);
            for (const auto& [name, bytes] : files.FilesIn(u"/out")) {
                const auto whole = after.find(name);
                EXPECT_TRUE(HiddenTemporary(name) || (whole != after.end() && whole->second == bytes))
                    << c.what << ", " << step << ": " << Utf16ToUtf8(name) << " holds " << bytes;
            }
        };
        files.onWrite = [&](const std::u16string&) { crash("write"); };
        files.onRenameStep = crash;
        files.AddFile(u"/cache/a.swf", "source", FileTime{5});
        FileContent content(files, u"/cache/a.swf");
        NameIndex names;

        EXPECT_EQ(Place(files, content, names), c.outcome) << c.what;
        EXPECT_EQ(files.FilesIn(u"/out"), after) << c.what;
        EXPECT_EQ(std::count(steps.begin(), steps.end(), "rename"), c.written ? 1 : 0) << c.what;
        if (c.written) {
            EXPECT_EQ(files.modifiedTimes().at(u"/out/" + std::u16string(c.written)).nanoseconds, 5)
                << c.what;
        }
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
        MemoryFileSystem files = Destination({});
        for (std::size_t i = 0; i < c.existing; ++i) {
            files.AddFile(
                i == 0 ? u"/out/a.swf" : u"/out/a (" + Utf8ToUtf16(std::to_string(i + 1)) + u").swf",
                Numbered(i));
        }
        NameIndex names;
        std::size_t copied = 0;
        for (const std::size_t number : c.placed) {
            ChunkedContent content(Numbered(number));
            copied += Place(files, content, names) == PlaceOutcome::Copied;
        }
        EXPECT_EQ(copied, c.copied) << c.what;
        EXPECT_EQ(files.FilesIn(u"/out").size(), c.existing + c.copied) << c.what;
        std::size_t mostOpens = 0;
        for (const auto& [path, opens] : files.opens) {
            mostOpens = std::max(mostOpens, opens);
        }
        EXPECT_EQ(mostOpens, c.mostOpens) << c.what;
    }
}

// A name of 90 CJK characters is 270 bytes of UTF-8, over the limit on POSIX.
TEST(PlaceNewFile, CutsEveryNameToTheDestinationsLimit) {
    const std::u16string cjk(90, u'\u4E2D');
    MemoryFileSystem files = Destination({});
    files.nameLength = NameLengthUnit::Utf8Bytes;
    NameIndex names;
    for (const char* bytes : {"one", "two"}) {
        ChunkedContent content(bytes);
        EXPECT_EQ(Place(files, content, names, cjk + u".mp4"), PlaceOutcome::Copied);
    }
    EXPECT_EQ(files.FilesIn(u"/out"),
              (Files{{cjk.substr(0, 83) + u".mp4", "one"}, {cjk.substr(0, 82) + u" (2).mp4", "two"}}));
}

}  // namespace
}  // namespace drovan::tests
