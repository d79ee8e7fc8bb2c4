#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string_view>
#include <vector>

#include "extract/file_system.h"
#include "extract/formats/cache_entry.h"

namespace drovan {

struct KeptFile;

// Keeps the files read last open a little longer: the look at an entry just read finds its file open.
class KeptFiles final : public ForwardingFileSystem {
  public:
    explicit KeptFiles(FileSystem& fs) : ForwardingFileSystem(fs) {}

    // The least recently used file makes room.
    std::unique_ptr<ReadableFile> OpenForReading(std::u16string_view path) override;

  private:
    // An entry's record, its body's file and a blockfile cache's block files.
    static constexpr std::size_t kKeptFiles = 4;
    std::vector<std::shared_ptr<KeptFile>> m_kept;
};

// The stored bytes the entries of one cache stand for, by the file that holds them whatever its name: hard
// links in a copied cache would otherwise make one stored body (a gzip bomb) be decoded and written once per
// link.
class StoredBytesClaims {
  public:
    // False when a piece lies in bytes an entry already claimed; nothing is claimed then.
    bool Claim(FileSystem& fs, const CacheEntry& entry);

  private:
    static void ClaimRun(std::map<std::uint64_t, std::uint64_t>& claimed, std::uint64_t start,
                         std::uint64_t end);
    std::map<FileIdentity, std::map<std::uint64_t, std::uint64_t>> m_claimed;  // start -> end
};

}  // namespace drovan
