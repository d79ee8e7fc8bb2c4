#include "extract/listed_rows.h"

#include <algorithm>
#include <iterator>
#include <system_error>
#include <utility>

#include "extract/progress.h"

namespace drovan {

std::optional<std::uint64_t> CountedSize(Content& content, const HarvestProgress* progress) {
    if (const std::optional<std::uint64_t> size = content.Size()) {
        return size;
    }
    std::uint64_t size = 0;
    const Content::Status status = content.Stream([&](const char*, std::size_t piece) {
        size += piece;
        return !StopRequested(progress);
    });
    return status == Content::Status::Done ? std::optional<std::uint64_t>(size) : std::nullopt;
}

ListedRows::ListedRows(const RowSink& row, HarvestProgress* progress, bool concurrently)
    : m_row(row), m_progress(progress) {
    if (!concurrently) {
        return;
    }
    try {
        m_counter = std::thread([this] { CountAhead(); });
    } catch (const std::system_error&) {
        // No second thread: the listing thread counts each row itself.
    }
}

ListedRows::~ListedRows() {
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_ending = true;
    }
    m_changed.notify_all();
    if (m_counter.joinable()) {
        m_counter.join();
    }
}

void ListedRows::Add(HarvestItem item) {
    const bool known = item.facts->size.has_value() || !item.content;
    std::vector<HarvestItem> spent;  // let go once the lock is
    std::unique_lock<std::mutex> lock(m_mutex);
    spent.swap(m_spent);
    m_rows.push_back({std::move(item), known ? State::Known : State::Waiting});
    if (!m_counter.joinable()) {
        Drain(0, lock);
        return;
    }
    // The second thread is woken once a few rows wait, to count them or give them, not for every row.
    if (m_counterIdle && m_rows.size() >= kGivenTogether) {
        m_changed.notify_all();
    }
    Drain(kAhead, lock);
}

void ListedRows::Finish() {
    std::unique_lock<std::mutex> lock(m_mutex);
    Drain(0, lock);
}

ListedRows::Row* ListedRows::NextWaiting() {
    m_nextWaiting = std::max(m_nextWaiting, m_first);
    while (m_nextWaiting < m_first + m_rows.size() &&
           m_rows[m_nextWaiting - m_first].state != State::Waiting) {
        ++m_nextWaiting;
    }
    return m_nextWaiting < m_first + m_rows.size() ? &m_rows[m_nextWaiting - m_first] : nullptr;
}

// Until at most `left` rows are in the queue (and, for none, the last is given), gives and counts rows on
// this thread, or waits while the other does. While the other counts the first row, this one counts the next
// waiting one.
void ListedRows::Drain(std::size_t left, std::unique_lock<std::mutex>& lock) {
    while (m_rows.size() > left || (left == 0 && m_giving)) {
        if (m_giving) {
            m_changed.wait(lock);
            continue;
        }
        Row& front = m_rows.front();
        Row* const next = front.state == State::Counting ? NextWaiting() : &front;
        if (front.state == State::Known) {
            GiveKnown(lock);
        } else if (next != nullptr) {
            Count(*next, lock);
        } else {
            m_changed.wait(lock);
        }
    }
}

void ListedRows::Count(Row& row, std::unique_lock<std::mutex>& lock) {
    row.state = State::Counting;
    // A row left waiting is the idle thread's to count meanwhile.
    if (m_counterIdle && NextWaiting() != nullptr) {
        m_changed.notify_all();
    }
    if (m_progress != nullptr) {
        m_progress->SetCurrentName(row.item.facts->name);
    }
    lock.unlock();
    row.item.facts->size = CountedSize(*row.item.content, m_progress);
    lock.lock();
    row.state = State::Known;
    m_changed.notify_all();
}

// The rows at the front whose sizes are known, given in order by one thread at a time; the row sink runs
// unlocked.
void ListedRows::GiveKnown(std::unique_lock<std::mutex>& lock) {
    m_giving = true;
    std::vector<HarvestItem> given;
    while (!m_rows.empty() && m_rows.front().state == State::Known) {
        while (!m_rows.empty() && m_rows.front().state == State::Known) {
            given.push_back(std::move(m_rows.front().item));
            m_rows.pop_front();
            ++m_first;
        }
        lock.unlock();
        for (const HarvestItem& item : given) {
            m_row(*item.facts);
            if (m_progress != nullptr) {
                ++m_progress->done;
            }
        }
        lock.lock();
        // Let go by the listing thread, which made them: freed on the other, each free would wait on the
        // heap the listing allocates from.
        std::move(given.begin(), given.end(), std::back_inserter(m_spent));
        given.clear();
    }
    m_giving = false;
    m_changed.notify_all();
}

void ListedRows::CountAhead() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        if (m_ending) {
            return;  // the rows are given, or dropped unwinding
        }
        if (Row* const row = NextWaiting()) {
            Count(*row, lock);
        } else if (!m_giving && !m_rows.empty() && m_rows.front().state == State::Known) {
            GiveKnown(lock);
        } else {
            m_counterIdle = true;
            m_changed.wait(lock);
            m_counterIdle = false;
        }
    }
}

}  // namespace drovan
