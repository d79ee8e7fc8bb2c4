// Every record decoder of the three cache formats on the same bytes, composed as the readers compose them: an
// entry's inline key from its EntryStore, a Firefox file's metadata from the offset that ends it.

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "extract/formats/blockfile_format.h"
#include "extract/formats/firefox_format.h"
#include "extract/formats/simple_format.h"

namespace {

using namespace drovan;

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// A decoded view lies inside the bytes it was decoded from.
bool Within(std::string_view part, std::string_view bytes) {
    return part.data() >= bytes.data() && part.size() <= bytes.size() &&
           static_cast<std::size_t>(part.data() - bytes.data()) <= bytes.size() - part.size();
}

void DecodeBlockfile(std::string_view bytes) {
    using namespace blockfile;
    Require(!DecodeIndexHeader(bytes) || bytes.size() >= kIndexHeaderSize);
    if (const auto header = DecodeBlockFileHeader(bytes)) {
        Require(bytes.size() >= kBlockFileHeaderSize && Within(header->allocationMap, bytes) &&
                header->allocationMap.size() == kMaxBlocksPerFile / 8);
    }
    if (const auto entry = DecodeEntryStore(bytes)) {
        Require(bytes.size() >= kEntryStoreSize);
        if (const auto key = DecodeInlineKey(bytes, entry->keyLength)) {
            Require(Within(*key, bytes) && key->size() == entry->keyLength &&
                    key->data() == bytes.data() + kEntryKeyOffset &&
                    kEntryKeyOffset + key->size() < bytes.size());
        }
    }
    Require(!DecodeRankingsNode(bytes) || bytes.size() >= kRankingsNodeSize);
    Require(!DecodeSparseHeader(bytes) || bytes.size() >= kSparseHeaderSize);
}

void DecodeSimple(std::string_view bytes) {
    for (const SimpleLayout& layout : {kSimpleLayout64, kSimpleLayout32}) {
        Require(!DecodeSimpleFileHeader(bytes, layout) || bytes.size() >= layout.header);
        Require(!DecodeSimpleFileEOF(bytes, layout) || bytes.size() >= layout.eof);
        Require(!DecodeSimpleFileSparseRangeHeader(bytes, layout) || bytes.size() >= layout.rangeHeader);
    }
}

void DecodeFirefox(std::string_view file) {
    const auto offset = DecodeMetadataOffset(file);
    if (!offset || *offset > file.size() - kMetadataOffsetSize) {
        return;
    }
    const std::string_view bytes = file.substr(*offset, file.size() - kMetadataOffsetSize - *offset);
    if (const auto header = DecodeCacheFileMetadataHeader(bytes)) {
        Require(header->version != 0 && bytes.size() >= (header->version >= 2 ? 32u : 28u));
    }
    const auto metadata = DecodeCacheFileMetadata(bytes, *offset);
    if (!metadata) {
        return;
    }
    Require(Within(metadata->hashArray, bytes) && Within(metadata->key, bytes) &&
            Within(metadata->elements, bytes));
    Require(metadata->hashArray.size() == 2 * FirefoxChunkCount(*offset));
    Require(metadata->key.size() == metadata->header.keySize && metadata->hashed.size() == bytes.size() - 4);
    Require(metadata->elements.data() + metadata->elements.size() == bytes.data() + bytes.size());
    for (std::uint64_t chunk = 0; chunk <= FirefoxChunkCount(*offset); ++chunk) {
        Require(DecodeChunkHash(metadata->hashArray, chunk).has_value() ==
                (chunk < FirefoxChunkCount(*offset)));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    DecodeBlockfile(bytes);
    DecodeSimple(bytes);
    DecodeFirefox(bytes);
    return 0;
}
