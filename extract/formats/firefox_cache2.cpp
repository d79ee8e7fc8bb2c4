#include "extract/formats/firefox_cache2.h"

#include <algorithm>
#include <string>
#include <vector>

#include "extract/ascii.h"
#include "extract/formats/cache_key.h"
#include "extract/formats/checksums.h"
#include "extract/formats/completeness.h"
#include "extract/formats/firefox_format.h"
#include "extract/formats/http_head.h"
#include "extract/name_rules.h"

namespace drovan {
namespace {

constexpr std::size_t kTailRead = 4096;

bool IsEntryName(std::u16string_view name) {
    return name.size() == 40 &&
           std::all_of(name.begin(), name.end(), [](char16_t c) { return HexDigitValue(c) >= 0; });
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

struct Metadata {
    CacheFileMetadata record;
    std::vector<Element> elements;
};

enum class MetadataState { Sound, Absent, Damaged };

// The trailer is undocumented, so the hash settles whether it is there. Bytes that do not even make a header
// are no metadata: Firefox writes it only once the entry is idle.
MetadataState ParseMetadata(std::string_view bytes, std::uint64_t dataEnd, Metadata& result) {
    const std::optional<CacheFileMetadata> metadata = DecodeCacheFileMetadata(bytes, dataEnd);
    if (!metadata) {
        return MetadataState::Absent;
    }
    result.record = *metadata;
    const std::string_view elements = metadata->elements;
    for (std::size_t trailer : {kMetadataTrailerSize, std::size_t{0}}) {
        if (trailer <= elements.size() &&
            Lookup2Hash(metadata->hashed.substr(0, metadata->hashed.size() - trailer)) == metadata->hash) {
            return SplitElements(elements.substr(0, elements.size() - trailer), result.elements)
                       ? MetadataState::Sound
                       : MetadataState::Damaged;
        }
    }
    return MetadataState::Damaged;
}

// The checksums of the chunks that lie wholly in the body: alternative data after it shares its last chunk.
void AddChunkChecksums(std::string_view hashArray, std::uint64_t dataEnd, CacheEntry& entry) {
    std::uint64_t chunk = 0;
    for (std::uint64_t start = 0; start < dataEnd; start += kFirefoxChunkSize, ++chunk) {
        const std::optional<std::uint16_t> hash = DecodeChunkHash(hashArray, chunk);
        const std::uint64_t length = std::min(kFirefoxChunkSize, dataEnd - start);
        if (!hash || start + length > entry.storedSize) {
            break;
        }
        entry.checksums.push_back({StoredChecksum::Kind::Lookup2Low16, start, length, *hash});
    }
}

// The metadata that ends the file, read with the offset that ends it in one read for most entries; tail: a
// buffer of kTailRead bytes, kept from entry to entry so that it is not cleared for each.
MetadataState ReadMetadata(ReadableFile& file, std::uint64_t size, std::string& tail,
                           std::string& longMetadata, std::uint32_t& dataEnd, Metadata& metadata) {
    const std::size_t tailSize = static_cast<std::size_t>(std::min<std::uint64_t>(size, kTailRead));
    tail.resize(kTailRead);
    if (!ReadExactly(file, size - tailSize, tail.data(), tailSize)) {
        return MetadataState::Damaged;
    }
    // A file still being written ends in body bytes, often zeros: an offset they make that leaves no room, or
    // far more than Firefox's metadata ever takes, is no metadata.
    const std::optional<std::uint32_t> offset = DecodeMetadataOffset(std::string_view(tail.data(), tailSize));
    const std::uint64_t metadataEnd = size - kMetadataOffsetSize;
    if (!offset || *offset > metadataEnd || metadataEnd - *offset > kMaxFirefoxMetadata) {
        return MetadataState::Absent;
    }
    dataEnd = *offset;
    const std::size_t metadataSize = static_cast<std::size_t>(metadataEnd - dataEnd);
    const std::size_t tailMetadata = tailSize - kMetadataOffsetSize;
    if (metadataSize <= tailMetadata) {
        return ParseMetadata(std::string_view(tail).substr(tailMetadata - metadataSize, metadataSize),
                             dataEnd, metadata);
    }
    if (!ReadExactly(file, dataEnd, metadataSize, longMetadata)) {
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
    const MetadataState state = *size < kMetadataOffsetSize
                                    ? MetadataState::Absent
                                    : ReadMetadata(*file, *size, tail, longMetadata, dataEnd, parsed);
    if (state != MetadataState::Sound) {
        read.inUse = state == MetadataState::Absent;
        return read;
    }
    CacheEntry& entry = read.entry.emplace();
    entry.kind = CacheKind::FirefoxCache2;
    entry.key = std::string(parsed.record.key);
    entry.url = UrlFromFirefoxKey(entry.key);
    if (parsed.record.header.lastFetched != 0) {
        entry.storedTime = parsed.record.header.lastFetched;
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
    AddChunkChecksums(parsed.record.hashArray, dataEnd, entry);
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
        if (!IsEntryName(item.name)) {
            continue;
        }
        if (item.isDirectory || item.isReparsePoint || item.isSpecial) {
            ++report.notRegular;  // not the cache's own file: never read
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
