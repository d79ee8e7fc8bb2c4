#include "extract/name_index.h"

#include <algorithm>
#include <iterator>

namespace drovan {

void NameSeries::Add(std::optional<std::uint64_t> size, std::optional<Sha256Digest> digest) {
    if (size && digest) {
        m_digested.emplace(Key(*size, *digest), m_next);
    } else if (size) {
        m_undigested.emplace(*size, m_next);
    }
    ++m_next;
}

bool NameSeries::HoldsSize(std::uint64_t size) const {
    const auto digested = m_digested.lower_bound(Key(size, Sha256Digest{}));
    return m_undigested.count(size) > 0 || (digested != m_digested.end() && digested->first.first == size);
}

std::vector<unsigned> NameSeries::TakeUndigested(std::uint64_t size) {
    std::vector<unsigned> numbers;
    const auto [first, last] = m_undigested.equal_range(size);
    for (auto it = first; it != last; ++it) {
        numbers.push_back(it->second);
    }
    m_undigested.erase(first, last);
    return numbers;
}

void NameSeries::Digested(unsigned number, std::uint64_t size, const Sha256Digest& digest) {
    m_digested.emplace(Key(size, digest), number);
}

std::vector<unsigned> NameSeries::WithDigest(std::uint64_t size, const Sha256Digest& digest) const {
    std::vector<unsigned> numbers;
    const auto [first, last] = m_digested.equal_range(Key(size, digest));
    for (auto it = first; it != last; ++it) {
        numbers.push_back(it->second);
    }
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

std::shared_ptr<NameSeries> NameIndex::SeriesOf(std::u16string_view name) {
    const std::lock_guard<std::mutex> lock(m_mutex);
    std::shared_ptr<NameSeries>& series = m_series[std::u16string(name)];
    if (!series) {
        series = std::make_shared<NameSeries>();
        if (m_series.size() > m_maxSeries) {
            // Any other name will do: the one being placed keeps its series alive while it is.
            const auto forgotten =
                m_series.begin()->second == series ? std::next(m_series.begin()) : m_series.begin();
            m_series.erase(forgotten);
        }
    }
    return series;
}

}  // namespace drovan
