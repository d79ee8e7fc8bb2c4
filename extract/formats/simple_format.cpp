#include "extract/formats/simple_format.h"

#include "extract/formats/byte_reader.h"

namespace drovan {

std::optional<SimpleFileHeader> DecodeSimpleFileHeader(std::string_view bytes, const SimpleLayout& layout) {
    ByteReader reader(bytes);
    SimpleFileHeader header;
    std::uint64_t magic = 0;
    reader.U64LE(magic);
    reader.U32LE(header.version);
    reader.U32LE(header.keyLength);
    reader.U32LE(header.keyHash);
    reader.Seek(layout.header);
    if (reader.failed() || magic != kSimpleInitialMagic) {
        return std::nullopt;
    }
    return header;
}

std::optional<SimpleFileEOF> DecodeSimpleFileEOF(std::string_view bytes, const SimpleLayout& layout) {
    ByteReader reader(bytes);
    SimpleFileEOF eof;
    std::uint64_t magic = 0;
    reader.U64LE(magic);
    reader.U32LE(eof.flags);
    reader.U32LE(eof.dataCrc32);
    reader.U32LE(eof.streamSize);
    reader.Seek(layout.eof);
    if (reader.failed() || magic != kSimpleFinalMagic) {
        return std::nullopt;
    }
    return eof;
}

std::optional<SimpleFileSparseRangeHeader> DecodeSimpleFileSparseRangeHeader(std::string_view bytes,
                                                                             const SimpleLayout& layout) {
    ByteReader reader(bytes);
    SimpleFileSparseRangeHeader range;
    std::uint64_t magic = 0;
    reader.U64LE(magic);
    reader.U64LE(range.offset);
    reader.U64LE(range.length);
    reader.U32LE(range.dataCrc32);
    reader.Seek(layout.rangeHeader);
    if (reader.failed() || magic != kSimpleSparseRangeMagic) {
        return std::nullopt;
    }
    return range;
}

}  // namespace drovan
