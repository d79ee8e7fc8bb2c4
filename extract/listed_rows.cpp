#include "extract/listed_rows.h"

#include <algorithm>
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
    std::unique_lock<std::mutex> lock(m_mutex);
    m_rows.push_back({std::move(item), known ? State::Known : State::Waiting});
    m_changed.notify_all();
    while (m_rows.size() > (m_counter.joinable() ? kAhead : 0)) {
        // While the other thread counts the first row, this one counts the next waiting one.
        Row* const waiting = m_rows.front().state == State::Counting ? NextWaiting() : nullptr;
        Count(waiting != nullptr ? *waiting : m_rows.front(), lock);
        GiveKnown(lock);
    }
    GiveKnown(lock);
}

ListedRows::Row* ListedRows::NextWaiting() {
    m_nextWaiting = std::max(m_nextWaiting, m_first);
    while (m_nextWaiting < m_first + m_rows.size() &&
           m_rows[m_nextWaiting - m_first].state != State::Waiting) {
        ++m_nextWaiting;
    }
    return m_nextWaiting < m_first + m_rows.size() ? &m_rows[m_nextWaiting - m_first] : nullptr;
}

void ListedRows::Finish() {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_rows.empty()) {
        Count(m_rows.front(), lock);
        GiveKnown(lock);
    }
}

// Counts row when it waits, or waits while the other thread counts it.
void ListedRows::Count(Row& row, std::unique_lock<std::mutex>& lock) {
    if (row.state == State::Waiting) {
        row.state = State::Counting;
        if (m_progress != nullptr) {
            m_progress->SetCurrentName(row.item.facts->name);
        }
        lock.unlock();
        row.item.facts->size = CountedSize(*row.item.content, m_progress);
        lock.lock();
        row.state = State::Known;
        m_changed.notify_all();
    }
    m_changed.wait(lock, [&row] { return row.state == State::Known; });
}

// The rows at the front whose sizes are known, given in order; the row sink runs unlocked.
void ListedRows::GiveKnown(std::unique_lock<std::mutex>& lock) {
    while (!m_rows.empty() && m_rows.front().state == State::Known) {
        HarvestItem item = std::move(m_rows.front().item);
        m_rows.pop_front();
        ++m_first;
        lock.unlock();
        m_row(*item.facts);
        if (m_progress != nullptr) {
            ++m_progress->done;
        }
        lock.lock();
    }
}

void ListedRows::CountAhead() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        if (Row* const row = NextWaiting()) {
            Count(*row, lock);
            continue;
        }
        if (m_ending) {
            return;
        }
        m_changed.wait(lock);
    }
}

}  // namespace drovan
