#pragma once

#include <optional>
#include <string>

#include "extract/file_system.h"
#include "extract/formats/cache_entry.h"
#include "extract/content.h"

namespace drovan {

// What an entry would be harvested as.
struct EntryLook {
    std::string type;     // lower case, no dot; empty when nothing decides
    std::u16string name;  // the file name it is written under
    // Its Content-Encoding is one we decode and the first bytes did decode.
    bool decodable = false;
};

EntryLook LookAtEntry(FileSystem& fs, const CacheEntry& entry);

// The size of the body as it is written: the stored size of a plain body kept whole, the Content-Length of
// one not kept whole; a compressed body is decoded to count it (and has none unless kept whole and sound).
std::optional<std::uint64_t> DecodedBodySize(FileSystem& fs, const CacheEntry& entry);

// An entry's body as the file a user wants: its pieces in order, decoded per Content-Encoding.
class EntryContent final : public Content {
  public:
    EntryContent(FileSystem& fs, CacheEntry entry) : m_fs(fs), m_entry(std::move(entry)) {}
    Status Stream(const Sink& sink) override;
    Status StreamLeading(const Sink& sink) override;
    Status StreamRange(std::uint64_t offset, std::uint64_t size, const Sink& sink) override;
    // A plain body stored whole in one piece, with no checksums to check, is copied by the system.
    Status StreamInto(const Sink& sink, WrittenFile& file) override;
    // A plain body kept whole is its stored bytes; a compressed one is known only once decoded.
    std::optional<std::uint64_t> Size() override;
    // The response's Last-Modified, else when the browser stored it.
    std::optional<FileTime> ModifiedTime() override;
    const CacheEntry& entry() const { return m_entry; }

  private:
    FileSystem& m_fs;
    CacheEntry m_entry;
};

}  // namespace drovan
