#pragma once

#include <atomic>
#include <cstddef>
#include <utility>

namespace drovan {

// What one harvest may keep in memory beyond its buffers: held entries and their records, parsed playlists
// and manifests, the rewrap's and the merge's tables, the SQL reader's rows. Every stage and thread of the
// harvest takes from the same budget, so that no cache can make the whole pass 256 MiB.
class MemoryBudget {
  public:
    // What the harvest promises, less its buffers (read-ahead, copy, decoders) and the program itself.
    static constexpr std::size_t kHarvest = std::size_t{160} << 20;

    explicit MemoryBudget(std::size_t limit = kHarvest) : m_limit(limit) {}
    MemoryBudget(const MemoryBudget&) = delete;
    MemoryBudget& operator=(const MemoryBudget&) = delete;

    // Takes bytes when they fit; false, taking nothing, when they do not.
    bool Take(std::size_t bytes) {
        std::size_t used = m_used.load(std::memory_order_relaxed);
        do {
            if (bytes > m_limit - used) {
                return false;
            }
        } while (!m_used.compare_exchange_weak(used, used + bytes, std::memory_order_relaxed));
        return true;
    }
    void Give(std::size_t bytes) { m_used.fetch_sub(bytes, std::memory_order_relaxed); }
    std::size_t Left() const { return m_limit - m_used.load(std::memory_order_relaxed); }

  private:
    const std::size_t m_limit;
    std::atomic<std::size_t> m_used{0};
};

// Bytes taken from a budget for as long as a table lives: given back when it is dropped.
class MemoryLease {
  public:
    explicit MemoryLease(MemoryBudget& budget) : m_budget(&budget) {}
    MemoryLease(MemoryLease&& other) noexcept
        : m_budget(other.m_budget), m_bytes(std::exchange(other.m_bytes, 0)) {}
    MemoryLease& operator=(MemoryLease&& other) noexcept {
        if (this != &other) {
            Release();
            m_budget = other.m_budget;
            m_bytes = std::exchange(other.m_bytes, 0);
        }
        return *this;
    }
    MemoryLease(const MemoryLease&) = delete;
    MemoryLease& operator=(const MemoryLease&) = delete;
    ~MemoryLease() { Release(); }

    // Takes bytes more; false, taking nothing, when the budget has no room for them.
    bool Grow(std::size_t bytes) {
        if (!m_budget->Take(bytes)) {
            return false;
        }
        m_bytes += bytes;
        return true;
    }
    std::size_t Bytes() const { return m_bytes; }
    void Release() { m_budget->Give(std::exchange(m_bytes, 0)); }

  private:
    MemoryBudget* m_budget;
    std::size_t m_bytes = 0;
};

}  // namespace drovan
