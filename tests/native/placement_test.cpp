#include "extract/placement.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "extract/progress.h"
#include "memory_file_system.h"

namespace drovan {
namespace {

using testing_support::MemoryFileSystem;
using Files = std::map<std::string, std::string>;
constexpr std::size_t kNever = std::string::npos;

// Bytes fed in chunks of three; it can fail after some bytes or ask to stop after some.
class ChunkedContent final : public Content {
  public:
    ChunkedContent(std::string bytes, std::size_t failAt, std::size_t stopAt, ExtractionProgress& progress)
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
    ExtractionProgress& m_progress;
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
    {"a full destination half way",
     {{"a.swf", "other"}},
     "a.swf",
     "abcdefg",
     PlaceOutcome::DestinationFull,
     {{"a.swf", "other"}},
     1,
     kNever,
     kNever,
     5},
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
        MemoryFileSystem files;
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
        ExtractionProgress progress;
        ChunkedContent content(c.bytes, c.sourceFailsAt, c.stopAt, progress);

        const PlaceOutcome outcome = PlaceNewFile(files, u"/out", Utf8ToUtf16(c.name), content, &progress);

        EXPECT_EQ(outcome, c.outcome) << c.what;
        EXPECT_EQ(files.FilesIn("/out"), c.after) << c.what;
        EXPECT_EQ(files.creations.size(), c.creations) << c.what;
    }
}

TEST(PlaceNewFile, GivesUpAfterTheLastNumberedName) {
    MemoryFileSystem files;
    files.nodes["/out"];
    files.AddFile("/out", "a.swf", "other");
    for (unsigned number = 2; number <= 100000; ++number) {
        files.AddFile("/out", "a (" + std::to_string(number) + ").swf", "other");
    }
    ExtractionProgress progress;
    ChunkedContent content("new", kNever, kNever, progress);
    EXPECT_EQ(PlaceNewFile(files, u"/out", u"a.swf", content, nullptr), PlaceOutcome::Failed);
    EXPECT_TRUE(files.creations.empty());
}

}  // namespace
}  // namespace drovan
