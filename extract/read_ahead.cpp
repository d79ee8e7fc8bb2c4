#include "extract/read_ahead.h"

#include <system_error>

#include "extract/progress.h"

namespace drovan {
namespace {

// Held bytes stay below the budget plus one content's cap: enough to keep the writer fed through a run of
// small files, little beside what a harvest otherwise takes.
constexpr std::size_t kHeldBudget = 24 << 20;
constexpr std::size_t kHeldContentCap = 8 << 20;

}  // namespace

Content::Status ReadAhead::HeldContent::Stream(const Sink& sink) {
    return bytes.empty() || sink(bytes.data(), bytes.size()) ? Status::Done : Status::Refused;
}

ReadAhead::ReadAhead(std::vector<HarvestItem>& items, const ExtractionProgress* progress)
    : m_items(items), m_progress(progress), m_slots(items.size()) {
    try {
        m_reader = std::thread(&ReadAhead::Run, this);
    } catch (const std::system_error&) {
        // No second thread: the writer reads everything itself.
        m_decided = m_slots.size();
    }
}

ReadAhead::~ReadAhead() {
    m_quit = true;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_changed.notify_all();
    }
    if (m_reader.joinable()) {
        m_reader.join();
    }
}

Content& ReadAhead::ContentFor(std::size_t index) {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (; m_released < index; ++m_released) {
        Slot& done = m_slots[m_released];
        if (done.held) {
            m_heldBytes -= done.content.bytes.size();
            done.held = false;
            std::vector<char>().swap(done.content.bytes);
        }
    }
    m_changed.notify_all();
    m_changed.wait(lock, [&] { return m_decided > index; });
    Slot& slot = m_slots[index];
    if (slot.held) {
        return slot.content;
    }
    return *m_items[index].content;
}

void ReadAhead::Run() {
    const auto stopping = [this] {
        return m_quit.load(std::memory_order_relaxed) ||
               (m_progress != nullptr && m_progress->stop.load(std::memory_order_relaxed));
    };
    for (std::size_t index = 0; index < m_slots.size(); ++index) {
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_changed.wait(lock, [&] { return m_quit || m_heldBytes < kHeldBudget; });
        }
        if (stopping()) {
            break;
        }
        std::vector<char> bytes;
        const Content::Status status =
            m_items[index].content->Stream([&](const char* data, std::size_t size) {
                if (stopping() || size > kHeldContentCap - bytes.size()) {
                    return false;
                }
                bytes.insert(bytes.end(), data, data + size);
                return true;
            });
        const std::lock_guard<std::mutex> lock(m_mutex);
        // Anything but a whole read is left to the writer, which meets the same failure or size on its own.
        if (status == Content::Status::Done) {
            m_heldBytes += bytes.size();
            m_slots[index].content.bytes = std::move(bytes);
            m_slots[index].held = true;
        }
        m_decided = index + 1;
        m_changed.notify_all();
    }
    // The writer may still wait for an item: the rest are its own.
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_decided = m_slots.size();
    m_changed.notify_all();
}

}  // namespace drovan
