#include "extract/streams/ts_demux.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "extract/formats/byte_reader.h"

namespace drovan {
namespace {

constexpr unsigned char kSyncByte = 0x47;
constexpr std::uint16_t kPatPid = 0x0000;

// The four bytes that open every packet.
struct TsPacketHeader {
    bool unitStart = false;
    std::uint16_t pid = 0;
    bool hasAdaptationField = false;
    bool hasPayload = false;
    unsigned continuity = 0;
};

TsPacketHeader DecodeTsPacketHeader(const unsigned char* packet) {
    TsPacketHeader header;
    header.unitStart = (packet[1] & 0x40) != 0;
    header.pid = static_cast<std::uint16_t>((packet[1] & 0x1F) << 8 | packet[2]);
    header.hasAdaptationField = (packet[3] & 0x20) != 0;
    header.hasPayload = (packet[3] & 0x10) != 0;
    header.continuity = packet[3] & 0x0F;
    return header;
}

// A PSI section's table_id and body (after the five bytes of its extended header, before the CRC).
struct PsiSection {
    std::uint8_t tableId = 0;
    std::string_view body;
};

// The section a unit start's payload points at; none when it is cut short.
std::optional<PsiSection> DecodePsiSection(std::string_view payload) {
    ByteReader reader(payload);
    std::uint8_t pointer = 0;
    std::uint16_t sectionLength = 0;
    PsiSection section;
    reader.U8(pointer);
    reader.Skip(pointer);
    reader.U8(section.tableId);
    reader.U16BE(sectionLength);
    sectionLength &= 0x0FFF;
    constexpr std::size_t kExtendedHeader = 5, kCrc = 4;
    if (reader.failed() || sectionLength < kExtendedHeader + kCrc) {
        return std::nullopt;
    }
    reader.Skip(kExtendedHeader);
    reader.Bytes(sectionLength - kExtendedHeader - kCrc, section.body);
    if (reader.failed()) {
        return std::nullopt;
    }
    return section;
}

// The PMT PID of the PAT's first programme (program_number 0 names the network PID).
std::optional<std::uint16_t> FirstProgrammePid(std::string_view patBody) {
    ByteReader reader(patBody);
    std::uint16_t number = 0, pid = 0;
    while (reader.U16BE(number) && reader.U16BE(pid)) {
        if (number != 0) {
            return static_cast<std::uint16_t>(pid & 0x1FFF);
        }
    }
    return std::nullopt;
}

std::vector<std::pair<std::uint16_t, std::uint8_t>> PmtStreams(std::string_view pmtBody) {
    ByteReader reader(pmtBody);
    std::uint16_t programInfoLength = 0;
    reader.Skip(2);  // PCR_PID
    reader.U16BE(programInfoLength);
    reader.Skip(programInfoLength & 0x0FFF);
    std::vector<std::pair<std::uint16_t, std::uint8_t>> streams;
    std::uint8_t type = 0;
    std::uint16_t pid = 0, infoLength = 0;
    while (reader.U8(type) && reader.U16BE(pid) && reader.U16BE(infoLength) &&
           reader.Skip(infoLength & 0x0FFF)) {
        streams.emplace_back(static_cast<std::uint16_t>(pid & 0x1FFF), type);
    }
    return streams;
}

std::uint64_t DecodeTimestamp(std::string_view bytes) {
    const auto byte = [&](std::size_t at) { return std::uint64_t{static_cast<unsigned char>(bytes[at])}; };
    return ((byte(0) >> 1) & 0x07) << 30 | byte(1) << 22 | (byte(2) >> 1) << 15 | byte(3) << 7 | byte(4) >> 1;
}

struct PesHeader {
    std::uint16_t packetLength = 0;  // 0: up to the next unit (video)
    std::optional<std::uint64_t> pts;
    std::optional<std::uint64_t> dts;
    std::size_t size = 0;  // where the payload starts
};

std::optional<PesHeader> DecodePesHeader(std::string_view unit) {
    ByteReader reader(unit);
    std::uint32_t prefixAndId = 0;
    std::uint8_t marker = 0, flags = 0, headerDataLength = 0;
    PesHeader header;
    reader.U32BE(prefixAndId);
    reader.U16BE(header.packetLength);
    reader.U8(marker);
    reader.U8(flags);
    reader.U8(headerDataLength);
    std::string_view fields;
    reader.Bytes(headerDataLength, fields);
    if (reader.failed() || (prefixAndId >> 8) != 1 || (marker & 0xC0) != 0x80) {
        return std::nullopt;
    }
    const unsigned timestamps = flags >> 6;
    const std::size_t timestampsSize = timestamps == 3 ? 10 : timestamps == 2 ? 5 : 0;
    if (timestamps == 1 || fields.size() < timestampsSize) {
        return std::nullopt;
    }
    if (timestamps >= 2) {
        header.pts = DecodeTimestamp(fields);
    }
    if (timestamps == 3) {
        header.dts = DecodeTimestamp(fields.substr(5));
    }
    header.size = reader.position();
    return header;
}

}  // namespace

void TsDemux::Feed(std::string_view bytes) {
    if (m_seekingSync && !m_heldBytes.empty()) {
        std::string joined = std::exchange(m_heldBytes, std::string());
        joined.append(bytes);
        Scan(joined);
        return;
    }
    if (!m_heldBytes.empty()) {
        const std::size_t wanted = std::min(kPacketSize - m_heldBytes.size(), bytes.size());
        m_heldBytes.append(bytes.substr(0, wanted));
        bytes.remove_prefix(wanted);
        if (m_heldBytes.size() < kPacketSize) {
            return;
        }
        Packet(reinterpret_cast<const unsigned char*>(m_heldBytes.data()));
        m_heldBytes.clear();
    }
    Scan(bytes);
}

void TsDemux::Scan(std::string_view bytes) {
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t at = 0;
    while (at < bytes.size()) {
        const std::size_t left = bytes.size() - at;
        if (data[at] == kSyncByte && m_seekingSync && left <= kPacketSize) {
            m_heldBytes.assign(bytes.substr(at));  // to be judged with the bytes that follow
            return;
        }
        // Once lost, a sync byte counts only with another one a packet further on.
        if (data[at] != kSyncByte || (m_seekingSync && data[at + kPacketSize] != kSyncByte)) {
            m_seekingSync = true;
            const std::size_t from = data[at] == kSyncByte ? at + 1 : at;
            const void* sync = std::memchr(data + from, kSyncByte, bytes.size() - from);
            const std::size_t next = sync ? static_cast<const unsigned char*>(sync) - data : bytes.size();
            m_damage.lostSyncBytes += next - at;
            at = next;
            continue;
        }
        m_seekingSync = false;
        if (left < kPacketSize) {
            m_heldBytes.assign(bytes.substr(at));
            return;
        }
        Packet(data + at);
        at += kPacketSize;
    }
}

void TsDemux::Finish() {
    for (Stream& stream : m_streams) {
        EndUnit(stream);
    }
    m_heldBytes.clear();
}

void TsDemux::Packet(const unsigned char* packet) {
    const TsPacketHeader header = DecodeTsPacketHeader(packet);
    std::size_t payloadStart = 4;
    bool discontinuity = false;
    if (header.hasAdaptationField) {
        const std::size_t adaptationLength = packet[4];
        discontinuity = adaptationLength > 0 && (packet[5] & 0x80) != 0;
        payloadStart = 5 + adaptationLength;
    }
    if (!header.hasPayload || payloadStart >= kPacketSize) {
        return;
    }
    const std::string_view payload(reinterpret_cast<const char*>(packet) + payloadStart,
                                   kPacketSize - payloadStart);
    Stream* const stream = StreamOf(header.pid);
    if (stream != nullptr) {
        StreamPacket(*stream, header.unitStart, discontinuity, header.continuity, payload);
    } else if (header.pid == kPatPid || header.pid == m_pmtPid) {
        TablePacket(header.pid, header.unitStart, payload);
    }
}

// Only the first PAT and PMT count: a programme that changes midway is another rendition.
void TsDemux::TablePacket(std::uint16_t pid, bool unitStart, std::string_view payload) {
    if (!unitStart || !m_streams.empty()) {
        return;
    }
    const auto section = DecodePsiSection(payload);
    if (!section) {
        return;
    }
    if (pid == kPatPid && section->tableId == 0x00 && !m_pmtPid) {
        m_pmtPid = FirstProgrammePid(section->body);
    } else if (pid == m_pmtPid && section->tableId == 0x02) {
        m_programme = PmtStreams(section->body);
        for (const auto& [streamPid, type] : m_programme) {
            if (StreamOf(streamPid) == nullptr && streamPid != kPatPid && streamPid != *m_pmtPid) {
                m_streams.push_back(Stream{streamPid, type, {}, MemoryLease(m_budget), false, -1});
            }
        }
    }
}

// A programme has a few streams: a search beats a table of every PID.
TsDemux::Stream* TsDemux::StreamOf(std::uint16_t pid) {
    for (Stream& stream : m_streams) {
        if (stream.pid == pid) {
            return &stream;
        }
    }
    return nullptr;
}

void TsDemux::StreamPacket(Stream& stream, bool unitStart, bool discontinuity, unsigned continuity,
                           std::string_view payload) {
    if (stream.lastContinuity >= 0 && !discontinuity) {
        if (static_cast<unsigned>(stream.lastContinuity) == continuity) {
            return;  // a repeated packet
        }
        if (((static_cast<unsigned>(stream.lastContinuity) + 1) & 0x0F) != continuity) {
            ++m_damage.continuityGaps;
            if (!unitStart && stream.gathering) {
                stream.gathering = false;  // a PES with a hole is dropped whole
                stream.unit.clear();
            }
        }
    }
    stream.lastContinuity = static_cast<int>(continuity);
    if (unitStart) {
        EndUnit(stream);
        stream.gathering = true;
    }
    if (!stream.gathering) {
        return;
    }
    if (!MakeRoom(stream, payload.size())) {
        ++m_damage.unitsOverBudget;
        stream.gathering = false;
        stream.unit.clear();
        return;
    }
    stream.unit.append(payload);
    constexpr std::size_t kPesPrefix = 6;  // packet_start_code_prefix, stream_id, PES_packet_length
    if (stream.unit.size() >= kPesPrefix) {
        const auto length = static_cast<std::size_t>(static_cast<unsigned char>(stream.unit[4]) << 8 |
                                                     static_cast<unsigned char>(stream.unit[5]));
        if (length != 0 && stream.unit.size() >= kPesPrefix + length) {
            EndUnit(stream);
        }
    }
}

// The buffer grows as strings do, every byte of its capacity taken from the budget first.
bool TsDemux::MakeRoom(Stream& stream, std::size_t more) {
    const std::size_t wanted = stream.unit.size() + more;
    if (wanted <= stream.unitLease.Bytes()) {
        return true;
    }
    constexpr std::size_t kFirstUnit = 64 << 10;
    const std::size_t capacity = std::max({wanted, 2 * stream.unitLease.Bytes(), kFirstUnit});
    if (!stream.unitLease.Grow(capacity - stream.unitLease.Bytes()) &&
        !stream.unitLease.Grow(wanted - stream.unitLease.Bytes())) {
        return false;
    }
    stream.unit.reserve(stream.unitLease.Bytes());
    return true;
}

void TsDemux::EndUnit(Stream& stream) {
    if (!stream.gathering) {
        return;
    }
    stream.gathering = false;
    const auto header = DecodePesHeader(stream.unit);
    if (!header) {
        ++m_damage.brokenUnits;
        stream.unit.clear();
        return;
    }
    std::size_t end = stream.unit.size();
    if (header->packetLength != 0) {
        end = std::min(end, std::size_t{6} + header->packetLength);
    }
    PesUnit unit;
    unit.pid = stream.pid;
    unit.streamType = stream.type;
    unit.pts = header->pts;
    unit.dts = header->dts;
    unit.payload = std::string_view(stream.unit).substr(0, std::max(end, header->size)).substr(header->size);
    m_sink(unit);
    stream.unit.clear();
}

}  // namespace drovan
