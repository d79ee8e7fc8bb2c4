#include "extract/harvest_writer.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "extract/name_index.h"
#include "extract/name_rules.h"
#include "extract/placement.h"
#include "extract/progress.h"

namespace drovan {
namespace {

// Held bytes stay below the budget plus one content's cap: enough to keep the writer fed through a run of
// small files, little beside what a harvest otherwise takes.
constexpr std::size_t kHeldBudget = 24 << 20;
constexpr std::size_t kHeldContentCap = 8 << 20;
// Items listed and not yet written, while the writer runs beside the listing: a cache of millions of records
// makes the listing wait for the writer rather than hold them all.
constexpr std::size_t kPendingItems = 1 << 16;

// A content read whole into memory, streamed from there as often as placement asks.
class HeldContent final : public Content {
  public:
    Status Stream(const Sink& sink) override {
        return bytes.empty() || sink(bytes.data(), bytes.size()) ? Status::Done : Status::Refused;
    }
    std::optional<std::uint64_t> Size() override { return bytes.size(); }
    std::optional<Sha256Digest> Digest() override { return digest; }
    std::optional<FileTime> ModifiedTime() override { return modifiedTime; }
    std::vector<char> bytes;
    std::optional<Sha256Digest> digest;
    std::optional<FileTime> modifiedTime;
};

struct Slot {
    enum class State { Unclaimed, Reading, Held, LeftToWriter, PlacingBySecond, PlacedBySecond };
    explicit Slot(HarvestItem listed) : item(std::move(listed)) {}
    HarvestItem item;
    State state = State::Unclaimed;
    // No other item listed can take any name this one may take (see NameFamily); known once all are listed.
    bool alone = false;
    HeldContent held;
};

enum class Taken { Write, SecondPlacedIt, End };

// The items between the lister and the writer. The second thread lists; then, in order, it claims the next
// unclaimed item and either places it itself, when no other item could compete for its names, or reads it
// ahead for the writer, which must place the items of one name family in their listed order. The writer
// takes each item in order and claims it itself when the second thread has not got to it. Slots live in a
// deque: listing more never moves the ones being written, and the placed ones are let go from its front.
class ItemQueue {
  public:
    ItemQueue(FileSystem& fs, std::u16string_view destination, const HarvestLister& list, Grouping& grouping,
              HarvestProgress* progress)
        : m_fs(fs), m_destination(destination), m_list(list), m_grouping(grouping), m_progress(progress) {}
    ItemQueue(const ItemQueue&) = delete;
    ItemQueue& operator=(const ItemQueue&) = delete;
    ~ItemQueue() { Finish(); }

    void Start(bool concurrently) {
        if (concurrently) {
            try {
                m_pendingCap = kPendingItems;
                m_worker = std::thread([this] {
                    List();
                    HelpTheWriter();
                });
                return;
            } catch (const std::system_error&) {
                // No second thread: everything is listed first, and the writer does it all itself.
                m_pendingCap = SIZE_MAX;
            }
        }
        List();
    }

    // Item index and what to write it with (valid until the next call), unless the second thread placed
    // it or all are handled. Taking an item lets go of those before it.
    Taken Take(std::size_t index, HarvestItem*& item, Content*& content) {
        std::unique_lock<std::mutex> lock(m_mutex);
        // One the second thread is still placing stays, and so do those after it.
        while (m_first < index && !m_slots.empty() && m_slots.front().state != Slot::State::PlacingBySecond) {
            m_heldBytes -= m_slots.front().held.bytes.size();
            m_slots.pop_front();
            ++m_first;
        }
        m_changed.notify_all();
        m_changed.wait(lock, [&] { return index < Listed() || m_listed; });
        if (index >= Listed()) {
            return Taken::End;
        }
        Slot& slot = At(index);
        if (slot.state == Slot::State::Unclaimed) {
            slot.state = Slot::State::LeftToWriter;
            ++m_nextUnclaimed;
        }
        m_changed.wait(lock, [&] { return slot.state != Slot::State::Reading; });
        if (slot.state == Slot::State::PlacingBySecond || slot.state == Slot::State::PlacedBySecond) {
            return Taken::SecondPlacedIt;
        }
        item = &slot.item;
        content =
            slot.state == Slot::State::Held ? static_cast<Content*>(&slot.held) : slot.item.content.get();
        return Taken::Write;
    }

    // A destination found full while the other thread wrote a file that turned out too big has room again
    // once that file is gone: the item is placed again then. failure learns why it Failed.
    PlaceOutcome Place(const HarvestItem& item, Content& content, PlaceFailure& failure) {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_changed.wait(lock, [&] { return !m_fullSeen; });
            const std::size_t tooBigBefore = m_tooBigSeen;
            ++m_placing;
            lock.unlock();
            if (m_progress != nullptr) {
                m_progress->SetCurrentName(item.name);
            }
            const PlaceOutcome outcome =
                PlaceNewFile(m_fs, m_destination, item.name, content, m_progress, m_names, &failure);
            lock.lock();
            --m_placing;
            m_tooBigSeen += outcome == PlaceOutcome::TooBig ? 1 : 0;
            m_changed.notify_all();
            if (outcome != PlaceOutcome::DestinationFull) {
                return outcome;
            }
            m_fullSeen = true;
            m_changed.wait(lock, [&] { return m_placing == 0; });
            m_fullSeen = false;
            m_changed.notify_all();
            if (m_tooBigSeen == tooBigBefore) {
                return outcome;
            }
        }
    }

    // Places item from content and counts the outcome; an item whose content its write refused is replaced
    // by what it gives instead, placed here in its stead. False when nothing more is to be placed.
    bool PlaceAndCount(const HarvestItem& item, Content& content) {
        PlaceFailure failure;
        const PlaceOutcome outcome = Place(item, content, failure);
        std::optional<std::vector<HarvestItem>> instead;
        if (outcome == PlaceOutcome::Damaged) {
            instead = m_grouping.Instead(content);
        }
        if (!instead) {
            return Count(outcome, failure);
        }
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_listedSummary.matched = m_listedSummary.matched - 1 + instead->size();
            m_itemsInstead += instead->size();
            ++m_itemsReplaced;
            if (m_progress != nullptr) {
                m_progress->total = m_progress->total - 1 + instead->size();
            }
        }
        for (HarvestItem& other : *instead) {
            if (!PlaceAndCount(other, *other.content)) {
                return false;
            }
        }
        return true;
    }

    bool destinationFull() const { return m_destinationFull; }

    // Ends the second thread's work, waits for it and sums up what both threads listed and placed.
    HarvestSummary Finish() {
        if (m_destinationFull) {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_changed.wait(lock, [&] { return m_listed; });
        }
        m_quit = true;
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_changed.notify_all();
        }
        if (m_worker.joinable()) {
            m_worker.join();
        }
        HarvestSummary done = m_listedSummary;
        done.stopped = done.stopped || m_stopped;
        done.copied = m_placed.copied;
        done.alreadyPresent = m_placed.alreadyPresent;
        done.failed = m_placed.failed;
        done.tooBig = m_placed.tooBig;
        done.failures = m_placed.failures;
        done.skipped += m_placed.gone + m_placed.damaged;
        done.gone += m_placed.gone;
        done.damaged += m_placed.damaged;
        done.destinationFull = m_destinationFull;
        if (done.destinationFull) {
            // Every later copy would fail too: the file that met the full destination and the rest are
            // failed.
            done.failed = Listed() + m_itemsInstead - m_itemsReplaced - done.copied - done.alreadyPresent -
                          m_placed.gone - m_placed.damaged;
            if (done.failed > m_placed.failed) {
                CountFailure(done.failures, {u"no space left", std::u16string(m_destination)},
                             done.failed - m_placed.failed);
            }
        }
        return done;
    }

    // Counts an outcome of either thread; false when nothing more is to be placed.
    bool Count(PlaceOutcome outcome, const PlaceFailure& failure) {
        const std::lock_guard<std::mutex> lock(m_mutex);
        switch (outcome) {
            case PlaceOutcome::Copied:
                ++m_placed.copied;
                break;
            case PlaceOutcome::AlreadyPresent:
                ++m_placed.alreadyPresent;
                break;
            case PlaceOutcome::Failed:
                ++m_placed.failed;
                CountFailure(m_placed.failures, failure);
                break;
            case PlaceOutcome::TooBig:
                ++m_placed.failed;
                ++m_placed.tooBig;
                break;
            case PlaceOutcome::SourceGone:
                ++m_placed.gone;
                break;
            case PlaceOutcome::Damaged:
                ++m_placed.damaged;
                break;
            case PlaceOutcome::Stopped:
                m_stopped = true;
                return false;
            case PlaceOutcome::DestinationFull:
                m_destinationFull = true;
                m_changed.notify_all();
                return false;
        }
        if (m_progress != nullptr) {
            ++m_progress->done;
        }
        return true;
    }

  private:
    bool Ending() const { return m_quit || m_destinationFull || StopRequested(m_progress); }
    // Under m_mutex:
    std::size_t Listed() const { return m_first + m_slots.size(); }
    Slot& At(std::size_t index) { return m_slots[index - m_first]; }

    void List() {
        std::vector<HarvestItem> held;
        const ItemSink sink = [this, &held](HarvestItem item) {
            if (m_grouping.Holds(item)) {
                held.push_back(std::move(item));
                return !Ending();
            }
            std::unique_lock<std::mutex> lock(m_mutex);
            // A stop is set without a notification: it is looked at every tenth of a second.
            while (m_slots.size() >= m_pendingCap && !Ending()) {
                m_changed.wait_for(lock, std::chrono::milliseconds(100));
            }
            if (Ending()) {
                return false;
            }
            m_slots.emplace_back(std::move(item));
            m_changed.notify_all();
            return true;
        };
        // The listing also ends early for a full destination, which is no stop.
        const bool listedAll = m_list(sink, m_listedSummary);
        const bool anyHeld = !held.empty();
        std::vector<HarvestItem> grouped;
        if (listedAll) {
            grouped = m_grouping.Group(std::move(held), m_listedSummary);
        }
        // A grouping that meets a stop gives what it had made so far, uncounted.
        m_listedSummary.stopped = StopRequested(m_progress) && (!listedAll || anyHeld);
        const std::lock_guard<std::mutex> lock(m_mutex);
        for (HarvestItem& item : grouped) {
            m_slots.emplace_back(std::move(item));
        }
        std::vector<std::u16string> families;
        families.reserve(m_slots.size());
        std::unordered_map<std::u16string_view, std::size_t> members;
        for (const Slot& slot : m_slots) {
            families.push_back(NameFamily(slot.item.name));
        }
        for (const std::u16string& family : families) {
            ++members[family];
        }
        for (std::size_t i = 0; i < m_slots.size(); ++i) {
            m_slots[i].alone = members[families[i]] == 1;
        }
        m_listed = true;
        if (m_progress != nullptr) {
            m_progress->total = Listed();
            m_progress->totalKnown = true;
        }
        m_changed.notify_all();
    }

    void HelpTheWriter() {
        for (;;) {
            Slot* slot = nullptr;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_changed.wait(lock, [&] {
                    return Ending() || m_nextUnclaimed >= Listed() || At(m_nextUnclaimed).alone ||
                           m_heldBytes < kHeldBudget;
                });
                if (Ending() || m_nextUnclaimed >= Listed()) {
                    return;
                }
                slot = &At(m_nextUnclaimed++);
                // A content judged as it is written would be read whole before its first byte comes.
                if (!slot->alone && m_grouping.JudgedAsWritten(*slot->item.content)) {
                    slot->state = Slot::State::LeftToWriter;
                    m_changed.notify_all();
                    continue;
                }
                slot->state = slot->alone ? Slot::State::PlacingBySecond : Slot::State::Reading;
            }
            if (slot->alone) {
                const bool more = PlaceAndCount(slot->item, *slot->item.content);
                const std::lock_guard<std::mutex> lock(m_mutex);
                slot->state = Slot::State::PlacedBySecond;
                slot->item = HarvestItem();
                if (!more) {
                    return;
                }
            } else {
                ReadAhead(*slot);
            }
        }
    }

    // The digest too: the writer places these items among others of their name, where it is wanted.
    void ReadAhead(Slot& slot) {
        std::vector<char> bytes;
        Sha256 sha;
        const Content::Status status = slot.item.content->Stream([&](const char* data, std::size_t size) {
            if (Ending() || size > kHeldContentCap - bytes.size()) {
                return false;
            }
            bytes.insert(bytes.end(), data, data + size);
            sha.Add(data, size);
            return true;
        });
        const std::optional<FileTime> modifiedTime = slot.item.content->ModifiedTime();
        const std::lock_guard<std::mutex> lock(m_mutex);
        // Anything but a whole read is the writer's to do, and it meets the same failure or size itself.
        if (status == Content::Status::Done) {
            m_heldBytes += bytes.size();
            slot.held.digest = sha.Finish();
            slot.held.bytes = std::move(bytes);
            slot.held.modifiedTime = modifiedTime;
            slot.state = Slot::State::Held;
        } else {
            slot.state = Slot::State::LeftToWriter;
        }
        m_changed.notify_all();
    }

    FileSystem& m_fs;
    std::u16string_view m_destination;
    const HarvestLister& m_list;
    Grouping& m_grouping;
    HarvestProgress* m_progress;
    std::thread m_worker;
    std::atomic<bool> m_quit{false};
    std::atomic<bool> m_destinationFull{false};
    HarvestSummary m_listedSummary;  // the lister's until it has listed
    NameIndex m_names;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    // Under m_mutex:
    std::deque<Slot> m_slots;
    std::size_t m_first = 0;  // the index of the front slot
    std::size_t m_pendingCap = SIZE_MAX;
    bool m_listed = false;
    std::size_t m_nextUnclaimed = 0;
    std::size_t m_heldBytes = 0;
    std::size_t m_placing = 0;  // placements under way
    std::size_t m_tooBigSeen = 0;
    std::size_t m_itemsInstead = 0;  // placed in the stead of items replaced
    std::size_t m_itemsReplaced = 0;
    bool m_fullSeen = false;  // no placement starts until those under way have ended
    HarvestSummary m_placed;  // with the sources gone and damaged in gone and damaged only
    // Either thread abandoned an item for a stop: the writer may have found no more to take by then.
    bool m_stopped = false;
};

}  // namespace

HarvestSummary WriteHarvest(FileSystem& fs, const HarvestLister& list, Grouping& grouping,
                            std::u16string_view destination, HarvestProgress* progress) {
    ItemQueue queue(fs, destination, list, grouping, progress);
    queue.Start(fs.ReadsAlongsideWrites());
    bool stopped = false;
    for (std::size_t i = 0; !queue.destinationFull(); ++i) {
        if (StopRequested(progress)) {
            stopped = true;
            break;
        }
        HarvestItem* item = nullptr;
        Content* content = nullptr;
        const Taken taken = queue.Take(i, item, content);
        if (taken == Taken::End) {
            break;
        }
        if (taken == Taken::Write && !queue.PlaceAndCount(*item, *content)) {
            stopped = !queue.destinationFull();
            break;
        }
    }
    HarvestSummary done = queue.Finish();
    done.stopped = done.stopped || stopped;
    return done;
}

}  // namespace drovan
