#pragma once

// Writes small Chromium blockfile caches for the reader's tests and the fuzz seeds.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "extract/formats/chromium_blockfile.h"
#include "extract/formats/chromium_simple.h"
#include "tests/support/cache_builders.h"
#include "tests/support/memory_file_system.h"

namespace drovan::tests {

inline void PutU32(std::string& bytes, std::size_t offset, std::uint32_t value) {
    if (bytes.size() < offset + 4) {
        bytes.resize(offset + 4, '\0');
    }
    for (int i = 0; i < 4; ++i) {
        bytes[offset + i] = static_cast<char>(value >> (8 * i));
    }
}

inline void PutU64(std::string& bytes, std::size_t offset, std::uint64_t value) {
    PutU32(bytes, offset, static_cast<std::uint32_t>(value));
    PutU32(bytes, offset + 4, static_cast<std::uint32_t>(value >> 32));
}

// Stream 0 as Chromium pickles a response, from "\n"-separated header lines.
inline std::string BlockfileResponseInfo(const std::string& headLines, bool truncated = false) {
    return ResponseInfo(RawHeaders(headLines), truncated);
}

// Stream 2 of a sparse parent or child: the 64-byte header and a bitmap.
inline std::string SparseStream(std::uint64_t signature, std::size_t keyLength, const std::string& bitmap,
                                std::int32_t lastBlock = -1, std::int32_t lastBlockLength = 0) {
    std::string stream(64, '\0');
    PutU64(stream, 0, signature);
    PutU32(stream, 8, blockfile::kIndexMagic);
    PutU32(stream, 12, static_cast<std::uint32_t>(keyLength));
    PutU32(stream, 16, static_cast<std::uint32_t>(lastBlock));
    PutU32(stream, 20, static_cast<std::uint32_t>(lastBlockLength));
    return stream + bitmap;
}

// A bitmap of bits bits with [first, end) set.
inline std::string Bits(std::size_t bits, std::size_t first, std::size_t end) {
    std::string bitmap(bits / 8, '\0');
    for (std::size_t bit = first; bit < end; ++bit) {
        bitmap[bit / 8] = static_cast<char>(bitmap[bit / 8] | (1 << (bit % 8)));
    }
    return bitmap;
}

struct EntryParts {
    std::string key;
    std::string stream0;
    std::string stream1;
    std::string stream2;
    std::uint32_t flags = 0;
    std::uint32_t state = 0;
    std::uint32_t dirty = 0;
    bool longKey = false;  // the key in a record of its own even when it would fit inline
};

inline EntryParts Plain(std::string key, std::string stream0, std::string stream1) {
    EntryParts parts;
    parts.key = std::move(key);
    parts.stream0 = std::move(stream0);
    parts.stream1 = std::move(stream1);
    return parts;
}

class BlockfileBuilder {
  public:
    static constexpr std::uint32_t kTableLength = 64;

    BlockfileBuilder() {
        const std::size_t sizes[] = {36, 256, 1024, 4096};
        for (std::uint32_t n = 0; n < 4; ++n) {
            m_blockFiles[n].blockSize = sizes[n];
        }
    }

    static std::uint32_t BlockAddress(std::uint32_t file, std::uint32_t start, std::uint32_t count) {
        const std::uint32_t type = file + 1;  // data_0 holds rankings (type 1), data_3 4 KiB blocks (type 4)
        return 0x80000000u | type << 28 | (count - 1) << 24 | file << 16 | start;
    }

    // count blocks in data_file, marked allocated.
    std::uint32_t Allocate(std::uint32_t file, std::uint32_t count) {
        BlockFile& blocks = m_blockFiles[file];
        const std::uint32_t start = blocks.used;
        blocks.used += count;
        blocks.records.resize(blocks.used * blocks.blockSize, '\0');
        return BlockAddress(file, start, count);
    }

    void WriteRecord(std::uint32_t address, const std::string& bytes) {
        const std::uint32_t file = (address >> 16) & 0xFF;
        BlockFile& blocks = m_blockFiles[file];
        blocks.records.replace((address & 0xFFFF) * blocks.blockSize, bytes.size(), bytes);
    }

    std::uint32_t AddExternal(const std::string& bytes) {
        const std::uint32_t number = ++m_lastExternal;
        m_externals[number] = bytes;
        return 0x80000000u | number;
    }

    // Where Chromium puts a stream of that size: block files up to 16 KiB, else an f_ file.
    std::uint32_t AddStream(const std::string& bytes) {
        if (bytes.empty()) {
            return 0;
        }
        if (bytes.size() > 16384) {
            return AddExternal(bytes);
        }
        const std::uint32_t file = bytes.size() < 1024 ? 1 : bytes.size() < 4096 ? 2 : 3;
        const std::size_t blockSize = m_blockFiles[file].blockSize;
        const std::uint32_t address =
            Allocate(file, static_cast<std::uint32_t>((bytes.size() + blockSize - 1) / blockSize));
        WriteRecord(address, bytes);
        return address;
    }

    // The EntryStore bytes for parts, its streams and key stored; not yet linked anywhere.
    std::string EntryRecord(const EntryParts& parts, std::uint32_t& address) {
        const bool inlineKey = !parts.longKey && parts.key.size() <= 927;
        const std::uint32_t blocks = inlineKey && parts.key.size() >= 160
                                         ? static_cast<std::uint32_t>((parts.key.size() - 160) / 256 + 2)
                                         : 1;
        address = Allocate(1, blocks);
        std::string record(256 * blocks, '\0');
        const std::uint32_t rankings = Allocate(0, 1);
        std::string node(36, '\0');
        PutU32(node, 24, address);
        PutU32(node, 28, parts.dirty);
        WriteRecord(rankings, node);
        PutU32(record, 0, SuperFastHash(parts.key));
        PutU32(record, 8, rankings);
        PutU32(record, 20, parts.state);
        PutU32(record, 32, static_cast<std::uint32_t>(parts.key.size()));
        if (inlineKey) {
            record.replace(96, parts.key.size(), parts.key);
        } else {
            PutU32(record, 36, AddStream(parts.key + '\0'));
        }
        const std::string* streams[] = {&parts.stream0, &parts.stream1, &parts.stream2};
        for (int i = 0; i < 3; ++i) {
            PutU32(record, 40 + 4 * i, static_cast<std::uint32_t>(streams[i]->size()));
            PutU32(record, 56 + 4 * i, AddStream(*streams[i]));
        }
        PutU32(record, 72, parts.flags);
        return record;
    }

    // Stores the entry at the head of its bucket's chain; returns its address.
    std::uint32_t AddEntry(const EntryParts& parts) {
        std::uint32_t address = 0;
        std::string record = EntryRecord(parts, address);
        const std::uint32_t bucket = SuperFastHash(parts.key) & (kTableLength - 1);
        PutU32(record, 4, m_table[bucket]);
        m_table[bucket] = address;
        WriteRecord(address, record);
        ++m_entryCount;
        return address;
    }

    // Field at offset of the record at address (an EntryStore's next, sizes, ...).
    void Patch(std::uint32_t address, std::size_t offset, std::uint32_t value) {
        std::string& records = m_blockFiles[(address >> 16) & 0xFF].records;
        const std::size_t at = (address & 0xFFFF) * m_blockFiles[(address >> 16) & 0xFF].blockSize + offset;
        PutU32(records, at, value);
    }

    std::uint32_t Field(std::uint32_t address, std::size_t offset) const {
        const BlockFile& blocks = m_blockFiles.at((address >> 16) & 0xFF);
        const std::size_t at = (address & 0xFFFF) * blocks.blockSize + offset;
        std::uint32_t value = 0;
        for (int i = 3; i >= 0; --i) {
            value = value << 8 | static_cast<unsigned char>(blocks.records[at + i]);
        }
        return value;
    }

    std::uint32_t& Slot(std::uint32_t bucket) { return m_table[bucket]; }
    std::string& External(std::uint32_t number) { return m_externals[number]; }

    std::string IndexFile() const {
        std::string index(blockfile::kIndexHeaderSize + 4 * kTableLength, '\0');
        PutU32(index, 0, blockfile::kIndexMagic);
        PutU32(index, 4, 0x30000);
        PutU32(index, 8, m_entryCount);
        PutU32(index, 16, m_lastExternal);
        PutU32(index, 28, kTableLength);
        for (const auto& [bucket, address] : m_table) {
            PutU32(index, blockfile::kIndexHeaderSize + 4 * bucket, address);
        }
        return index;
    }

    std::string BlockFileBytes(std::uint32_t number) const {
        const BlockFile& blocks = m_blockFiles.at(number);
        std::string file(blockfile::kBlockFileHeaderSize, '\0');
        PutU32(file, 0, blockfile::kBlockFileMagic);
        PutU32(file, 4, blockfile::kBlockFileVersion);
        PutU32(file, 8, number);
        PutU32(file, 12, static_cast<std::uint32_t>(blocks.blockSize));
        PutU32(file, 20, blocks.used);
        for (std::uint32_t block = 0; block < blocks.used; ++block) {
            file[80 + block / 8] = static_cast<char>(file[80 + block / 8] | (1 << (block % 8)));
        }
        return file + blocks.records;
    }

    std::map<std::u16string, std::string> Files() const {
        std::map<std::u16string, std::string> files;
        files[u"index"] = IndexFile();
        for (const auto& [number, blocks] : m_blockFiles) {
            files[blockfile::BlockFileName(number)] = BlockFileBytes(number);
        }
        for (const auto& [number, bytes] : m_externals) {
            files[blockfile::ExternalFileName(number)] = bytes;
        }
        return files;
    }

    void Install(MemoryFileSystem& fs, const std::u16string& folder) const {
        for (auto& [name, bytes] : Files()) {
            fs.AddFile(folder + u"/" + name, bytes);
        }
    }

  private:
    struct BlockFile {
        std::size_t blockSize = 0;
        std::uint32_t used = 0;
        std::string records;
    };
    std::map<std::uint32_t, BlockFile> m_blockFiles;
    std::map<std::uint32_t, std::string> m_externals;
    std::map<std::uint32_t, std::uint32_t> m_table;
    std::uint32_t m_lastExternal = 0;
    std::uint32_t m_entryCount = 0;
};

}  // namespace drovan::tests
