#pragma once

// The blockfile fuzz target's input: the cache's files in a compact form, so that mutations land on the bytes
// that matter instead of on kilobytes of header padding. A run of chunks [u8 file][u16 LE length][bytes]:
//   index:   its first 64 header bytes, then the hash table (the LRU part of the header is zeros);
//   data_N:  its first 80 header bytes, the first 16 bitmap bytes (128 blocks), then the blocks;
//   f_000001:  [u16 LE count of zeros to append] then its leading bytes.

#include <cstdint>
#include <map>
#include <string>

namespace drovan::fuzz {

constexpr const char16_t* kCacheFileNames[] = {u"index",  u"data_0", u"data_1",
                                               u"data_2", u"data_3", u"f_000001"};
constexpr std::size_t kCacheFileCount = 6;
constexpr std::size_t kIndexHeadKept = 64;
constexpr std::size_t kBlockHeadKept = 80;
constexpr std::size_t kBitmapKept = 16;

inline std::map<std::u16string, std::string> ExpandCacheFiles(const std::uint8_t* data, std::size_t size) {
    std::map<std::u16string, std::string> files;
    std::size_t at = 0;
    while (at + 3 <= size) {
        const std::size_t id = data[at] % kCacheFileCount;
        const std::size_t length = std::min<std::size_t>(data[at + 1] | (data[at + 2] << 8), size - at - 3);
        std::string chunk(reinterpret_cast<const char*>(data + at + 3), length);
        at += 3 + length;
        std::string file;
        if (id == 0) {
            file = chunk.substr(0, kIndexHeadKept);
            if (chunk.size() > kIndexHeadKept) {
                file.resize(368, '\0');
                file += chunk.substr(kIndexHeadKept);
            }
        } else if (id < 5) {
            file = chunk.substr(0, kBlockHeadKept + kBitmapKept);
            if (chunk.size() > kBlockHeadKept + kBitmapKept) {
                file.resize(8192, '\0');
                file += chunk.substr(kBlockHeadKept + kBitmapKept);
            }
        } else if (chunk.size() >= 2) {
            file = chunk.substr(2);
            file.append(static_cast<unsigned char>(chunk[0]) | (static_cast<unsigned char>(chunk[1]) << 8),
                        '\0');
        }
        files[kCacheFileNames[id]] = std::move(file);
    }
    return files;
}

// The inverse, for seeds: files the expansion above can reproduce.
inline std::string CompactCacheFiles(const std::map<std::u16string, std::string>& files) {
    std::string input;
    for (std::size_t id = 0; id < kCacheFileCount; ++id) {
        const auto file = files.find(kCacheFileNames[id]);
        if (file == files.end()) {
            continue;
        }
        std::string chunk;
        if (id == 0) {
            chunk = file->second.substr(0, kIndexHeadKept) + file->second.substr(368);
        } else if (id < 5) {
            chunk = file->second.substr(0, kBlockHeadKept + kBitmapKept) + file->second.substr(8192);
        } else {
            std::size_t zeros = 0;
            while (zeros < 0xFFFF && zeros < file->second.size() &&
                   file->second[file->second.size() - 1 - zeros] == '\0') {
                ++zeros;
            }
            chunk = std::string{static_cast<char>(zeros & 0xFF), static_cast<char>(zeros >> 8)} +
                    file->second.substr(0, file->second.size() - zeros);
        }
        chunk.resize(std::min<std::size_t>(chunk.size(), 0xFFFF));
        input += static_cast<char>(id);
        input += static_cast<char>(chunk.size() & 0xFF);
        input += static_cast<char>(chunk.size() >> 8);
        input += chunk;
    }
    return input;
}

}  // namespace drovan::fuzz
