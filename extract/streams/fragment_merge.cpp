#include "extract/streams/fragment_merge.h"

#include <algorithm>
#include <initializer_list>
#include <limits>

#include "extract/formats/mp4_box.h"
#include "extract/streams/mp4_field_records.h"

namespace drovan {
namespace {

// An init's moov is a few KiB and a moof a few hundred bytes per second of media; far past these, the bytes
// are not a stream's.
constexpr std::uint64_t kMaxInitSize = 8 << 20;
constexpr std::uint64_t kMaxMoofSize = 4 << 20;

// The whole box, header included, that a decoded box's payload view lies in.
std::string_view WholeBox(const mp4::Box& box) {
    return std::string_view(box.payload.data() - box.header.headerSize,
                            static_cast<std::size_t>(box.header.size));
}

void AppendBigEndian(std::string& bytes, std::uint64_t value, std::size_t size) {
    for (std::size_t i = size; i-- > 0;) {
        bytes.push_back(static_cast<char>(value >> (8 * i)));
    }
}

std::optional<std::string> WriteBox(std::string_view type, std::string_view payload) {
    constexpr std::size_t kHeaderSize = 8;
    if (payload.size() > std::numeric_limits<std::uint32_t>::max() - kHeaderSize) {
        return std::nullopt;
    }
    std::string box;
    AppendBigEndian(box, kHeaderSize + payload.size(), 4);
    box.append(type);
    box.append(payload);
    return box;
}

std::optional<mp4::Box> FindPath(const mp4::Box& from, std::initializer_list<std::string_view> path) {
    std::optional<mp4::Box> box = from;
    for (const std::string_view type : path) {
        const auto children = mp4::DecodeBoxes(box->payload);
        box = children ? mp4::FindBox(*children, type) : std::nullopt;
        if (!box) {
            return std::nullopt;
        }
    }
    return box;
}

// A copy of a box with fields of a box inside it (or of itself) written over.
std::optional<std::string> PatchedCopy(
    const mp4::Box& outer, std::string_view innerPayload,
    const std::vector<std::pair<mp4::PayloadField, std::uint64_t>>& fields) {
    const std::string_view whole = WholeBox(outer);
    std::string copy(whole);
    char* payload = copy.data() + (innerPayload.data() - whole.data());
    for (const auto& [field, value] : fields) {
        if (!mp4::WriteField(payload, innerPayload.size(), field, value)) {
            return std::nullopt;
        }
    }
    return copy;
}

// The parts of a single-track init segment a merge takes.
struct TrackInit {
    std::string_view fileType;  // the whole ftyp box, when there is one
    std::vector<mp4::Box> movieBoxes;
    mp4::Box movieHeader;
    mp4::MovieHeaderFields movieHeaderFields;
    mp4::Box track;
    mp4::Box trackHeader;
    mp4::PayloadField trackId;
    std::uint32_t timescale = 0;
    mp4::Box trackExtends;
    mp4::PayloadField trackExtendsId;
    std::optional<std::uint64_t> fragmentDuration;  // mehd
};

bool IsProtectedEntry(const mp4::Box& entry, std::string_view handlerType) {
    if (entry.header.type.substr(0, 3) == "enc") {
        return true;
    }
    const auto inner = mp4::SampleEntryBoxes(entry.payload, handlerType);
    const auto boxes = inner ? mp4::DecodeBoxes(*inner) : std::nullopt;
    return boxes && mp4::FindBox(*boxes, "sinf");
}

// The track's timescale; none when its header boxes do not read or a sample entry is protected.
std::optional<std::uint32_t> ReadTrackMedia(const mp4::Box& trak) {
    const auto mdhd = FindPath(trak, {"mdia", "mdhd"});
    const auto hdlr = FindPath(trak, {"mdia", "hdlr"});
    const auto stsd = FindPath(trak, {"mdia", "minf", "stbl", "stsd"});
    const auto mediaHeader = mdhd ? mp4::DecodeMediaHeaderBox(mdhd->payload) : std::nullopt;
    const auto handler = hdlr ? mp4::DecodeHandlerBox(hdlr->payload) : std::nullopt;
    const auto description = stsd ? mp4::DecodeSampleDescriptionBox(stsd->payload) : std::nullopt;
    const auto entries = description ? mp4::DecodeBoxes(description->entries) : std::nullopt;
    if (!mediaHeader || !handler || !entries || entries->empty()) {
        return std::nullopt;
    }
    for (const mp4::Box& entry : *entries) {
        if (IsProtectedEntry(entry, handler->handlerType)) {
            return std::nullopt;
        }
    }
    return mediaHeader->timescale;
}

// mvex's mehd and the trex of the track.
bool ReadMovieExtends(const mp4::Box& mvex, TrackInit& init) {
    const auto boxes = mp4::DecodeBoxes(mvex.payload);
    if (!boxes) {
        return false;
    }
    bool found = false;
    for (const mp4::Box& box : *boxes) {
        if (box.header.type == "mehd") {
            const auto duration = mp4::DecodeFragmentDurationField(box.payload);
            if (!duration) {
                return false;
            }
            init.fragmentDuration = duration->value;
        } else if (box.header.type == "trex" && !found) {
            const auto trackId = mp4::DecodeLeadingField(box.payload);
            found = trackId && trackId->value == init.trackId.value;
            init.trackExtends = box;
            init.trackExtendsId = trackId.value_or(mp4::PayloadField{});
        }
    }
    return found;
}

bool ReadMovie(const mp4::Box& moov, TrackInit& init) {
    auto boxes = mp4::DecodeBoxes(moov.payload);
    const auto mvhd = boxes ? mp4::FindBox(*boxes, "mvhd") : std::nullopt;
    const auto mvex = boxes ? mp4::FindBox(*boxes, "mvex") : std::nullopt;
    const auto movieHeader = mvhd ? mp4::DecodeMovieHeaderFields(mvhd->payload) : std::nullopt;
    if (!movieHeader || !mvex || mp4::FindBox(*boxes, "pssh") ||
        std::count_if(boxes->begin(), boxes->end(),
                      [](const mp4::Box& box) { return box.header.type == "trak"; }) != 1) {
        return false;
    }
    init.track = *mp4::FindBox(*boxes, "trak");
    const auto tkhd = FindPath(init.track, {"tkhd"});
    const auto trackId = tkhd ? mp4::DecodeTrackHeaderIdField(tkhd->payload) : std::nullopt;
    const auto timescale = ReadTrackMedia(init.track);
    if (!trackId || !timescale) {
        return false;
    }
    init.movieBoxes = std::move(*boxes);
    init.movieHeader = *mvhd;
    init.movieHeaderFields = *movieHeader;
    init.trackHeader = *tkhd;
    init.trackId = *trackId;
    init.timescale = *timescale;
    return ReadMovieExtends(*mvex, init);
}

std::optional<TrackInit> ReadTrackInit(std::string_view bytes) {
    TrackInit init;
    while (const auto box = mp4::DecodeBox(bytes)) {
        if (box->header.type == "moov") {
            return ReadMovie(*box, init) ? std::optional(std::move(init)) : std::nullopt;
        }
        if (box->header.type == "ftyp" && init.fileType.empty()) {
            init.fileType = WholeBox(*box);
        }
        bytes.remove_prefix(static_cast<std::size_t>(box->header.size));
    }
    return std::nullopt;
}

std::optional<std::string> MergedMovieExtends(const std::vector<TrackInit>& inits) {
    std::string payload;
    std::optional<std::uint64_t> longest;
    for (const TrackInit& init : inits) {
        if (init.fragmentDuration) {
            longest = std::max(longest.value_or(0), *init.fragmentDuration);
        }
    }
    if (longest) {
        const bool wide = *longest > std::numeric_limits<std::uint32_t>::max();
        std::string mehd;
        AppendBigEndian(mehd, wide ? 1u << 24 : 0, 4);  // version, flags
        AppendBigEndian(mehd, *longest, wide ? 8 : 4);
        payload += *WriteBox("mehd", mehd);
    }
    for (std::size_t i = 0; i < inits.size(); ++i) {
        const auto trex = PatchedCopy(inits[i].trackExtends, inits[i].trackExtends.payload,
                                      {{inits[i].trackExtendsId, i + 1}});
        if (!trex) {
            return std::nullopt;
        }
        payload += *trex;
    }
    return WriteBox("mvex", payload);
}

std::optional<std::string> MergedMovieHeader(const std::vector<TrackInit>& inits) {
    std::uint64_t longest = 0;
    for (const TrackInit& init : inits) {
        longest = std::max(longest, init.movieHeaderFields.duration.value);
    }
    const TrackInit& first = inits.front();
    return PatchedCopy(first.movieHeader, first.movieHeader.payload,
                       {{first.movieHeaderFields.duration, longest},
                        {first.movieHeaderFields.nextTrackId, inits.size() + 1}});
}

// The first's moov boxes in their order, its mvhd, trak and mvex standing for all.
std::optional<std::string> MergedMovie(const std::vector<TrackInit>& inits) {
    std::string payload;
    for (const mp4::Box& box : inits.front().movieBoxes) {
        std::optional<std::string> merged;
        if (box.header.type == "mvhd") {
            merged = MergedMovieHeader(inits);
        } else if (box.header.type == "mvex") {
            merged = MergedMovieExtends(inits);
        } else if (box.header.type == "trak") {
            merged.emplace();
            for (std::size_t i = 0; i < inits.size() && merged; ++i) {
                const auto trak =
                    PatchedCopy(inits[i].track, inits[i].trackHeader.payload, {{inits[i].trackId, i + 1}});
                merged = trak ? std::optional(*merged + *trak) : std::nullopt;
            }
        } else {
            merged = std::string(WholeBox(box));
        }
        if (!merged) {
            return std::nullopt;
        }
        payload += *merged;
    }
    return WriteBox("moov", payload);
}

// The first traf's tfdt, an empty one when it has none; none when the moof does not read down to it.
std::optional<std::optional<std::uint64_t>> FirstDecodeTime(std::string_view moofPayload) {
    const auto boxes = mp4::DecodeBoxes(moofPayload);
    const auto traf = boxes ? mp4::FindBox(*boxes, "traf") : std::nullopt;
    const auto trafBoxes = traf ? mp4::DecodeBoxes(traf->payload) : std::nullopt;
    if (!boxes || (traf && !trafBoxes)) {
        return std::nullopt;
    }
    const auto tfdt = trafBoxes ? mp4::FindBox(*trafBoxes, "tfdt") : std::nullopt;
    if (!tfdt) {
        return std::optional<std::uint64_t>();
    }
    const auto decodeTime = mp4::DecodeTrackFragmentBaseMediaDecodeTimeBox(tfdt->payload);
    if (!decodeTime) {
        return std::nullopt;
    }
    return std::optional(decodeTime->baseMediaDecodeTime);
}

// A picture sample entry's parameter sets as length-prefixed NAL units, and the length's size; none unless it
// is H.264 or H.265 whose configuration reads soundly.
struct ParameterSets {
    std::string units;
    std::uint8_t lengthSize = 4;
};

bool AppendUnits(ByteReader& reader, std::size_t count, std::uint8_t lengthSize, std::string& units) {
    for (std::size_t i = 0; i < count; ++i) {
        std::uint16_t size = 0;
        std::string_view unit;
        if (!reader.U16BE(size) || !reader.Bytes(size, unit)) {
            return false;
        }
        AppendBigEndian(units, size, lengthSize);
        units.append(unit);
    }
    return true;
}

std::optional<ParameterSets> ReadParameterSets(const mp4::Box& entry) {
    const auto inner = mp4::SampleEntryBoxes(entry.payload, "vide");
    const auto boxes = inner ? mp4::DecodeBoxes(*inner) : std::nullopt;
    const bool avc = entry.header.type == "avc1" || entry.header.type == "avc3";
    const bool hevc = entry.header.type == "hvc1" || entry.header.type == "hev1";
    const auto config = boxes && (avc || hevc) ? mp4::FindBox(*boxes, avc ? "avcC" : "hvcC") : std::nullopt;
    if (!config) {
        return std::nullopt;
    }
    ByteReader reader(config->payload);
    ParameterSets sets;
    std::uint8_t byte = 0;
    if (!reader.Skip(avc ? 4 : 21) || !reader.U8(byte)) {
        return std::nullopt;
    }
    sets.lengthSize = static_cast<std::uint8_t>((byte & 3) + 1);
    std::uint8_t arrays = 0;
    if (avc) {
        // SPS, then PPS, each list after its count.
        std::uint8_t count = 0;
        bool read = reader.U8(count) && AppendUnits(reader, count & 31, sets.lengthSize, sets.units);
        read = read && reader.U8(count) && AppendUnits(reader, count, sets.lengthSize, sets.units);
        return read ? std::optional(std::move(sets)) : std::nullopt;
    }
    if (!reader.U8(arrays)) {
        return std::nullopt;
    }
    for (std::uint8_t i = 0; i < arrays; ++i) {
        std::uint16_t count = 0;
        if (!reader.U8(byte) || !reader.U16BE(count) ||
            !AppendUnits(reader, count, sets.lengthSize, sets.units)) {
            return std::nullopt;
        }
    }
    return sets;
}

// An MPEG-4 descriptor's tag and size (its size in up to four 7-bit groups).
bool ReadDescriptorHeader(ByteReader& reader, std::uint8_t& tag, std::uint32_t& size) {
    std::uint8_t byte = 0x80;
    size = 0;
    if (!reader.U8(tag)) {
        return false;
    }
    for (int i = 0; i < 4 && (byte & 0x80) != 0; ++i) {
        if (!reader.U8(byte)) {
            return false;
        }
        size = (size << 7) | (byte & 0x7F);
    }
    return size <= reader.remaining();
}

// What decoding an mp4a sample entry's sound depends on: channels, sample size and rate, the object type and
// the decoder's specific info; not the bit rates encoders write per period.
std::optional<std::string> SoundConfig(const mp4::Box& entry) {
    constexpr std::size_t kFixedFields = 28;  // through samplerate
    const auto inner = mp4::SampleEntryBoxes(entry.payload, "soun");
    const auto boxes = inner ? mp4::DecodeBoxes(*inner) : std::nullopt;
    const auto esds = boxes && entry.header.type == "mp4a" ? mp4::FindBox(*boxes, "esds") : std::nullopt;
    if (!esds || entry.payload.size() < kFixedFields) {
        return std::nullopt;
    }
    ByteReader reader(esds->payload);
    std::uint8_t tag = 0, flags = 0, objectType = 0;
    std::uint32_t size = 0;
    std::string_view info;
    bool read = reader.Skip(4) && ReadDescriptorHeader(reader, tag, size) && tag == 0x03 && reader.Skip(2) &&
                reader.U8(flags);
    read = read && reader.Skip((flags & 0x80) != 0 ? 2 : 0) && reader.Skip((flags & 0x20) != 0 ? 2 : 0);
    if (read && (flags & 0x40) != 0) {
        std::uint8_t urlLength = 0;
        read = reader.U8(urlLength) && reader.Skip(urlLength);
    }
    read = read && ReadDescriptorHeader(reader, tag, size) && tag == 0x04 && reader.U8(objectType) &&
           reader.Skip(12) && ReadDescriptorHeader(reader, tag, size) && tag == 0x05 &&
           reader.Bytes(size, info);
    if (!read) {
        return std::nullopt;
    }
    return std::string(entry.payload.substr(16, kFixedFields - 16)) + static_cast<char>(objectType) +
           std::string(info);
}

// The one sample entry of a track's stsd, and the track's handler; none otherwise.
std::optional<std::pair<mp4::Box, std::string_view>> OnlySampleEntry(const mp4::Box& track) {
    const auto hdlr = FindPath(track, {"mdia", "hdlr"});
    const auto stsd = FindPath(track, {"mdia", "minf", "stbl", "stsd"});
    const auto handler = hdlr ? mp4::DecodeHandlerBox(hdlr->payload) : std::nullopt;
    const auto description = stsd ? mp4::DecodeSampleDescriptionBox(stsd->payload) : std::nullopt;
    const auto entries = description ? mp4::DecodeBoxes(description->entries) : std::nullopt;
    if (!handler || !entries || entries->size() != 1) {
        return std::nullopt;
    }
    return std::pair(entries->front(), handler->handlerType);
}

}  // namespace

std::optional<RunJoin> JoinRun(std::string_view firstInit, std::string_view runInit) {
    const std::optional<TrackInit> first = ReadTrackInit(firstInit);
    const std::optional<TrackInit> run = ReadTrackInit(runInit);
    const auto firstEntry = first ? OnlySampleEntry(first->track) : std::nullopt;
    const auto runEntry = run ? OnlySampleEntry(run->track) : std::nullopt;
    if (!firstEntry || !runEntry || first->timescale != run->timescale ||
        firstEntry->second != runEntry->second ||
        firstEntry->first.header.type != runEntry->first.header.type) {
        return std::nullopt;
    }
    if (WholeBox(firstEntry->first) == WholeBox(runEntry->first)) {
        return RunJoin{};
    }
    if (firstEntry->second == "soun") {
        const std::optional<std::string> sound = SoundConfig(firstEntry->first);
        return sound && sound == SoundConfig(runEntry->first) ? std::optional(RunJoin{}) : std::nullopt;
    }
    const auto firstSets = firstEntry->second == "vide" ? ReadParameterSets(firstEntry->first) : std::nullopt;
    const auto runSets = firstSets ? ReadParameterSets(runEntry->first) : std::nullopt;
    if (!runSets || runSets->lengthSize != firstSets->lengthSize || runSets->units.empty()) {
        return std::nullopt;
    }
    return RunJoin{runSets->units};
}

std::optional<MergedInit> MergeInitSegments(const std::vector<std::string_view>& inits) {
    std::vector<TrackInit> tracks;
    for (const std::string_view bytes : inits) {
        auto track = ReadTrackInit(bytes);
        if (!track || (!tracks.empty() && track->movieHeaderFields.timescale.value !=
                                              tracks.front().movieHeaderFields.timescale.value)) {
            return std::nullopt;
        }
        tracks.push_back(std::move(*track));
    }
    if (tracks.empty() || tracks.size() >= std::numeric_limits<std::uint32_t>::max()) {
        return std::nullopt;
    }
    const auto movie = MergedMovie(tracks);
    if (!movie) {
        return std::nullopt;
    }
    MergedInit merged;
    merged.bytes = std::string(tracks.front().fileType) + *movie;
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        merged.trackIds.push_back(static_cast<std::uint32_t>(i + 1));
        merged.timescales.push_back(tracks[i].timescale);
    }
    return merged;
}

namespace {

// A 64-bit time times a 32-bit timescale, as (high, low) 64-bit halves.
std::pair<std::uint64_t, std::uint64_t> WideProduct(std::uint64_t time, std::uint32_t timescale) {
    const std::uint64_t lowPart = (time & 0xFFFFFFFF) * timescale;
    const std::uint64_t highPart = (time >> 32) * timescale;
    const std::uint64_t low = lowPart + (highPart << 32);
    return {(highPart >> 32) + (low < lowPart ? 1 : 0), low};
}

// a / a.timescale < b / b.timescale, multiplied across.
bool Earlier(const FragmentTime& a, const FragmentTime& b) {
    return WideProduct(a.decodeTime, std::max(b.timescale, 1u)) <
           WideProduct(b.decodeTime, std::max(a.timescale, 1u));
}

}  // namespace

std::optional<std::size_t> EarliestFragment(const std::vector<std::optional<FragmentTime>>& next) {
    std::optional<std::size_t> pick;
    for (std::size_t track = 0; track < next.size(); ++track) {
        if (next[track] && (!pick || Earlier(*next[track], *next[*pick]))) {
            pick = track;
        }
    }
    return pick;
}

void FragmentRewriter::BeginFragment(std::uint32_t newTrackId, std::uint64_t inputOffset,
                                     std::int64_t decodeShift, std::string_view inBand) {
    m_trackId = newTrackId;
    m_inputOffset = inputOffset;
    m_decodeShift = decodeShift;
    m_inBand.assign(inBand);
    m_boxes = mp4::BoxStream();
    m_action = Action::Pass;
}

bool FragmentRewriter::Feed(std::string_view bytes, const Sink& sink) {
    if (m_failed) {
        return false;
    }
    m_failed = !m_boxes.Feed(
        bytes,
        [this, &sink](const mp4::BoxHeader& header, std::string_view headerBytes, std::uint64_t boxOffset) {
            return OnHeader(header, headerBytes, boxOffset, sink);
        },
        [this, &sink](std::string_view piece, bool last) { return OnPayload(piece, last, sink); });
    return !m_failed;
}

bool FragmentRewriter::EndFragment() {
    m_failed = m_failed || !m_boxes.AtBoxBoundary() || !m_inBand.empty();
    return !m_failed;
}

bool FragmentRewriter::OnHeader(const mp4::BoxHeader& header, std::string_view headerBytes,
                                std::uint64_t boxOffset, const Sink& sink) {
    const std::string_view type = header.type;
    if (type == "styp" || type == "sidx" || type == "ssix" || type == "prft") {
        m_action = Action::Drop;
        return true;
    }
    if (type == "moof") {
        if (header.size > kMaxMoofSize) {
            return false;
        }
        m_action = Action::Hold;
        m_moof.assign(headerBytes);
        m_moofHeaderSize = headerBytes.size();
        m_moofInputOffset = m_inputOffset + boxOffset;
        return true;
    }
    m_action = Action::Pass;
    if (type == "mdat" && !m_inBand.empty()) {
        return WriteMediaDataHeader(header, headerBytes, sink);
    }
    return Write(headerBytes, sink);
}

// The mdat after a moof whose first sample grew by the parameter sets: they come first in its payload.
bool FragmentRewriter::WriteMediaDataHeader(const mp4::BoxHeader& header, std::string_view headerBytes,
                                            const Sink& sink) {
    constexpr std::size_t kCompactHeader = 8;
    const std::uint64_t size = header.size + m_inBand.size();
    if (headerBytes.size() != kCompactHeader || size > std::numeric_limits<std::uint32_t>::max()) {
        return false;
    }
    std::string grown;
    AppendBigEndian(grown, size, 4);
    grown.append(headerBytes.substr(4));
    grown += m_inBand;
    m_inBand.clear();
    return Write(grown, sink);
}

bool FragmentRewriter::OnPayload(std::string_view piece, bool last, const Sink& sink) {
    switch (m_action) {
        case Action::Drop:
            return true;
        case Action::Pass:
            return piece.empty() || Write(piece, sink);
        case Action::Hold:
            m_moof.append(piece);
            if (!last) {
                return true;
            }
            if (!PatchMoof()) {
                return false;
            }
            const bool written = Write(m_moof, sink);
            m_moof.clear();
            return written;
    }
    return false;
}

bool FragmentRewriter::Write(std::string_view bytes, const Sink& sink) {
    m_outputOffset += bytes.size();
    return sink(bytes);
}

// The moof is written at m_outputOffset; explicit base offsets move by as much as it moved.
bool FragmentRewriter::PatchMoof() {
    const std::string_view payload = std::string_view(m_moof).substr(m_moofHeaderSize);
    const auto boxes = mp4::DecodeBoxes(payload);
    const auto mfhd = boxes ? mp4::FindBox(*boxes, "mfhd") : std::nullopt;
    const auto sequence = mfhd ? mp4::DecodeLeadingField(mfhd->payload) : std::nullopt;
    const auto writeAt = [this](std::string_view inner, const mp4::PayloadField& field, std::uint64_t value) {
        return mp4::WriteField(m_moof.data() + (inner.data() - m_moof.data()), inner.size(), field, value);
    };
    if (!sequence || !writeAt(mfhd->payload, *sequence, ++m_sequenceNumber)) {
        return false;
    }
    const auto trafCount = static_cast<std::size_t>(std::count_if(
        boxes->begin(), boxes->end(), [](const mp4::Box& box) { return box.header.type == "traf"; }));
    for (const mp4::Box& box : *boxes) {
        if (box.header.type == "traf" && !PatchTrackFragment(box, trafCount)) {
            return false;
        }
    }
    return true;
}

// tfhd's track and base offset, tfdt moved by the run's shift, and trun's first sample grown by what goes in
// band before it.
bool FragmentRewriter::PatchTrackFragment(const mp4::Box& traf, std::size_t trafCount) {
    const auto writeAt = [this](std::string_view inner, const mp4::PayloadField& field, std::uint64_t value) {
        return mp4::WriteField(m_moof.data() + (inner.data() - m_moof.data()), inner.size(), field, value);
    };
    const auto boxes = mp4::DecodeBoxes(traf.payload);
    const auto tfhd = boxes ? mp4::FindBox(*boxes, "tfhd") : std::nullopt;
    const auto fields = tfhd ? mp4::DecodeTrackFragmentHeaderFields(tfhd->payload) : std::nullopt;
    if (!fields || !writeAt(tfhd->payload, fields->trackId, m_trackId)) {
        return false;
    }
    if (const auto base = fields->baseDataOffset) {
        const std::uint64_t moved = base->value - m_moofInputOffset + m_outputOffset;
        const bool forward = m_outputOffset >= m_moofInputOffset;
        if ((forward && moved < base->value) || (!forward && moved > base->value) ||
            !writeAt(tfhd->payload, *base, moved)) {
            return false;
        }
    }
    if (m_decodeShift != 0) {
        const auto tfdt = mp4::FindBox(*boxes, "tfdt");
        const auto time = tfdt ? mp4::DecodeBaseMediaDecodeTimeField(tfdt->payload) : std::nullopt;
        const std::uint64_t shifted = time ? time->value + static_cast<std::uint64_t>(m_decodeShift) : 0;
        const bool wrapped = m_decodeShift > 0 ? shifted < time->value : shifted > time->value;
        if (!time || wrapped || !writeAt(tfdt->payload, *time, shifted)) {
            return false;
        }
    }
    if (m_inBand.empty()) {
        return true;
    }
    // The parameter sets become the head of the first sample, at the start of the mdat after this moof.
    constexpr std::uint64_t kCompactHeader = 8;
    const auto trun = mp4::FindBox(*boxes, "trun");
    const auto first = trun ? mp4::DecodeTrackRunFirstSampleFields(trun->payload) : std::nullopt;
    const auto header = mp4::DecodeTrackFragmentHeaderBox(tfhd->payload);
    return trafCount == 1 && first && header && !fields->baseDataOffset &&
           (header->full.flags & mp4::kDefaultBaseIsMoof) != 0 &&
           first->dataOffset.value == m_moof.size() + kCompactHeader &&
           writeAt(trun->payload, first->firstSampleSize, first->firstSampleSize.value + m_inBand.size());
}

bool FileFragments::Refill() {
    if (m_ended) {
        return false;
    }
    m_offset += m_chunk.size();
    const std::optional<std::string_view> next = m_pull();
    m_ended = !next;
    m_chunk = next.value_or(std::string_view());
    return next.has_value();
}

bool FileFragments::AtEnd() {
    while (m_chunk.empty()) {
        if (!Refill()) {
            return true;
        }
    }
    return false;
}

template <typename Each>
bool FileFragments::Pass(std::uint64_t count, Each&& each) {
    while (count > 0) {
        if (AtEnd()) {
            m_failed = true;
            return false;
        }
        const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(count, m_chunk.size()));
        const std::string_view piece = m_chunk.substr(0, take);
        m_chunk.remove_prefix(take);
        m_offset += take;
        count -= take;
        if (!each(piece)) {
            return false;
        }
    }
    return true;
}

bool FileFragments::Take(std::uint64_t count, std::string& out) {
    return Pass(count, [&](std::string_view piece) {
        out.append(piece);
        return true;
    });
}

// The next top-level box's header into m_header; false (failed) when it is cut or malformed, or says the box
// runs to the end of bytes that never say where they end.
bool FileFragments::ReadHeader() {
    constexpr std::size_t kSizeAndType = 8, kLargeSize = 8, kUserType = 16;
    m_headerOffset = m_offset;
    m_headerBytes.clear();
    if (!Take(kSizeAndType, m_headerBytes)) {
        return false;
    }
    const bool large = m_headerBytes.compare(0, 4, std::string_view("\0\0\0\1", 4)) == 0;
    const bool toTheEnd = m_headerBytes.compare(0, 4, std::string_view("\0\0\0\0", 4)) == 0;
    const bool user = m_headerBytes.compare(4, 4, "uuid") == 0;
    if (toTheEnd || !Take((large ? kLargeSize : 0) + (user ? kUserType : 0), m_headerBytes)) {
        m_failed = true;
        return false;
    }
    const std::optional<mp4::BoxHeader> header = mp4::DecodeBoxHeader(m_headerBytes);
    m_failed = !header;
    m_header = header.value_or(mp4::BoxHeader());
    return header.has_value();
}

std::optional<std::string> FileFragments::Init() {
    std::string init;
    while (!AtEnd()) {
        if (!ReadHeader() || m_header.type == "moof" || m_header.size > kMaxInitSize - init.size()) {
            m_failed = true;
            return std::nullopt;
        }
        const bool movie = m_header.type == "moov";
        init.append(m_headerBytes);
        if (!Take(m_header.size - m_header.headerSize, init)) {
            return std::nullopt;
        }
        if (movie) {
            return init;
        }
    }
    m_failed = true;
    return std::nullopt;
}

std::optional<std::uint64_t> FileFragments::Next() {
    while (m_headerPending || !AtEnd()) {
        if (!m_headerPending && !ReadHeader()) {
            return std::nullopt;
        }
        m_headerPending = false;
        const std::uint64_t payload = m_header.size - m_header.headerSize;
        if (m_header.type != "moof") {
            if (!Pass(payload, [](std::string_view) { return true; })) {
                return std::nullopt;
            }
            continue;
        }
        m_moof = m_headerBytes;
        m_moofOffset = m_headerOffset;
        if (m_header.size > kMaxMoofSize || !Take(payload, m_moof)) {
            m_failed = true;
            return std::nullopt;
        }
        const auto decodeTime = FirstDecodeTime(std::string_view(m_moof).substr(m_header.headerSize));
        m_failed = !decodeTime;
        return decodeTime ? std::optional<std::uint64_t>(decodeTime->value_or(0)) : std::nullopt;
    }
    return std::nullopt;
}

bool FileFragments::Write(FragmentRewriter& rewriter, std::uint32_t trackId,
                          const FragmentRewriter::Sink& sink) {
    rewriter.BeginFragment(trackId, m_moofOffset);
    if (!rewriter.Feed(m_moof, sink)) {
        return false;
    }
    bool sawData = false;
    while (!AtEnd()) {
        if (!ReadHeader()) {
            return false;
        }
        if (m_header.type == "moof" || (sawData && m_header.type != "mdat")) {
            m_headerPending = true;
            break;
        }
        sawData = sawData || m_header.type == "mdat";
        if (!rewriter.Feed(m_headerBytes, sink) ||
            !Pass(m_header.size - m_header.headerSize,
                  [&](std::string_view piece) { return rewriter.Feed(piece, sink); })) {
            return false;
        }
    }
    return rewriter.EndFragment();
}

}  // namespace drovan
