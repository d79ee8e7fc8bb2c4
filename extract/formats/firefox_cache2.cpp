#include "extract/formats/firefox_cache2.h"

#include <algorithm>
#include <string>
#include <vector>

#include "extract/formats/byte_reader.h"
#include "extract/formats/http_head.h"
#include "extract/name_rules.h"

namespace drovan {
namespace {

constexpr std::uint64_t kChunkSize = 262144;
constexpr std::uint32_t kNewestKnownVersion = 4;
constexpr std::size_t kTailRead = 4096;

void Mix(std::uint32_t& a, std::uint32_t& b, std::uint32_t& c) {
    a -= b, a -= c, a ^= c >> 13;
    b -= c, b -= a, b ^= a << 8;
    c -= a, c -= b, c ^= b >> 13;
    a -= b, a -= c, a ^= c >> 12;
    b -= c, b -= a, b ^= a << 16;
    c -= a, c -= b, c ^= b >> 5;
    a -= b, a -= c, a ^= c >> 3;
    b -= c, b -= a, b ^= a << 10;
    c -= a, c -= b, c ^= b >> 15;
}

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

struct Metadata {
    std::string_view key;
    std::vector<Element> elements;
};

// metadata is [M, size - 4): hash, chunk hashes, header, key, elements and, from version 4 on, a 4-byte
// trailer outside the hash. The trailer is undocumented, so whether it is there is settled by the hash where
// the hash allows; after that the version's own ending is tried first. A version above the known ones is
// trusted only with a matching hash.
std::optional<Metadata> ParseMetadata(std::string_view metadata, std::uint64_t bodyEnd) {
    ByteReader reader(metadata);
    std::uint32_t hash = 0;
    std::uint32_t version = 0;
    const std::uint64_t chunks = (bodyEnd + kChunkSize - 1) / kChunkSize;
    if (!reader.U32BE(hash) || !reader.Skip(static_cast<std::size_t>(2 * chunks)) || !reader.U32BE(version) ||
        version == 0) {
        return std::nullopt;
    }
    std::uint32_t keySize = 0;
    std::string_view key;
    std::uint8_t keyEnd = 0xFF;
    const std::size_t fieldsBeforeKeySize = 5 * 4;
    if (!reader.Skip(fieldsBeforeKeySize) || !reader.U32BE(keySize) || (version >= 2 && !reader.Skip(4)) ||
        !reader.Bytes(keySize, key) || !reader.U8(keyEnd) || keyEnd != 0) {
        return std::nullopt;
    }
    const std::size_t elementsStart = reader.position();
    const std::size_t withoutTrailer = metadata.size();
    const std::size_t withTrailer = metadata.size() >= 4 ? metadata.size() - 4 : 0;
    const std::size_t ends[2] = {version >= 4 ? withTrailer : withoutTrailer,
                                 version >= 4 ? withoutTrailer : withTrailer};
    Metadata result{key, {}};
    const int passes = version > kNewestKnownVersion ? 1 : 2;
    for (int pass = 0; pass < passes; ++pass) {
        const bool hashMustMatch = pass == 0;
        for (std::size_t end : ends) {
            if (end < elementsStart) {
                continue;
            }
            if (hashMustMatch && Lookup2Hash(metadata.substr(4, end - 4)) != hash) {
                continue;
            }
            if (SplitElements(metadata.substr(elementsStart, end - elementsStart), result.elements)) {
                return result;
            }
        }
    }
    return std::nullopt;
}

// tail: a buffer of kTailRead bytes, kept from entry to entry so that it is not cleared for each.
std::optional<CacheEntry> ReadEntry(FileSystem& fs, const std::u16string& path, std::string& tail) {
    const std::unique_ptr<ReadableFile> file = fs.OpenForReading(path);
    if (!file) {
        return std::nullopt;
    }
    const std::optional<std::uint64_t> size = file->Size();
    if (!size || *size < 4) {
        return std::nullopt;
    }
    // The metadata of most entries fits in the file's last few KiB: one read takes it with the offset that
    // ends the file.
    const std::size_t tailSize = static_cast<std::size_t>(std::min<std::uint64_t>(*size, kTailRead));
    tail.resize(kTailRead);
    std::size_t got = 0;
    if (!file->ReadAt(*size - tailSize, tail.data(), tailSize, got) || got != tailSize) {
        return std::nullopt;
    }
    std::uint32_t bodyEnd = 0;
    ByteReader(reinterpret_cast<const unsigned char*>(tail.data()) + tailSize - 4, 4).U32BE(bodyEnd);
    if (bodyEnd > *size - 4 || *size - 4 - bodyEnd > kMaxFirefoxMetadata) {
        return std::nullopt;
    }
    const std::size_t metadataSize = static_cast<std::size_t>(*size - 4 - bodyEnd);
    std::string longMetadata;
    std::string_view metadata;
    if (metadataSize <= tailSize - 4) {
        metadata = std::string_view(tail).substr(tailSize - 4 - metadataSize, metadataSize);
    } else {
        longMetadata.assign(metadataSize, '\0');
        if (!file->ReadAt(bodyEnd, longMetadata.data(), longMetadata.size(), got) ||
            got != longMetadata.size()) {
            return std::nullopt;
        }
        metadata = longMetadata;
    }
    const std::optional<Metadata> parsed = ParseMetadata(metadata, bodyEnd);
    if (!parsed) {
        return std::nullopt;
    }
    CacheEntry entry;
    entry.kind = CacheKind::FirefoxCache2;
    entry.key = std::string(parsed->key);
    entry.url = UrlFromFirefoxKey(entry.key);
    std::uint64_t bodySize = bodyEnd;
    for (const Element& element : parsed->elements) {
        if (element.name == "response-head") {
            if (const std::optional<HttpHead> head = ParseHeaderLines(element.value)) {
                ApplyHead(*head, entry);
            }
        } else if (element.name == "alt-data") {
            const std::optional<std::uint64_t> offset = AltDataOffset(element.value);
            if (!offset || *offset > bodyEnd) {
                return std::nullopt;
            }
            bodySize = *offset;
        }
    }
    if (bodySize > 0) {
        entry.pieces.push_back(BodyPiece{path, 0, bodySize, 0});
    }
    entry.storedSize = bodySize;
    DecideCompleteness(entry);
    return entry;
}

}  // namespace

std::uint32_t Lookup2Hash(std::string_view bytes) {
    const auto* k = reinterpret_cast<const unsigned char*>(bytes.data());
    auto word = [](const unsigned char* p) {
        return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
               static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
    };
    std::uint32_t a = 0x9E3779B9;
    std::uint32_t b = 0x9E3779B9;
    std::uint32_t c = 0;
    std::size_t left = bytes.size();
    for (; left >= 12; left -= 12, k += 12) {
        a += word(k);
        b += word(k + 4);
        c += word(k + 8);
        Mix(a, b, c);
    }
    c += static_cast<std::uint32_t>(bytes.size());
    // The tail: bytes 8-10 into c above its low byte (that holds the length), 4-7 into b, 0-3 into a.
    for (std::size_t i = left; i-- > 0;) {
        const std::uint32_t byte = k[i];
        if (i >= 8) {
            c += byte << (8 * (i - 7));
        } else if (i >= 4) {
            b += byte << (8 * (i - 4));
        } else {
            a += byte << (8 * i);
        }
    }
    Mix(a, b, c);
    return c;
}

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
        std::optional<CacheEntry> entry = ReadEntry(fs, JoinPath(entries, item.name, fs.Separator()), tail);
        if (!DeliverEntry(entry, report, sink)) {
            break;
        }
    }
    return report;
}

}  // namespace drovan
