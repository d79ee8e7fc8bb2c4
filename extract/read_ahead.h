#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>
#include <vector>

#include "extract/collector.h"
#include "extract/placement.h"

namespace drovan {

struct ExtractionProgress;

// Reads (and decodes) the contents of the next items on a second thread while the current one is written, so
// that a harvest's reading overlaps its writing. A content is held in memory only when it is small; the
// writer streams the others itself, as it would without this.
class ReadAhead {
  public:
    // items must outlive this, and nothing else may stream their contents meanwhile.
    ReadAhead(std::vector<HarvestItem>& items, const ExtractionProgress* progress);
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // What to write item index with, valid until the next call. Items are asked for in order; asking for one
    // lets go of the bytes held for the one before.
    Content& ContentFor(std::size_t index);

  private:
    class HeldContent final : public Content {
      public:
        Status Stream(const Sink& sink) override;
        std::vector<char> bytes;
    };
    struct Slot {
        HeldContent content;
        bool held = false;
    };

    void Run();

    std::vector<HarvestItem>& m_items;
    const ExtractionProgress* m_progress;
    std::vector<Slot> m_slots;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::size_t m_decided = 0;    // slots before this are read or given up; under m_mutex
    std::size_t m_heldBytes = 0;  // under m_mutex
    std::size_t m_released = 0;   // slots before this hold nothing any more; writer's own
    std::atomic<bool> m_quit{false};
    std::thread m_reader;
};

}  // namespace drovan
