#include "extract/formats/firefox_cache2.h"

#include <algorithm>
#include <string>
#include <vector>

#include "extract/formats/byte_reader.h"
#include "extract/formats/checksums.h"
#include "extract/formats/http_head.h"
#include "extract/name_rules.h"

namespace drovan {
namespace {

constexpr std::uint64_t kChunkSize = 262144;
constexpr std::size_t kTailRead = 4096;

bool IsEntryName(std::u16string_view name) {
    if (name.size() != 40) {
        return false;
    }
    for (char16_t c : name) {
        const bool hex = (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f');
        if (!hex) {
            return false;
        }
    }
    return true;
}

struct Element {
    std::string_view name;
    std::string_view value;
};

// name\0value\0 pairs filling the text exactly.
bool SplitElements(std::string_view text, std::vector<Element>& elements) {
    elements.clear();
    while (!text.empty()) {
        const std::size_t nameEnd = text.find('\0');
        if (nameEnd == std::string_view::npos) {
            return false;
        }
        const std::size_t valueEnd = text.find('\0', nameEnd + 1);
        if (valueEnd == std::string_view::npos) {
            return false;
        }
        elements.push_back({text.substr(0, nameEnd), text.substr(nameEnd + 1, valueEnd - nameEnd - 1)});
        text.remove_prefix(valueEnd + 1);
    }
    return true;
}

// "1;<offset>,<type>": alternative data (compiled scripts) follows the body from offset on.
std::optional<std::uint64_t> AltDataOffset(std::string_view value) {
    const std::size_t semicolon = value.find(';');
    const std::size_t comma = value.find(',');
    if (semicolon == std::string_view::npos || comma == std::string_view::npos || comma <= semicolon + 1 ||
        comma - semicolon - 1 > 19) {
        return std::nullopt;
    }
    std::uint64_t offset = 0;
    for (char c : value.substr(semicolon + 1, comma - semicolon - 1)) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        offset = offset * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return offset;
}

// CacheFileMetadataHeader; version 1 lacks the flags.
struct CacheFileMetadataHeader {
    std::uint32_t version = 0;
    std::uint32_t fetchCount = 0;
    std::uint32_t lastFetched = 0;  // seconds since 1970
    std::uint32_t lastModified = 0;
    std::uint32_t frecency = 0;
    std::uint32_t expirationTime = 0;
    std::uint32_t keySize = 0;
    std::uint32_t flags = 0;
};

bool DecodeHeader(ByteReader& reader, CacheFileMetadataHeader& header) {
    return reader.U32BE(header.version) && header.version != 0 && reader.U32BE(header.fetchCount) &&
           reader.U32BE(header.lastFetched) && reader.U32BE(header.lastModified) &&
           reader.U32BE(header.frecency) && reader.U32BE(header.expirationTime) &&
           reader.U32BE(header.keySize) && (header.version < 2 || reader.U32BE(header.flags));
}

struct Metadata {
    CacheFileMetadataHeader header;
    std::string_view key;
    std::vector<Element> elements;
    std::string_view chunkHashes;  // one u16 BE per chunk of the data
};

enum class MetadataState { Sound, Absent, Damaged };

// metadata is [M, size - 4): hash, chunk hashes, header, key, elements and, from version 4 on, a 4-byte
// trailer outside the hash. The trailer is undocumented, so the hash settles whether it is there. Bytes that
// do not even make a header are no metadata: Firefox writes it only once the entry is idle.
MetadataState ParseMetadata(std::string_view metadata, std::uint64_t dataEnd, Metadata& result) {
    ByteReader reader(metadata);
    std::uint32_t hash = 0;
    const std::uint64_t chunks = (dataEnd + kChunkSize - 1) / kChunkSize;
    std::uint8_t keyEnd = 0xFF;
    if (!reader.U32BE(hash) || !reader.Bytes(static_cast<std::size_t>(2 * chunks), result.chunkHashes) ||
        !DecodeHeader(reader, result.header) || !reader.Bytes(result.header.keySize, result.key) ||
        !reader.U8(keyEnd) || keyEnd != 0) {
        return MetadataState::Absent;
    }
    const std::size_t elementsStart = reader.position();
    const std::size_t withTrailer = metadata.size() >= 4 ? metadata.size() - 4 : 0;
    for (std::size_t end : {withTrailer, metadata.size()}) {
        if (end >= elementsStart && Lookup2Hash(metadata.substr(4, end - 4)) == hash) {
            return SplitElements(metadata.substr(elementsStart, end - elementsStart), result.elements)
                       ? MetadataState::Sound
                       : MetadataState::Damaged;
        }
    }
    return MetadataState::Damaged;
}

// The checksums of the chunks that lie wholly in the body: alternative data after it shares its last chunk.
void AddChunkChecksums(std::string_view chunkHashes, std::uint64_t dataEnd, CacheEntry& entry) {
    ByteReader reader(chunkHashes);
    std::uint16_t hash = 0;
    for (std::uint64_t start = 0; start < dataEnd && reader.U16BE(hash); start += kChunkSize) {
        const std::uint64_t length = std::min(kChunkSize, dataEnd - start);
        if (start + length > entry.storedSize) {
            break;
        }
        entry.checksums.push_back({StoredChecksum::Kind::Lookup2Low16, start, length, hash});
    }
}

// The metadata that ends the file, read with the offset that ends it in one read for most entries; tail: a
// buffer of kTailRead bytes, kept from entry to entry so that it is not cleared for each.
MetadataState ReadMetadata(ReadableFile& file, std::uint64_t size, std::string& tail,
                           std::string& longMetadata, std::uint32_t& dataEnd, Metadata& metadata) {
    const std::size_t tailSize = static_cast<std::size_t>(std::min<std::uint64_t>(size, kTailRead));
    tail.resize(kTailRead);
    std::size_t got = 0;
    if (!file.ReadAt(size - tailSize, tail.data(), tailSize, got) || got != tailSize) {
        return MetadataState::Damaged;
    }
    // A file still being written ends in body bytes, often zeros: an offset they make that leaves no room, or
    // far more than Firefox's metadata ever takes, is no metadata.
    ByteReader(std::string_view(tail).substr(tailSize - 4, 4)).U32BE(dataEnd);
    if (dataEnd > size - 4 || size - 4 - dataEnd > kMaxFirefoxMetadata) {
        return MetadataState::Absent;
    }
    const std::size_t metadataSize = static_cast<std::size_t>(size - 4 - dataEnd);
    if (metadataSize <= tailSize - 4) {
        return ParseMetadata(std::string_view(tail).substr(tailSize - 4 - metadataSize, metadataSize),
                             dataEnd, metadata);
    }
    longMetadata.assign(metadataSize, '\0');
    if (!file.ReadAt(dataEnd, longMetadata.data(), longMetadata.size(), got) || got != longMetadata.size()) {
        return MetadataState::Damaged;
    }
    return ParseMetadata(longMetadata, dataEnd, metadata);
}

RecordRead ReadEntry(FileSystem& fs, const std::u16string& path, std::string& tail) {
    RecordRead read;
    const std::unique_ptr<ReadableFile> file = fs.OpenForReading(path);
    const std::optional<std::uint64_t> size = file ? file->Size() : std::nullopt;
    if (!size) {
        return read;
    }
    std::string longMetadata;
    std::uint32_t dataEnd = 0;
    Metadata parsed;
    const MetadataState state =
        *size < 4 ? MetadataState::Absent : ReadMetadata(*file, *size, tail, longMetadata, dataEnd, parsed);
    if (state != MetadataState::Sound) {
        read.inUse = state == MetadataState::Absent;
        return read;
    }
    CacheEntry& entry = read.entry.emplace();
    entry.kind = CacheKind::FirefoxCache2;
    entry.key = std::string(parsed.key);
    entry.url = UrlFromFirefoxKey(entry.key);
    if (parsed.header.lastFetched != 0) {
        entry.storedTime = parsed.header.lastFetched;
    }
    entry.storedSize = dataEnd;
    for (const Element& element : parsed.elements) {
        if (element.name == "response-head") {
            if (const std::optional<HttpHead> head = ParseHeaderLines(element.value)) {
                ApplyHead(*head, entry);
            }
        } else if (element.name == "alt-data") {
            const std::optional<std::uint64_t> offset = AltDataOffset(element.value);
            if (!offset || *offset > dataEnd) {
                read.entry.reset();
                return read;
            }
            entry.storedSize = *offset;
        }
    }
    if (entry.storedSize > 0) {
        entry.pieces.push_back(BodyPiece{path, 0, entry.storedSize, 0});
    }
    AddChunkChecksums(parsed.chunkHashes, dataEnd, entry);
    DecideCompleteness(entry);
    return read;
}

}  // namespace

CacheReadReport ReadFirefoxCache2(FileSystem& fs, std::u16string_view folder, const CacheEntrySink& sink) {
    CacheReadReport report;
    std::u16string entries = JoinPath(folder, u"entries", fs.Separator());
    if (!fs.IsDirectory(entries)) {
        entries = std::u16string(folder);
    }
    const std::unique_ptr<DirectoryListing> listing = fs.OpenDirectory(entries);
    if (!listing) {
        ++report.damaged;  // a link out of the cache, or a folder that cannot be read
        return report;
    }
    DirectoryEntry item;
    std::string tail;
    while (listing->Next(item)) {
        if (item.isDirectory || !IsEntryName(item.name)) {
            continue;
        }
        if (item.isReparsePoint || item.isSpecial) {
            ++report.damaged;  // not the cache's own file: never read
            continue;
        }
        RecordRead read = ReadEntry(fs, JoinPath(entries, item.name, fs.Separator()), tail);
        if (!DeliverRecord(read, report, sink)) {
            break;
        }
    }
    return report;
}

}  // namespace drovan
