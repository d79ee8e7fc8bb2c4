#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "extract/memory_budget.h"

namespace drovan {

// One PES packet of an elementary stream, its header taken off.
struct PesUnit {
    std::uint16_t pid = 0;
    std::uint8_t streamType = 0;       // from the PMT
    std::optional<std::uint64_t> pts;  // 33 bits, 90 kHz
    std::optional<std::uint64_t> dts;
    std::string_view payload;  // valid during the callback only
};

// What the bytes lacked, counted.
struct TsDamage {
    std::uint64_t lostSyncBytes = 0;    // skipped to find packets again
    std::uint64_t continuityGaps = 0;   // packets missing on a stream's PID
    std::uint64_t brokenUnits = 0;      // PES whose header does not parse
    std::uint64_t unitsOverBudget = 0;  // PES larger than the memory budget had room for
};

// Splits MPEG-TS (ISO/IEC 13818-1) into the PES packets of the first programme's streams. Bytes may come in
// any split; one PES per stream is held at a time, its buffer taken from budget: an intra picture of 8K video
// may be larger than any fixed cap a player would think of.
class TsDemux {
  public:
    static constexpr std::size_t kPacketSize = 188;
    using UnitSink = std::function<void(const PesUnit&)>;

    TsDemux(UnitSink sink, MemoryBudget& budget) : m_sink(std::move(sink)), m_budget(budget) {}

    void Feed(std::string_view bytes);
    // Hands over each stream's last PES.
    void Finish();

    // (PID, stream_type) of the first PMT, in its order.
    const std::vector<std::pair<std::uint16_t, std::uint8_t>>& Programme() const { return m_programme; }
    const TsDamage& Damage() const { return m_damage; }

  private:
    struct Stream {
        std::uint16_t pid = 0;
        std::uint8_t type = 0;
        std::string unit;  // the PES bytes gathered since its start
        MemoryLease unitLease;
        bool gathering = false;
        int lastContinuity = -1;
    };

    void Scan(std::string_view bytes);
    void Packet(const unsigned char* packet);
    Stream* StreamOf(std::uint16_t pid);
    void TablePacket(std::uint16_t pid, bool unitStart, std::string_view payload);
    void StreamPacket(Stream& stream, bool unitStart, bool discontinuity, unsigned continuity,
                      std::string_view payload);
    bool MakeRoom(Stream& stream, std::size_t more);
    void EndUnit(Stream& stream);

    UnitSink m_sink;
    MemoryBudget& m_budget;
    std::string m_heldBytes;  // a packet cut by the end of the last Feed, or bytes after a lost sync
    bool m_seekingSync = false;
    std::optional<std::uint16_t> m_pmtPid;
    std::vector<std::pair<std::uint16_t, std::uint8_t>> m_programme;
    std::vector<Stream> m_streams;
    TsDamage m_damage;
};

}  // namespace drovan
