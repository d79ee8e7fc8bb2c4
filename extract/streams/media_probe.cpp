#include "extract/streams/media_probe.h"

#include <algorithm>
#include <initializer_list>
#include <limits>
#include <map>

#include "extract/formats/byte_reader.h"
#include "extract/formats/mp4_box.h"

namespace drovan {
namespace {

// MPEG-TS (ISO/IEC 13818-1).

constexpr std::size_t kTsPacketSize = 188;
constexpr char kSyncByte = 0x47;
constexpr std::uint16_t kPatPid = 0x0000;

struct TsPacketHeader {
    bool transportErrorIndicator = false;
    bool payloadUnitStartIndicator = false;
    std::uint16_t pid = 0;
    std::uint8_t adaptationFieldControl = 0;  // bit 1: an adaptation field, bit 0: a payload
};

struct TsPacket {
    TsPacketHeader header;
    std::string_view payload;  // after the adaptation field
};

// A packet from its 188 bytes; none when its sync byte, adaptation field or control value says it is damaged.
std::optional<TsPacket> DecodeTsPacket(std::string_view packetBytes) {
    ByteReader reader(packetBytes);
    TsPacket packet;
    std::uint8_t syncByte = 0;
    std::uint16_t indicatorsAndPid = 0;
    std::uint8_t control = 0;
    reader.U8(syncByte);
    reader.U16BE(indicatorsAndPid);
    reader.U8(control);  // transport_scrambling_control, adaptation_field_control, continuity_counter
    packet.header.transportErrorIndicator = (indicatorsAndPid & 0x8000) != 0;
    packet.header.payloadUnitStartIndicator = (indicatorsAndPid & 0x4000) != 0;
    packet.header.pid = indicatorsAndPid & 0x1FFF;
    packet.header.adaptationFieldControl = (control >> 4) & 0x3;
    if ((packet.header.adaptationFieldControl & 0x2) != 0) {
        std::uint8_t adaptationFieldLength = 0;
        reader.U8(adaptationFieldLength);
        reader.Skip(adaptationFieldLength);
    }
    if ((packet.header.adaptationFieldControl & 0x1) != 0) {
        reader.Bytes(reader.remaining(), packet.payload);
    }
    if (reader.failed() || syncByte != static_cast<std::uint8_t>(kSyncByte) ||
        packet.header.adaptationFieldControl == 0) {
        return std::nullopt;
    }
    return packet;
}

// The sound packets from byte 0 up to the first whose sync byte is lost.
std::vector<TsPacket> DecodeTsPackets(std::string_view bytes) {
    std::vector<TsPacket> packets;
    for (std::size_t at = 0; bytes.size() - at >= kTsPacketSize && bytes[at] == kSyncByte;
         at += kTsPacketSize) {
        const auto packet = DecodeTsPacket(bytes.substr(at, kTsPacketSize));
        if (packet && !packet->header.transportErrorIndicator) {
            packets.push_back(*packet);
        }
    }
    return packets;
}

// The leading bytes of the payload unit (PSI sections or a PES packet) that starts in packets[start]: its
// payload joined with those of the same PID's next packets, up to the next unit's start or limit bytes.
std::string UnitStart(const std::vector<TsPacket>& packets, std::size_t start, std::size_t limit) {
    const std::uint16_t pid = packets[start].header.pid;
    std::string unit(packets[start].payload.substr(0, limit));
    for (std::size_t next = start + 1; next < packets.size() && unit.size() < limit; ++next) {
        if (packets[next].header.pid != pid) {
            continue;
        }
        if (packets[next].header.payloadUnitStartIndicator) {
            break;
        }
        unit.append(packets[next].payload.substr(0, limit - unit.size()));
    }
    return unit;
}

// What decode makes of the first unit on pid that it accepts. Each unit is read up to the next one's start,
// so the work stays within one pass over the packets.
template <typename Decode>
auto FirstDecodedUnit(const std::vector<TsPacket>& packets, std::uint16_t pid, std::size_t limit,
                      Decode decode) -> decltype(decode(std::string_view())) {
    for (std::size_t start = 0; start < packets.size(); ++start) {
        if (packets[start].header.pid == pid && packets[start].header.payloadUnitStartIndicator) {
            if (auto decoded = decode(UnitStart(packets, start, limit))) {
                return decoded;
            }
        }
    }
    return std::nullopt;
}

// A PSI section after the pointer_field that leads its unit.
constexpr std::size_t kMaxSectionLength = 1021;
// pointer_field, the bytes it skips, table_id and section_length, the rest of the section.
constexpr std::size_t kPsiUnitLimit = 1 + 255 + 3 + kMaxSectionLength;
constexpr std::uint8_t kProgramAssociationTableId = 0x00;
constexpr std::uint8_t kProgramMapTableId = 0x02;

struct PsiSection {
    std::uint8_t tableId = 0;
    std::string_view body;  // after last_section_number, up to the CRC_32
};

std::optional<PsiSection> DecodePsiSection(std::string_view unit) {
    ByteReader reader(unit);
    PsiSection section;
    std::uint8_t pointerField = 0;
    std::uint16_t indicatorAndLength = 0;
    reader.U8(pointerField);
    reader.Skip(pointerField);
    reader.U8(section.tableId);
    reader.U16BE(indicatorAndLength);
    const std::size_t sectionLength = indicatorAndLength & 0x0FFF;
    constexpr std::size_t kExtensionSize = 5;  // table_id_extension, version_number, section numbers
    constexpr std::size_t kCrcSize = 4;
    if (sectionLength > kMaxSectionLength || sectionLength < kExtensionSize + kCrcSize) {
        return std::nullopt;
    }
    reader.Skip(kExtensionSize);
    reader.Bytes(sectionLength - kExtensionSize - kCrcSize, section.body);
    reader.Skip(kCrcSize);
    if (reader.failed()) {
        return std::nullopt;
    }
    return section;
}

// program_association_section: the program_map_PID of its first programme (program_number 0 names the
// network PID instead).
std::optional<std::uint16_t> DecodeProgramMapPid(std::string_view unit) {
    const auto section = DecodePsiSection(unit);
    if (!section || section->tableId != kProgramAssociationTableId) {
        return std::nullopt;
    }
    ByteReader reader(section->body);
    std::uint16_t programNumber = 0;
    std::uint16_t pid = 0;
    while (reader.U16BE(programNumber) && reader.U16BE(pid)) {
        if (programNumber != 0) {
            return pid & 0x1FFF;
        }
    }
    return std::nullopt;
}

// TS_program_map_section: its elementary streams as (elementary_PID, stream_type), in its order.
using ElementaryStreams = std::vector<std::pair<std::uint16_t, std::uint8_t>>;

std::optional<ElementaryStreams> DecodeProgramMap(std::string_view unit) {
    const auto section = DecodePsiSection(unit);
    if (!section || section->tableId != kProgramMapTableId) {
        return std::nullopt;
    }
    ByteReader reader(section->body);
    std::uint16_t programInfoLength = 0;
    reader.Skip(2);  // PCR_PID
    reader.U16BE(programInfoLength);
    reader.Skip(programInfoLength & 0x0FFF);
    ElementaryStreams streams;
    while (!reader.failed() && reader.remaining() > 0) {
        std::uint8_t streamType = 0;
        std::uint16_t elementaryPid = 0;
        std::uint16_t esInfoLength = 0;
        reader.U8(streamType);
        reader.U16BE(elementaryPid);
        reader.U16BE(esInfoLength);
        reader.Skip(esInfoLength & 0x0FFF);
        streams.emplace_back(elementaryPid & 0x1FFF, streamType);
    }
    if (reader.failed()) {
        return std::nullopt;
    }
    return streams;
}

// The start of a PES packet, up to the PTS.
constexpr std::size_t kPesHeaderSize = 9;  // up to PES_header_data_length
constexpr std::size_t kTimestampSize = 5;

struct PesHeader {
    std::uint8_t streamId = 0;
    std::optional<std::uint64_t> pts;  // 33 bits, 90 kHz
};

// Streams whose PES packets have no optional header: program_stream_map, padding_stream, private_stream_2,
// ECM, EMM, DSMCC_stream, H.222.1 type E, program_stream_directory.
bool HasOptionalPesHeader(std::uint8_t streamId) {
    for (const std::uint8_t bare : {0xBC, 0xBE, 0xBF, 0xF0, 0xF1, 0xF2, 0xF8, 0xFF}) {
        if (streamId == bare) {
            return false;
        }
    }
    return true;
}

// '0010' or '0011', PTS[32..30], marker, PTS[29..15], marker, PTS[14..0], marker.
std::uint64_t DecodeTimestamp(std::string_view field) {
    const auto byte = [&](std::size_t i) { return std::uint64_t{static_cast<std::uint8_t>(field[i])}; };
    return ((byte(0) >> 1) & 0x7) << 30 | byte(1) << 22 | (byte(2) >> 1) << 15 | byte(3) << 7 | byte(4) >> 1;
}

std::optional<PesHeader> DecodePesHeader(std::string_view bytes) {
    ByteReader reader(bytes);
    PesHeader header;
    std::uint32_t startCode = 0;  // packet_start_code_prefix, stream_id
    reader.U32BE(startCode);
    reader.Skip(2);  // PES_packet_length
    header.streamId = static_cast<std::uint8_t>(startCode);
    if (reader.failed() || (startCode >> 8) != 0x000001) {
        return std::nullopt;
    }
    if (!HasOptionalPesHeader(header.streamId)) {
        return header;
    }
    std::uint8_t flags = 0;  // PTS_DTS_flags, ESCR_flag, …
    std::uint8_t pesHeaderDataLength = 0;
    reader.Skip(1);  // '10', PES_scrambling_control, PES_priority, …
    reader.U8(flags);
    reader.U8(pesHeaderDataLength);
    const bool ptsPresent = (flags & 0x80) != 0;
    std::string_view pts;
    if (ptsPresent && pesHeaderDataLength >= kTimestampSize) {
        reader.Bytes(kTimestampSize, pts);
    }
    if (reader.failed() || (ptsPresent && pts.empty())) {
        return std::nullopt;
    }
    if (ptsPresent) {
        header.pts = DecodeTimestamp(pts);
    }
    return header;
}

std::optional<std::uint64_t> DecodePts(std::string_view unit) {
    const auto header = DecodePesHeader(unit);
    return header ? header->pts : std::nullopt;
}

bool IsVideoStreamType(std::uint8_t streamType) {
    // MPEG-1, MPEG-2, MPEG-4 Visual, H.264, SVC, MVC, H.265, H.266, AVS, and SAMPLE-AES H.264
    for (const std::uint8_t video : {0x01, 0x02, 0x10, 0x1B, 0x1F, 0x20, 0x24, 0x33, 0x42, 0xDB}) {
        if (streamType == video) {
            return true;
        }
    }
    return false;
}

bool IsSampleAesStreamType(std::uint8_t streamType) {
    return streamType == 0xDB || streamType == 0xCF || streamType == 0xC1 || streamType == 0xC2;
}

// fMP4 (ISO/IEC 14496-12; protection from ISO/IEC 23001-7).

// The first box of each type along path, each looked for among the boxes that fill the one before.
std::optional<mp4::Box> FindPath(mp4::Box box, std::initializer_list<std::string_view> path) {
    for (const std::string_view type : path) {
        const auto children = mp4::DecodeBoxes(box.payload);
        const auto found = children ? mp4::FindBox(*children, type) : std::nullopt;
        if (!found) {
            return std::nullopt;
        }
        box = *found;
    }
    return box;
}

struct Protection {
    std::string originalFormat;
    std::string scheme;
    bool encrypted = false;
};

// A sample entry's own type, or its sinf (frma, schm, schi/tenc), tells that its samples are protected.
Protection ReadProtection(const mp4::Box& entry, std::string_view handlerType) {
    Protection protection;
    const std::string_view type = entry.header.type;
    protection.encrypted = type == "encv" || type == "enca" || type == "enct" || type == "encs";
    const auto boxes = mp4::SampleEntryBoxes(entry.payload, handlerType);
    const auto children = boxes ? mp4::DecodeBoxes(*boxes) : std::nullopt;
    const auto sinf = children ? mp4::FindBox(*children, "sinf") : std::nullopt;
    if (!sinf) {
        return protection;
    }
    if (const auto frma = FindPath(*sinf, {"frma"})) {
        if (const auto format = mp4::DecodeOriginalFormatBox(frma->payload)) {
            protection.originalFormat = std::string(format->dataFormat);
        }
    }
    if (const auto schm = FindPath(*sinf, {"schm"})) {
        if (const auto scheme = mp4::DecodeSchemeTypeBox(schm->payload)) {
            protection.scheme = std::string(scheme->schemeType);
            protection.encrypted = true;
        }
    }
    protection.encrypted = protection.encrypted || FindPath(*sinf, {"schi", "tenc"}).has_value();
    return protection;
}

std::optional<Mp4Track> ReadTrack(const mp4::Box& trak) {
    const auto tkhd = FindPath(trak, {"tkhd"});
    const auto mdhd = FindPath(trak, {"mdia", "mdhd"});
    const auto hdlr = FindPath(trak, {"mdia", "hdlr"});
    const auto stsd = FindPath(trak, {"mdia", "minf", "stbl", "stsd"});
    if (!tkhd || !mdhd || !hdlr || !stsd) {
        return std::nullopt;
    }
    const auto trackHeader = mp4::DecodeTrackHeaderBox(tkhd->payload);
    const auto mediaHeader = mp4::DecodeMediaHeaderBox(mdhd->payload);
    const auto handler = mp4::DecodeHandlerBox(hdlr->payload);
    const auto description = mp4::DecodeSampleDescriptionBox(stsd->payload);
    if (!trackHeader || !mediaHeader || !handler || !description || description->entryCount == 0) {
        return std::nullopt;
    }
    const auto entry = mp4::DecodeBox(description->entries);
    if (!entry) {
        return std::nullopt;
    }
    Mp4Track track;
    track.trackId = trackHeader->trackId;
    track.timescale = mediaHeader->timescale;
    track.handler = std::string(handler->handlerType);
    track.sampleEntry = std::string(entry->header.type);
    Protection protection = ReadProtection(*entry, handler->handlerType);
    track.originalFormat = std::move(protection.originalFormat);
    track.protectionScheme = std::move(protection.scheme);
    track.encrypted = protection.encrypted;
    return track;
}

// mvex's trex boxes: each track's default_sample_duration, the first trex of a track counting.
std::optional<std::map<std::uint32_t, std::uint32_t>> ReadTrackExtends(const mp4::Box& mvex) {
    const auto boxes = mp4::DecodeBoxes(mvex.payload);
    if (!boxes) {
        return std::nullopt;
    }
    std::map<std::uint32_t, std::uint32_t> durations;
    for (const mp4::Box& box : *boxes) {
        if (box.header.type != "trex") {
            continue;
        }
        const auto trex = mp4::DecodeTrackExtendsBox(box.payload);
        if (!trex) {
            return std::nullopt;
        }
        durations.emplace(trex->trackId, trex->defaultSampleDuration);
    }
    return durations;
}

// mvhd: the movie's timescale, and its duration (0 when unknown).
struct MovieHeaderBox {
    mp4::FullBoxHeader full;
    std::uint32_t timescale = 0;
    std::uint64_t duration = 0;
};

std::optional<MovieHeaderBox> DecodeMovieHeaderBox(std::string_view payload) {
    ByteReader reader(payload);
    MovieHeaderBox box;
    box.full = mp4::ReadFullBoxHeader(reader);
    if (box.full.version == 1) {
        reader.Skip(16);  // creation_time, modification_time
        reader.U32BE(box.timescale);
        reader.U64BE(box.duration);
        box.duration = box.duration == std::numeric_limits<std::uint64_t>::max() ? 0 : box.duration;
    } else {
        std::uint32_t duration = 0;
        reader.Skip(8);
        reader.U32BE(box.timescale);
        reader.U32BE(duration);
        box.duration = duration == std::numeric_limits<std::uint32_t>::max() ? 0 : duration;
    }
    if (reader.failed()) {
        return std::nullopt;
    }
    return box;
}

// mehd inside mvex: the whole fragmented movie's duration in mvhd's timescale.
struct MovieExtendsHeaderBox {
    std::uint64_t fragmentDuration = 0;
};

std::optional<MovieExtendsHeaderBox> DecodeMovieExtendsHeaderBox(std::string_view payload) {
    ByteReader reader(payload);
    MovieExtendsHeaderBox box;
    if (mp4::ReadFullBoxHeader(reader).version == 1) {
        reader.U64BE(box.fragmentDuration);
    } else {
        std::uint32_t duration = 0;
        reader.U32BE(duration);
        box.fragmentDuration = duration;
    }
    if (reader.failed()) {
        return std::nullopt;
    }
    return box;
}

// sidx: reference_count records of 12 bytes (reference_type and referenced_size, subsegment_duration, SAP).
struct SegmentIndexBox {
    std::uint32_t timescale = 0;
    std::uint16_t referenceCount = 0;
    std::string_view references;
};
constexpr std::size_t kSegmentReferenceSize = 12;

std::optional<SegmentIndexBox> DecodeSegmentIndexBox(std::string_view payload) {
    ByteReader reader(payload);
    SegmentIndexBox box;
    const mp4::FullBoxHeader full = mp4::ReadFullBoxHeader(reader);
    reader.Skip(4);  // reference_ID
    reader.U32BE(box.timescale);
    reader.Skip(full.version == 1 ? 16 : 8);  // earliest_presentation_time, first_offset
    reader.Skip(2);                           // reserved
    reader.U16BE(box.referenceCount);
    reader.Bytes(std::size_t{box.referenceCount} * kSegmentReferenceSize, box.references);
    if (reader.failed()) {
        return std::nullopt;
    }
    return box;
}

std::optional<double> Seconds(std::uint64_t duration, std::uint32_t timescale) {
    if (duration == 0 || timescale == 0) {
        return std::nullopt;
    }
    return static_cast<double>(duration) / timescale;
}

// Every reference counts, an index's as a media's: the first sidx spans the whole file either way.
std::optional<double> IndexSeconds(const SegmentIndexBox& index) {
    ByteReader reader(index.references);
    std::uint64_t duration = 0;  // at most 2^16 durations of less than 2^32 each
    for (std::uint16_t i = 0; i < index.referenceCount; ++i) {
        std::uint32_t subsegmentDuration = 0;
        reader.Skip(4);
        reader.U32BE(subsegmentDuration);
        reader.Skip(4);
        duration += subsegmentDuration;
    }
    return reader.failed() ? std::nullopt : Seconds(duration, index.timescale);
}

// mehd's duration, else mvhd's.
std::optional<double> MovieSeconds(const std::vector<mp4::Box>& moovBoxes) {
    const auto mvhd = mp4::FindBox(moovBoxes, "mvhd");
    const auto header = mvhd ? DecodeMovieHeaderBox(mvhd->payload) : std::nullopt;
    if (!header) {
        return std::nullopt;
    }
    const auto mvex = mp4::FindBox(moovBoxes, "mvex");
    const auto mehd = mvex ? FindPath(*mvex, {"mehd"}) : std::nullopt;
    if (const auto extends = mehd ? DecodeMovieExtendsHeaderBox(mehd->payload) : std::nullopt) {
        if (const auto seconds = Seconds(extends->fragmentDuration, header->timescale)) {
            return seconds;
        }
    }
    return Seconds(header->duration, header->timescale);
}

std::optional<Mp4InitProbe> ReadMovie(const mp4::Box& moov) {
    const auto boxes = mp4::DecodeBoxes(moov.payload);
    if (!boxes) {
        return std::nullopt;
    }
    Mp4InitProbe probe;
    std::map<std::uint32_t, std::uint32_t> trexDurations;
    for (const mp4::Box& box : *boxes) {
        const std::string_view type = box.header.type;
        if (type == "trak") {
            auto track = ReadTrack(box);
            if (!track) {
                return std::nullopt;
            }
            probe.tracks.push_back(std::move(*track));
        } else if (type == "mvex") {
            auto durations = ReadTrackExtends(box);
            if (!durations) {
                return std::nullopt;
            }
            trexDurations = std::move(*durations);
            probe.fragmented = true;
        }
    }
    const bool systemHeader = mp4::FindBox(*boxes, "pssh").has_value();
    for (Mp4Track& track : probe.tracks) {
        const auto trex = trexDurations.find(track.trackId);
        track.defaultSampleDuration = trex != trexDurations.end() ? trex->second : 0;
        track.encrypted = track.encrypted || systemHeader;
    }
    probe.seconds = MovieSeconds(*boxes);
    return probe;
}

// A moof's trun boxes together.
struct TrackRunTotals {
    std::uint32_t sampleCount = 0;
    std::optional<std::uint64_t> duration;
};

// One run's durations: its samples' own, else tfhd's default times the count; none when left to trex.
std::optional<std::uint64_t> TrackRunDuration(const mp4::TrackRunBox& run,
                                              std::optional<std::uint32_t> defaultSampleDuration) {
    if ((run.full.flags & mp4::kSampleDurationPresent) == 0) {
        return defaultSampleDuration ? std::optional(std::uint64_t{run.sampleCount} * *defaultSampleDuration)
                                     : std::nullopt;
    }
    std::uint64_t duration = 0;  // at most 2^32 samples of less than 2^32 each
    for (std::uint32_t sample = 0; sample < run.sampleCount; ++sample) {
        duration += *mp4::TrackRunSampleDuration(run, sample);
    }
    return duration;
}

// None when a trun does not read or the samples outnumber 32 bits: below that, no sum of durations overflows.
std::optional<TrackRunTotals> SumTrackRuns(const std::vector<mp4::Box>& trafBoxes,
                                           const mp4::TrackFragmentHeaderBox& header) {
    TrackRunTotals totals;
    totals.duration = 0;
    bool anyRun = false;
    for (const mp4::Box& box : trafBoxes) {
        if (box.header.type != "trun") {
            continue;
        }
        const auto run = mp4::DecodeTrackRunBox(box.payload);
        if (!run || run->sampleCount > std::numeric_limits<std::uint32_t>::max() - totals.sampleCount) {
            return std::nullopt;
        }
        anyRun = true;
        totals.sampleCount += run->sampleCount;
        const auto duration = TrackRunDuration(*run, header.defaultSampleDuration);
        totals.duration =
            duration && totals.duration ? std::optional(*totals.duration + *duration) : std::nullopt;
    }
    if (!anyRun && (header.full.flags & mp4::kDurationIsEmpty) != 0) {
        // An empty fragment spans tfhd's default duration, or trex's.
        totals.duration = header.defaultSampleDuration;
    }
    return totals;
}

std::optional<Mp4FragmentProbe> ReadMovieFragment(const mp4::Box& moof) {
    const auto boxes = mp4::DecodeBoxes(moof.payload);
    const auto mfhd = boxes ? mp4::FindBox(*boxes, "mfhd") : std::nullopt;
    const auto traf = boxes ? mp4::FindBox(*boxes, "traf") : std::nullopt;
    const auto trafBoxes = traf ? mp4::DecodeBoxes(traf->payload) : std::nullopt;
    const auto tfhd = trafBoxes ? mp4::FindBox(*trafBoxes, "tfhd") : std::nullopt;
    if (!mfhd || !tfhd) {
        return std::nullopt;
    }
    const auto fragmentHeader = mp4::DecodeMovieFragmentHeaderBox(mfhd->payload);
    const auto trackHeader = mp4::DecodeTrackFragmentHeaderBox(tfhd->payload);
    const auto totals = trackHeader ? SumTrackRuns(*trafBoxes, *trackHeader) : std::nullopt;
    if (!fragmentHeader || !totals) {
        return std::nullopt;
    }
    Mp4FragmentProbe probe;
    probe.sequenceNumber = fragmentHeader->sequenceNumber;
    probe.trackId = trackHeader->trackId;
    probe.defaultBaseIsMoof = (trackHeader->full.flags & mp4::kDefaultBaseIsMoof) != 0;
    probe.sampleCount = totals->sampleCount;
    probe.duration = totals->duration;
    if (const auto tfdt = mp4::FindBox(*trafBoxes, "tfdt")) {
        const auto decodeTime = mp4::DecodeTrackFragmentBaseMediaDecodeTimeBox(tfdt->payload);
        if (!decodeTime) {
            return std::nullopt;
        }
        probe.baseMediaDecodeTime = decodeTime->baseMediaDecodeTime;
    }
    probe.encrypted = mp4::FindBox(*boxes, "pssh") || mp4::FindBox(*trafBoxes, "senc") ||
                      mp4::FindBox(*trafBoxes, "saiz") || mp4::FindBox(*trafBoxes, "saio");
    return probe;
}

bool IsSegmentPreamble(std::string_view type) {
    for (const std::string_view preamble : {"styp", "sidx", "ssix", "prft", "emsg", "free", "skip"}) {
        if (type == preamble) {
            return true;
        }
    }
    return false;
}

// The sidx among the boxes that follow a moov, ahead of any fragment.
std::optional<double> FollowingIndexSeconds(std::string_view bytes) {
    while (const auto box = mp4::DecodeBox(bytes)) {
        if (box->header.type == "sidx") {
            const auto index = DecodeSegmentIndexBox(box->payload);
            return index ? IndexSeconds(*index) : std::nullopt;
        }
        if (!IsSegmentPreamble(box->header.type)) {
            return std::nullopt;
        }
        bytes.remove_prefix(static_cast<std::size_t>(box->header.size));
    }
    return std::nullopt;
}

}  // namespace

std::optional<TsProbe> ProbeTsSegment(std::string_view bytes) {
    if (bytes.size() < 2 * kTsPacketSize || bytes[0] != kSyncByte || bytes[kTsPacketSize] != kSyncByte) {
        return std::nullopt;
    }
    const std::vector<TsPacket> packets = DecodeTsPackets(bytes);
    TsProbe probe;
    const auto pmtPid = FirstDecodedUnit(packets, kPatPid, kPsiUnitLimit, DecodeProgramMapPid);
    const auto streams =
        pmtPid ? FirstDecodedUnit(packets, *pmtPid, kPsiUnitLimit, DecodeProgramMap) : std::nullopt;
    if (!streams || streams->empty()) {
        return probe;
    }
    const auto video = std::find_if(streams->begin(), streams->end(),
                                    [](const auto& stream) { return IsVideoStreamType(stream.second); });
    const std::uint16_t timedPid = (video != streams->end() ? *video : streams->front()).first;
    probe.firstPts = FirstDecodedUnit(packets, timedPid, kPesHeaderSize + kTimestampSize, DecodePts);
    probe.encrypted = std::any_of(streams->begin(), streams->end(),
                                  [](const auto& stream) { return IsSampleAesStreamType(stream.second); });
    probe.programme = *streams;
    std::sort(probe.programme.begin(), probe.programme.end());
    return probe;
}

std::optional<Mp4InitProbe> ProbeInitSegment(std::string_view bytes) {
    std::string majorBrand;
    while (const auto box = mp4::DecodeBox(bytes)) {
        if (box->header.type == "moov") {
            auto probe = ReadMovie(*box);
            if (probe) {
                probe->majorBrand = std::move(majorBrand);
                if (!probe->seconds) {
                    probe->seconds =
                        FollowingIndexSeconds(bytes.substr(static_cast<std::size_t>(box->header.size)));
                }
            }
            return probe;
        }
        if (const auto fileType =
                box->header.type == "ftyp" ? mp4::DecodeFileTypeBox(box->payload) : std::nullopt) {
            majorBrand = std::string(fileType->majorBrand);
        }
        bytes.remove_prefix(static_cast<std::size_t>(box->header.size));
    }
    return std::nullopt;
}

std::optional<Mp4FragmentProbe> ProbeMediaSegment(std::string_view bytes) {
    while (const auto box = mp4::DecodeBox(bytes)) {
        if (box->header.type == "moof") {
            return ReadMovieFragment(*box);
        }
        if (!IsSegmentPreamble(box->header.type)) {
            return std::nullopt;
        }
        bytes.remove_prefix(static_cast<std::size_t>(box->header.size));
    }
    return std::nullopt;
}

}  // namespace drovan
