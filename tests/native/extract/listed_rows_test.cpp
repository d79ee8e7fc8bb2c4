#include "extract/listed_rows.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "extract/utf8.h"

namespace drovan::tests {
namespace {

// Bytes of a size known only once streamed, as a compressed body's; fails when told to.
class CountedContent final : public Content {
  public:
    CountedContent(std::size_t size, bool fails) : m_size(size), m_fails(fails) {}
    Status Stream(const Sink& sink) override {
        const std::string bytes(m_size, 'x');
        return m_fails ? Status::Damaged : sink(bytes.data(), bytes.size()) ? Status::Done : Status::Refused;
    }

  private:
    std::size_t m_size;
    bool m_fails;
};

// One byte, or two when another body started streaming while this one waited for it.
class MeetingContent final : public Content {
  public:
    Status Stream(const Sink& sink) override {
        std::unique_lock<std::mutex> lock(s_mutex);
        ++s_started;
        s_arrived.notify_all();
        const bool met =
            s_arrived.wait_for(lock, std::chrono::seconds(10), [] { return s_started % 2 == 0; });
        lock.unlock();
        return sink("xx", met ? 2 : 1) ? Status::Done : Status::Refused;
    }

  private:
    static inline std::mutex s_mutex;
    static inline std::condition_variable s_arrived;
    static inline int s_started = 0;
};

// Two rows left to count at the end, once the second thread has given what it had and waits, are counted
// at once, one on each thread.
TEST(ListedRows, CountsTheLastRowsOnBothThreads) {
    std::atomic<int> given{0};
    std::vector<std::optional<std::uint64_t>> sizes;
    const ListedRows::RowSink sink = [&](const ItemFacts& facts) {
        sizes.push_back(facts.size);
        ++given;
    };
    ListedRows rows(sink, nullptr, true);
    for (int i = 0; i < 34; ++i) {
        HarvestItem item;
        item.facts = std::make_unique<ItemFacts>();
        if (i < 32) {
            item.facts->size = 0;
        } else {
            while (given < 32) {
                std::this_thread::yield();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            item.content = std::make_unique<MeetingContent>();
        }
        rows.Add(std::move(item));
    }
    rows.Finish();
    EXPECT_EQ(std::vector<std::optional<std::uint64_t>>(sizes.begin() + 32, sizes.end()),
              (std::vector<std::optional<std::uint64_t>>{2, 2}));
}

// Rows leave in the order they came, each with its size counted or kept, whichever thread counted it.
TEST(ListedRows, GivesRowsInOrderWithTheSizesCounted) {
    for (const bool concurrently : {false, true}) {
        std::vector<std::u16string> names;
        std::vector<std::optional<std::uint64_t>> sizes;
        const ListedRows::RowSink sink = [&](const ItemFacts& facts) {
            names.push_back(facts.name);
            sizes.push_back(facts.size);
        };
        ListedRows rows(sink, nullptr, concurrently);
        for (std::size_t i = 0; i < 2000; ++i) {
            HarvestItem item;
            item.facts = std::make_unique<ItemFacts>();
            item.facts->name = Utf8ToUtf16(std::to_string(i));
            if (i % 3 == 0) {
                item.facts->size = 7;  // known already, or not written
            } else {
                item.content = std::make_unique<CountedContent>(i, i % 10 == 1);
            }
            rows.Add(std::move(item));
        }
        rows.Finish();
        ASSERT_EQ(names.size(), 2000u);
        for (std::size_t i = 0; i < 2000; ++i) {
            EXPECT_EQ(names[i], Utf8ToUtf16(std::to_string(i)));
            const std::optional<std::uint64_t> expected = i % 3 == 0    ? std::optional<std::uint64_t>(7)
                                                          : i % 10 == 1 ? std::nullopt
                                                                        : std::optional<std::uint64_t>(i);
            EXPECT_EQ(sizes[i], expected) << i << (concurrently ? " concurrently" : "");
        }
    }
}

}  // namespace
}  // namespace drovan::tests
