#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "extract/formats/byte_reader.h"
#include "extract/formats/mp4_box.h"

namespace drovan::mp4 {

// The fields a merge of fragmented tracks rewrites, each read with where it lies in its box's payload, so
// that a new value goes over the old one and the box keeps its size.

struct PayloadField {
    std::size_t offset = 0;
    std::size_t size = 0;  // 4 or 8
    std::uint64_t value = 0;
};

inline PayloadField ReadField(ByteReader& reader, std::size_t size) {
    PayloadField field;
    field.offset = reader.position();
    field.size = size;
    if (size == 8) {
        reader.U64BE(field.value);
    } else {
        std::uint32_t value = 0;
        reader.U32BE(value);
        field.value = value;
    }
    return field;
}

// False when value does not fit the field's width or the field lies past the payload.
inline bool WriteField(char* payload, std::size_t payloadSize, const PayloadField& field,
                       std::uint64_t value) {
    if (field.offset > payloadSize || field.size > payloadSize - field.offset ||
        (field.size < 8 && value >> (8 * field.size) != 0)) {
        return false;
    }
    for (std::size_t i = 0; i < field.size; ++i) {
        payload[field.offset + i] = static_cast<char>(value >> (8 * (field.size - 1 - i)));
    }
    return true;
}

// mvhd.
struct MovieHeaderFields {
    PayloadField timescale;
    PayloadField duration;
    PayloadField nextTrackId;
};

inline std::optional<MovieHeaderFields> DecodeMovieHeaderFields(std::string_view payload) {
    ByteReader reader(payload);
    MovieHeaderFields fields;
    const std::size_t timeSize = ReadFullBoxHeader(reader).version == 1 ? 8 : 4;
    reader.Skip(2 * timeSize);  // creation_time, modification_time
    fields.timescale = ReadField(reader, 4);
    fields.duration = ReadField(reader, timeSize);
    reader.Skip(4 + 2 + 10 + 36 + 24);  // rate, volume, reserved, matrix, pre_defined
    fields.nextTrackId = ReadField(reader, 4);
    if (reader.failed()) {
        return std::nullopt;
    }
    return fields;
}

// mehd inside mvex.
inline std::optional<PayloadField> DecodeFragmentDurationField(std::string_view payload) {
    ByteReader reader(payload);
    const std::size_t durationSize = ReadFullBoxHeader(reader).version == 1 ? 8 : 4;
    const PayloadField duration = ReadField(reader, durationSize);
    if (reader.failed()) {
        return std::nullopt;
    }
    return duration;
}

// tkhd's track_ID.
inline std::optional<PayloadField> DecodeTrackHeaderIdField(std::string_view payload) {
    ByteReader reader(payload);
    const std::size_t timeSize = ReadFullBoxHeader(reader).version == 1 ? 8 : 4;
    reader.Skip(2 * timeSize);  // creation_time, modification_time
    const PayloadField trackId = ReadField(reader, 4);
    if (reader.failed()) {
        return std::nullopt;
    }
    return trackId;
}

// The first field after version and flags: trex's track_ID, mfhd's sequence_number.
inline std::optional<PayloadField> DecodeLeadingField(std::string_view payload) {
    ByteReader reader(payload);
    ReadFullBoxHeader(reader);
    const PayloadField field = ReadField(reader, 4);
    if (reader.failed()) {
        return std::nullopt;
    }
    return field;
}

// tfhd's track_ID and base_data_offset, which follows it when flagged.
struct TrackFragmentHeaderFields {
    PayloadField trackId;
    std::optional<PayloadField> baseDataOffset;
};

inline std::optional<TrackFragmentHeaderFields> DecodeTrackFragmentHeaderFields(std::string_view payload) {
    ByteReader reader(payload);
    TrackFragmentHeaderFields fields;
    const std::uint32_t flags = ReadFullBoxHeader(reader).flags;
    fields.trackId = ReadField(reader, 4);
    if ((flags & kBaseDataOffsetPresent) != 0) {
        fields.baseDataOffset = ReadField(reader, 8);
    }
    if (reader.failed()) {
        return std::nullopt;
    }
    return fields;
}

// tfdt's baseMediaDecodeTime.
inline std::optional<PayloadField> DecodeBaseMediaDecodeTimeField(std::string_view payload) {
    ByteReader reader(payload);
    const PayloadField time = ReadField(reader, ReadFullBoxHeader(reader).version == 1 ? 8 : 4);
    if (reader.failed()) {
        return std::nullopt;
    }
    return time;
}

// trun's data_offset and its first sample's sample_size, when the run carries both.
struct TrackRunFirstSampleFields {
    PayloadField dataOffset;
    PayloadField firstSampleSize;
};

inline std::optional<TrackRunFirstSampleFields> DecodeTrackRunFirstSampleFields(std::string_view payload) {
    ByteReader reader(payload);
    const std::uint32_t flags = ReadFullBoxHeader(reader).flags;
    std::uint32_t sampleCount = 0;
    reader.U32BE(sampleCount);
    if ((flags & kDataOffsetPresent) == 0 || (flags & kSampleSizePresent) == 0 || sampleCount == 0) {
        return std::nullopt;
    }
    TrackRunFirstSampleFields fields;
    fields.dataOffset = ReadField(reader, 4);
    reader.Skip(((flags & kFirstSampleFlagsPresent) != 0 ? 4 : 0) +
                ((flags & kSampleDurationPresent) != 0 ? 4 : 0));
    fields.firstSampleSize = ReadField(reader, 4);
    if (reader.failed()) {
        return std::nullopt;
    }
    return fields;
}

}  // namespace drovan::mp4
