#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "extract/sha256.h"

namespace drovan {

// The files known under one name and its numbered names: found in the destination or written there, each
// with its size and, once it was needed, the digest of its bytes.
class NameSeries {
  public:
    // Every number below this one is known; the search for a free name goes on from it.
    unsigned next() const { return m_next; }
    // The file now known at next(). Without a size it can never hold the same bytes (a folder, a file that
    // cannot be read).
    void Add(std::optional<std::uint64_t> size, std::optional<Sha256Digest> digest);
    // Whether some file known can be compared at all.
    bool HoldsAny() const { return !m_undigested.empty() || !m_digested.empty(); }
    bool HoldsSize(std::uint64_t size) const;
    // The numbers of the files of size without a digest; each is known again only once Digested gives it.
    std::vector<unsigned> TakeUndigested(std::uint64_t size);
    void Digested(unsigned number, std::uint64_t size, const Sha256Digest& digest);
    // The numbers of the files with this size and digest, lowest first.
    std::vector<unsigned> WithDigest(std::uint64_t size, const Sha256Digest& digest) const;

  private:
    using Key = std::pair<std::uint64_t, Sha256Digest>;
    unsigned m_next = 1;
    std::multimap<std::uint64_t, unsigned> m_undigested;
    std::multimap<Key, unsigned> m_digested;
};

// What one harvest has learnt of its destination, by name as given to placement, so that a name given to
// many files is neither searched from its first number nor compared byte by byte with every file again.
// Shared by the harvest's threads, which never place names of one family at the same time. It remembers at
// most maxSeries names: past them one is forgotten for each new one, and a name forgotten is learnt again
// from the destination, so that a harvest of millions of names keeps to its memory budget.
class NameIndex {
  public:
    static constexpr std::size_t kMaxSeries = std::size_t{1} << 15;
    explicit NameIndex(std::size_t maxSeries = kMaxSeries) : m_maxSeries(maxSeries) {}
    std::shared_ptr<NameSeries> SeriesOf(std::u16string_view name);

  private:
    const std::size_t m_maxSeries;
    std::mutex m_mutex;
    std::unordered_map<std::u16string, std::shared_ptr<NameSeries>> m_series;
};

}  // namespace drovan
