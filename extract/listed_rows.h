#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "extract/content.h"
#include "extract/harvest_item.h"

namespace drovan {

struct HarvestProgress;

// The bytes content gives, counted by streaming them when its size is not known; none when they do not all
// come, or on a stop.
std::optional<std::uint64_t> CountedSize(Content& content, const HarvestProgress* progress);

// A listing's rows on their way out, in order: a complete item whose written size is not yet known (a
// compressed body, a merge) waits while a second thread counts it, and that thread gives the rows too, so
// that decoding and the rows' output overlap the listing. At most kAhead rows wait; past that, the listing
// thread gives and counts them itself. concurrently: the file system lets a second thread read beside the
// listing; without, the listing thread counts and gives every row.
class ListedRows {
  public:
    using RowSink = std::function<void(const ItemFacts& facts)>;
    ListedRows(const RowSink& row, HarvestProgress* progress, bool concurrently);
    ListedRows(const ListedRows&) = delete;
    ListedRows& operator=(const ListedRows&) = delete;
    ~ListedRows();

    // item carries its facts, and its content when it is written.
    void Add(HarvestItem item);
    // Gives every row left.
    void Finish();

  private:
    static constexpr std::size_t kAhead = 256;
    static constexpr std::size_t kGivenTogether = 32;
    enum class State { Waiting, Counting, Known };
    struct Row {
        HarvestItem item;
        State state;
    };

    void CountAhead();
    // The first row still waiting to be counted, if any; under m_mutex.
    Row* NextWaiting();
    void Drain(std::size_t left, std::unique_lock<std::mutex>& lock);
    void Count(Row& row, std::unique_lock<std::mutex>& lock);
    void GiveKnown(std::unique_lock<std::mutex>& lock);

    const RowSink& m_row;
    HarvestProgress* m_progress;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    // Under m_mutex:
    std::deque<Row> m_rows;
    std::vector<HarvestItem> m_spent;  // given rows, for the listing thread to let go
    std::size_t m_first = 0;           // the index of the front row
    std::size_t m_nextWaiting = 0;     // no row before it waits
    bool m_giving = false;             // a thread gives rows
    bool m_counterIdle = false;        // the second thread waits for work
    bool m_ending = false;
    std::thread m_counter;
};

}  // namespace drovan
