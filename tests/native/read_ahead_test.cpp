#include "extract/read_ahead.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "extract/progress.h"

namespace drovan {
namespace {

// Bytes made from the item's number, given in 64 KiB pieces; counts how often it is read.
class NumberedContent final : public Content {
  public:
    NumberedContent(std::size_t number, std::size_t size, bool fails = false)
        : m_number(number), m_size(size), m_fails(fails) {}
    Status Stream(const Sink& sink) override {
        ++streams;
        const std::string bytes = Bytes();
        for (std::size_t done = 0; done < bytes.size(); done += 65536) {
            if (!sink(bytes.data() + done, std::min<std::size_t>(65536, bytes.size() - done))) {
                return Status::Refused;
            }
        }
        return m_fails ? Status::SourceFailed : Status::Done;
    }
    std::string Bytes() const { return std::string(m_size, static_cast<char>('a' + m_number % 26)); }
    std::atomic<int> streams{0};

  private:
    std::size_t m_number;
    std::size_t m_size;
    bool m_fails;
};

std::string Streamed(Content& content) {
    std::string bytes;
    content.Stream([&bytes](const char* data, std::size_t size) {
        bytes.append(data, size);
        return true;
    });
    return bytes;
}

struct Planned {
    std::size_t size;
    bool fails;
    bool held;  // read ahead and kept in memory
};

// Small contents are read once, ahead; one past the cap, or one that fails, is left to the writer. The
// 1 MiB run is longer than the budget, so the reader must wait for the writer to let go.
TEST(ReadAhead, HoldsSmallContentsAndLeavesTheRestToTheWriter) {
    std::vector<Planned> plan = {
        {0, false, true}, {10, false, true}, {9 << 20, false, false}, {5, true, false}};
    for (int i = 0; i < 40; ++i) {
        plan.push_back({1 << 20, false, true});
    }
    std::vector<HarvestItem> items;
    for (std::size_t i = 0; i < plan.size(); ++i) {
        items.push_back({u"n", u"o", std::make_unique<NumberedContent>(i, plan[i].size, plan[i].fails)});
    }
    {
        ReadAhead readAhead(items, nullptr);
        for (std::size_t i = 0; i < items.size(); ++i) {
            auto& original = static_cast<NumberedContent&>(*items[i].content);
            Content& content = readAhead.ContentFor(i);
            EXPECT_EQ(&content != &original, plan[i].held) << i;
            EXPECT_EQ(Streamed(content), original.Bytes()) << i;
            EXPECT_EQ(Streamed(content), original.Bytes()) << i;
            EXPECT_EQ(original.streams, plan[i].held ? 1 : 3) << i;
        }
    }
}

// A stop, or a writer that gives up early, never leaves the writer or the reader waiting.
TEST(ReadAhead, StopsWithoutWaiting) {
    std::vector<HarvestItem> items;
    for (std::size_t i = 0; i < 200; ++i) {
        items.push_back({u"n", u"o", std::make_unique<NumberedContent>(i, 1 << 20)});
    }
    ExtractionProgress stopped;
    stopped.stop = true;
    {
        ReadAhead readAhead(items, &stopped);
        for (std::size_t i = 0; i < items.size(); ++i) {
            EXPECT_EQ(&readAhead.ContentFor(i), items[i].content.get());
        }
    }
    ReadAhead leftEarly(items, nullptr);
    leftEarly.ContentFor(0);
}

}  // namespace
}  // namespace drovan
