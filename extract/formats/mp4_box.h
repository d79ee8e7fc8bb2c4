#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "extract/formats/byte_reader.h"

namespace drovan::mp4 {

// The boxes of an ISO base media file (ISO/IEC 14496-12, big-endian) and the records read from their
// payloads. Each record decoder takes a box's payload, needs the fields up to the last one it reads and
// leaves judging the values to its caller.

// size and type, then a 64-bit largesize when size is 1, then a usertype when the type is 'uuid'.
struct BoxHeader {
    std::uint64_t size = 0;  // the whole box's; a size of 0 (up to the end of the bytes) comes out resolved
    std::string_view type;
    std::size_t headerSize = 0;  // 8, 16 with a largesize, 16 more with a usertype
};

inline std::optional<BoxHeader> DecodeBoxHeader(std::string_view bytes) {
    ByteReader reader(bytes);
    BoxHeader header;
    std::uint32_t size = 0;
    reader.U32BE(size);
    reader.Bytes(4, header.type);
    header.size = size;
    if (size == 1) {
        reader.U64BE(header.size);
    } else if (size == 0) {
        header.size = bytes.size();
    }
    if (header.type == "uuid") {
        reader.Skip(16);
    }
    header.headerSize = reader.position();
    if (reader.failed() || header.size < header.headerSize) {
        return std::nullopt;
    }
    return header;
}

struct Box {
    BoxHeader header;
    std::string_view payload;  // the bytes after the header, up to the box's end
};

// The box that starts bytes, when all of it is there.
inline std::optional<Box> DecodeBox(std::string_view bytes) {
    const auto header = DecodeBoxHeader(bytes);
    if (!header || header->size > bytes.size()) {
        return std::nullopt;
    }
    const auto size = static_cast<std::size_t>(header->size);
    return Box{*header, bytes.substr(header->headerSize, size - header->headerSize)};
}

// The boxes that fill bytes end to end (a container's payload); none when one is cut short or malformed.
inline std::optional<std::vector<Box>> DecodeBoxes(std::string_view bytes) {
    std::vector<Box> boxes;
    while (!bytes.empty()) {
        const auto box = DecodeBox(bytes);
        if (!box) {
            return std::nullopt;
        }
        boxes.push_back(*box);
        bytes.remove_prefix(static_cast<std::size_t>(box->header.size));
    }
    return boxes;
}

inline std::optional<Box> FindBox(const std::vector<Box>& boxes, std::string_view type) {
    for (const Box& box : boxes) {
        if (box.header.type == type) {
            return box;
        }
    }
    return std::nullopt;
}

// version and flags, ahead of a full box's fields.
struct FullBoxHeader {
    std::uint8_t version = 0;
    std::uint32_t flags = 0;  // 24 bits
};

inline FullBoxHeader ReadFullBoxHeader(ByteReader& reader) {
    FullBoxHeader header;
    std::uint32_t versionAndFlags = 0;
    reader.U32BE(versionAndFlags);
    header.version = static_cast<std::uint8_t>(versionAndFlags >> 24);
    header.flags = versionAndFlags & 0xFFFFFF;
    return header;
}

// ftyp, and styp in media segments.
struct FileTypeBox {
    std::string_view majorBrand;
};

inline std::optional<FileTypeBox> DecodeFileTypeBox(std::string_view payload) {
    ByteReader reader(payload);
    FileTypeBox box;
    reader.Bytes(4, box.majorBrand);
    if (reader.failed()) {
        return std::nullopt;
    }
    return box;
}

// tkhd.
struct TrackHeaderBox {
    FullBoxHeader full;
    std::uint32_t trackId = 0;
};

inline std::optional<TrackHeaderBox> DecodeTrackHeaderBox(std::string_view payload) {
    ByteReader reader(payload);
    TrackHeaderBox box;
    box.full = ReadFullBoxHeader(reader);
    const std::size_t timeSize = box.full.version == 1 ? 8 : 4;
    reader.Skip(2 * timeSize);  // creation_time, modification_time
    reader.U32BE(box.trackId);
    if (reader.failed()) {
        return std::nullopt;
    }
    return box;
}

// mdhd.
struct MediaHeaderBox {
    FullBoxHeader full;
    std::uint32_t timescale = 0;
};

inline std::optional<MediaHeaderBox> DecodeMediaHeaderBox(std::string_view payload) {
    ByteReader reader(payload);
    MediaHeaderBox box;
    box.full = ReadFullBoxHeader(reader);
    reader.Skip(box.full.version == 1 ? 16 : 8);  // creation_time, modification_time
    reader.U32BE(box.timescale);
    if (reader.failed()) {
        return std::nullopt;
    }
    return box;
}

// hdlr.
struct HandlerBox {
    std::string_view handlerType;
};

inline std::optional<HandlerBox> DecodeHandlerBox(std::string_view payload) {
    ByteReader reader(payload);
    HandlerBox box;
    ReadFullBoxHeader(reader);
    reader.Skip(4);  // pre_defined
    reader.Bytes(4, box.handlerType);
    if (reader.failed()) {
        return std::nullopt;
    }
    return box;
}

// stsd: entry_count sample entries, each a box.
struct SampleDescriptionBox {
    std::uint32_t entryCount = 0;
    std::string_view entries;
};

inline std::optional<SampleDescriptionBox> DecodeSampleDescriptionBox(std::string_view payload) {
    ByteReader reader(payload);
    SampleDescriptionBox box;
    ReadFullBoxHeader(reader);
    reader.U32BE(box.entryCount);
    reader.Bytes(reader.remaining(), box.entries);
    if (reader.failed()) {
        return std::nullopt;
    }
    return box;
}

// The boxes inside a sample entry follow its fixed fields, whose length the track's handler tells; none for
// other handlers or when the fields are cut short.
inline std::optional<std::string_view> SampleEntryBoxes(std::string_view entryPayload,
                                                        std::string_view handlerType) {
    constexpr std::size_t kSampleEntrySize = 8;  // reserved, data_reference_index
    std::size_t fixedSize = 0;
    if (handlerType == "vide") {
        fixedSize = kSampleEntrySize + 70;
    } else if (handlerType == "soun") {
        ByteReader reader(entryPayload);
        std::uint16_t soundVersion = 0;  // QuickTime's sound description versions 1 and 2 are longer
        reader.Skip(kSampleEntrySize);
        reader.U16BE(soundVersion);
        fixedSize = kSampleEntrySize + 20 + (soundVersion == 1 ? 16 : soundVersion == 2 ? 36 : 0);
    } else {
        return std::nullopt;
    }
    if (fixedSize > entryPayload.size()) {
        return std::nullopt;
    }
    return entryPayload.substr(fixedSize);
}

// frma inside sinf: the sample entry's type before protection.
struct OriginalFormatBox {
    std::string_view dataFormat;
};

inline std::optional<OriginalFormatBox> DecodeOriginalFormatBox(std::string_view payload) {
    ByteReader reader(payload);
    OriginalFormatBox box;
    reader.Bytes(4, box.dataFormat);
    if (reader.failed()) {
        return std::nullopt;
    }
    return box;
}

// schm inside sinf.
struct SchemeTypeBox {
    std::string_view schemeType;  // "cenc", "cbcs", …
};

inline std::optional<SchemeTypeBox> DecodeSchemeTypeBox(std::string_view payload) {
    ByteReader reader(payload);
    SchemeTypeBox box;
    ReadFullBoxHeader(reader);
    reader.Bytes(4, box.schemeType);
    if (reader.failed()) {
        return std::nullopt;
    }
    return box;
}

// trex inside mvex: a track's defaults for its fragments.
struct TrackExtendsBox {
    std::uint32_t trackId = 0;
    std::uint32_t defaultSampleDuration = 0;
};

inline std::optional<TrackExtendsBox> DecodeTrackExtendsBox(std::string_view payload) {
    ByteReader reader(payload);
    TrackExtendsBox box;
    ReadFullBoxHeader(reader);
    reader.U32BE(box.trackId);
    reader.Skip(4);  // default_sample_description_index
    reader.U32BE(box.defaultSampleDuration);
    if (reader.failed()) {
        return std::nullopt;
    }
    return box;
}

// mfhd.
struct MovieFragmentHeaderBox {
    std::uint32_t sequenceNumber = 0;
};

inline std::optional<MovieFragmentHeaderBox> DecodeMovieFragmentHeaderBox(std::string_view payload) {
    ByteReader reader(payload);
    MovieFragmentHeaderBox box;
    ReadFullBoxHeader(reader);
    reader.U32BE(box.sequenceNumber);
    if (reader.failed()) {
        return std::nullopt;
    }
    return box;
}

// tfhd: the flags tell which optional fields follow track_ID, in this order.
constexpr std::uint32_t kBaseDataOffsetPresent = 0x000001;
constexpr std::uint32_t kSampleDescriptionIndexPresent = 0x000002;
constexpr std::uint32_t kDefaultSampleDurationPresent = 0x000008;
constexpr std::uint32_t kDefaultSampleSizePresent = 0x000010;
constexpr std::uint32_t kDefaultSampleFlagsPresent = 0x000020;
constexpr std::uint32_t kDurationIsEmpty = 0x010000;
constexpr std::uint32_t kDefaultBaseIsMoof = 0x020000;

struct TrackFragmentHeaderBox {
    FullBoxHeader full;
    std::uint32_t trackId = 0;
    std::optional<std::uint64_t> baseDataOffset;
    std::optional<std::uint32_t> sampleDescriptionIndex;
    std::optional<std::uint32_t> defaultSampleDuration;
    std::optional<std::uint32_t> defaultSampleSize;
    std::optional<std::uint32_t> defaultSampleFlags;
};

template <typename T>
void ReadIfFlagged(ByteReader& reader, std::uint32_t flags, std::uint32_t flag, std::optional<T>& field) {
    if ((flags & flag) == 0) {
        return;
    }
    T value = 0;
    if constexpr (sizeof(T) == 8) {
        reader.U64BE(value);
    } else {
        reader.U32BE(value);
    }
    field = value;
}

inline std::optional<TrackFragmentHeaderBox> DecodeTrackFragmentHeaderBox(std::string_view payload) {
    ByteReader reader(payload);
    TrackFragmentHeaderBox box;
    box.full = ReadFullBoxHeader(reader);
    const std::uint32_t flags = box.full.flags;
    reader.U32BE(box.trackId);
    ReadIfFlagged(reader, flags, kBaseDataOffsetPresent, box.baseDataOffset);
    ReadIfFlagged(reader, flags, kSampleDescriptionIndexPresent, box.sampleDescriptionIndex);
    ReadIfFlagged(reader, flags, kDefaultSampleDurationPresent, box.defaultSampleDuration);
    ReadIfFlagged(reader, flags, kDefaultSampleSizePresent, box.defaultSampleSize);
    ReadIfFlagged(reader, flags, kDefaultSampleFlagsPresent, box.defaultSampleFlags);
    if (reader.failed()) {
        return std::nullopt;
    }
    return box;
}

// tfdt.
struct TrackFragmentBaseMediaDecodeTimeBox {
    std::uint64_t baseMediaDecodeTime = 0;
};

inline std::optional<TrackFragmentBaseMediaDecodeTimeBox> DecodeTrackFragmentBaseMediaDecodeTimeBox(
    std::string_view payload) {
    ByteReader reader(payload);
    TrackFragmentBaseMediaDecodeTimeBox box;
    if (ReadFullBoxHeader(reader).version == 1) {
        reader.U64BE(box.baseMediaDecodeTime);
    } else {
        std::uint32_t baseMediaDecodeTime = 0;
        reader.U32BE(baseMediaDecodeTime);
        box.baseMediaDecodeTime = baseMediaDecodeTime;
    }
    if (reader.failed()) {
        return std::nullopt;
    }
    return box;
}

// trun: the flags tell which optional fields follow sample_count, then which fields each sample record holds.
constexpr std::uint32_t kDataOffsetPresent = 0x000001;
constexpr std::uint32_t kFirstSampleFlagsPresent = 0x000004;
constexpr std::uint32_t kSampleDurationPresent = 0x000100;
constexpr std::uint32_t kSampleSizePresent = 0x000200;
constexpr std::uint32_t kSampleFlagsPresent = 0x000400;
constexpr std::uint32_t kSampleCompositionTimeOffsetPresent = 0x000800;

struct TrackRunBox {
    FullBoxHeader full;
    std::uint32_t sampleCount = 0;
    std::optional<std::uint32_t> dataOffset;  // signed
    std::optional<std::uint32_t> firstSampleFlags;
    std::size_t sampleRecordSize = 0;
    std::string_view samples;  // sampleCount records of sampleRecordSize bytes
};

inline std::size_t TrackRunSampleRecordSize(std::uint32_t flags) {
    std::size_t size = 0;
    for (const std::uint32_t field : {kSampleDurationPresent, kSampleSizePresent, kSampleFlagsPresent,
                                      kSampleCompositionTimeOffsetPresent}) {
        size += (flags & field) != 0 ? 4 : 0;
    }
    return size;
}

inline std::optional<TrackRunBox> DecodeTrackRunBox(std::string_view payload) {
    ByteReader reader(payload);
    TrackRunBox box;
    box.full = ReadFullBoxHeader(reader);
    reader.U32BE(box.sampleCount);
    ReadIfFlagged(reader, box.full.flags, kDataOffsetPresent, box.dataOffset);
    ReadIfFlagged(reader, box.full.flags, kFirstSampleFlagsPresent, box.firstSampleFlags);
    box.sampleRecordSize = TrackRunSampleRecordSize(box.full.flags);
    const std::uint64_t samplesSize = std::uint64_t{box.sampleCount} * box.sampleRecordSize;
    if (reader.failed() || samplesSize > reader.remaining()) {
        return std::nullopt;
    }
    reader.Bytes(static_cast<std::size_t>(samplesSize), box.samples);
    return box;
}

// A trun sample record's sample_duration; none when the run's records carry none.
inline std::optional<std::uint32_t> TrackRunSampleDuration(const TrackRunBox& run, std::uint32_t index) {
    if ((run.full.flags & kSampleDurationPresent) == 0 || index >= run.sampleCount) {
        return std::nullopt;
    }
    ByteReader reader(run.samples);
    std::uint32_t duration = 0;
    reader.Seek(std::size_t{index} * run.sampleRecordSize);
    reader.U32BE(duration);  // the first field of a record
    return duration;
}

}  // namespace drovan::mp4
