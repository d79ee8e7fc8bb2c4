#include "extract/harvest_writer.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "extract/progress.h"

namespace drovan {
namespace {

// Held bytes stay below the budget plus one content's cap: enough to keep the writer fed through a run of
// small files, little beside what a harvest otherwise takes.
constexpr std::size_t kHeldBudget = 24 << 20;
constexpr std::size_t kHeldContentCap = 8 << 20;

bool StopRequested(const ExtractionProgress* progress) {
    return progress != nullptr && progress->stop.load(std::memory_order_relaxed);
}

// A content read whole into memory, streamed from there as often as placement asks.
class HeldContent final : public Content {
  public:
    Status Stream(const Sink& sink) override {
        return bytes.empty() || sink(bytes.data(), bytes.size()) ? Status::Done : Status::Refused;
    }
    std::vector<char> bytes;
};

struct Slot {
    enum class State { Unclaimed, Reading, Held, LeftToWriter };
    explicit Slot(HarvestItem listed) : item(std::move(listed)) {}
    HarvestItem item;
    State state = State::Unclaimed;
    HeldContent held;
};

// The items between the lister and the writer. The second thread lists, then claims the next unclaimed
// items in order and reads them ahead; the writer takes each item in order, and claims it itself when the
// reader has not got to it. Slots live in a deque: listing more never moves the ones being written.
class Pipeline {
  public:
    Pipeline(const HarvestLister& list, ExtractionProgress* progress) : m_list(list), m_progress(progress) {}
    Pipeline(const Pipeline&) = delete;
    Pipeline& operator=(const Pipeline&) = delete;
    ~Pipeline() { Finish(); }

    void Start(bool concurrently) {
        if (concurrently) {
            try {
                m_worker = std::thread([this] {
                    List();
                    ReadAhead();
                });
                return;
            } catch (const std::system_error&) {
                // No second thread: everything is listed first, and the writer reads it all itself.
            }
        }
        List();
    }

    // Item index and what to write it with (valid until the next call), or null once all are written.
    // Taking an item lets go of the bytes held for those before it.
    HarvestItem* Take(std::size_t index, Content*& content) {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (; m_released < index && m_released < m_slots.size(); ++m_released) {
            Slot& done = m_slots[m_released];
            if (done.state == Slot::State::Held) {
                m_heldBytes -= done.held.bytes.size();
                std::vector<char>().swap(done.held.bytes);
            }
        }
        m_changed.notify_all();
        m_changed.wait(lock, [&] { return index < m_slots.size() || m_listed; });
        if (index >= m_slots.size()) {
            return nullptr;
        }
        Slot& slot = m_slots[index];
        if (slot.state == Slot::State::Unclaimed) {
            slot.state = Slot::State::LeftToWriter;
            ++m_nextUnclaimed;
        }
        m_changed.wait(lock, [&] { return slot.state != Slot::State::Reading; });
        content =
            slot.state == Slot::State::Held ? static_cast<Content*>(&slot.held) : slot.item.content.get();
        return &slot.item;
    }

    // How many items are listed from index on, once the listing has ended; nothing more is read ahead.
    std::size_t CountFrom(std::size_t index) {
        m_readingAheadEnds = true;
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [&] { return m_listed; });
        return m_slots.size() - index;
    }

    // Ends the second thread's work and waits for it; then the listing's counts are final.
    const CollectSummary& Finish() {
        m_quit = true;
        m_readingAheadEnds = true;
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_changed.notify_all();
        }
        if (m_worker.joinable()) {
            m_worker.join();
        }
        return m_listedSummary;
    }

  private:
    void List() {
        const ItemSink sink = [this](HarvestItem item) {
            if (m_quit || StopRequested(m_progress)) {
                return false;
            }
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_slots.emplace_back(std::move(item));
            m_changed.notify_all();
            return true;
        };
        m_listedSummary.stopped = !m_list(sink, m_listedSummary);
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_listed = true;
        if (m_progress != nullptr) {
            m_progress->total = m_slots.size();
            m_progress->totalKnown = true;
        }
        m_changed.notify_all();
    }

    void ReadAhead() {
        const auto ending = [this] { return m_readingAheadEnds.load() || StopRequested(m_progress); };
        for (;;) {
            Slot* slot = nullptr;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_changed.wait(lock, [&] { return m_readingAheadEnds || m_heldBytes < kHeldBudget; });
                if (ending() || m_nextUnclaimed >= m_slots.size()) {
                    return;
                }
                slot = &m_slots[m_nextUnclaimed++];
                slot->state = Slot::State::Reading;
            }
            std::vector<char> bytes;
            const Content::Status status =
                slot->item.content->Stream([&](const char* data, std::size_t size) {
                    if (ending() || size > kHeldContentCap - bytes.size()) {
                        return false;
                    }
                    bytes.insert(bytes.end(), data, data + size);
                    return true;
                });
            const std::lock_guard<std::mutex> lock(m_mutex);
            // Anything but a whole read is the writer's to do, and it meets the same failure or size itself.
            if (status == Content::Status::Done) {
                m_heldBytes += bytes.size();
                slot->held.bytes = std::move(bytes);
                slot->state = Slot::State::Held;
            } else {
                slot->state = Slot::State::LeftToWriter;
            }
            m_changed.notify_all();
        }
    }

    const HarvestLister& m_list;
    ExtractionProgress* m_progress;
    std::thread m_worker;
    std::atomic<bool> m_quit{false};
    std::atomic<bool> m_readingAheadEnds{false};
    CollectSummary m_listedSummary;  // the lister's until it has listed

    std::mutex m_mutex;
    std::condition_variable m_changed;
    // Under m_mutex:
    std::deque<Slot> m_slots;
    bool m_listed = false;
    std::size_t m_nextUnclaimed = 0;
    std::size_t m_heldBytes = 0;
    std::size_t m_released = 0;  // slots before this hold no bytes
};

}  // namespace

void ListAndWriteHarvest(FileSystem& fs, const HarvestLister& list, std::u16string_view destination,
                         CollectSummary& summary, ExtractionProgress* progress) {
    Pipeline pipeline(list, progress);
    pipeline.Start(fs.ReadsAlongsideWrites());
    CollectSummary written;
    for (std::size_t i = 0; !written.stopped && !written.destinationFull; ++i) {
        if (StopRequested(progress)) {
            written.stopped = true;
            break;
        }
        Content* content = nullptr;
        const HarvestItem* item = pipeline.Take(i, content);
        if (item == nullptr) {
            break;
        }
        switch (PlaceNewFile(fs, destination, item->name, *content, progress)) {
            case PlaceOutcome::Copied:
                ++written.copied;
                break;
            case PlaceOutcome::AlreadyPresent:
                ++written.alreadyPresent;
                break;
            case PlaceOutcome::Failed:
                ++written.failed;
                break;
            case PlaceOutcome::Stopped:
                written.stopped = true;
                continue;
            case PlaceOutcome::DestinationFull:
                // Every later copy would fail too: this file and the rest are counted failed.
                written.destinationFull = true;
                written.failed += pipeline.CountFrom(i);
                continue;
        }
        if (progress != nullptr) {
            progress->done = i + 1;
        }
    }
    const CollectSummary& listed = pipeline.Finish();
    summary.matched += listed.matched;
    summary.incomplete += listed.incomplete;
    summary.skipped += listed.skipped;
    summary.copied += written.copied;
    summary.alreadyPresent += written.alreadyPresent;
    summary.failed += written.failed;
    summary.stopped = summary.stopped || listed.stopped || written.stopped;
    summary.destinationFull = summary.destinationFull || written.destinationFull;
}

}  // namespace drovan
