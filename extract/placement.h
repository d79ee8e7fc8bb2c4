#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "extract/failure_reasons.h"
#include "extract/file_system.h"
#include "extract/name_index.h"

namespace drovan {

struct HarvestProgress;

// What is to be written: a cached file, or a cache entry's body decoded on the fly. It can be streamed from
// its start more than once (to write it, and to hash it or compare it with files found under its names).
class Content {
  public:
    // SourceGone: the source was listed and is no longer there (a running browser evicted it). Damaged: its
    // bytes failed the checksums stored with them.
    enum class Status { Done, Refused, SourceFailed, SourceGone, Damaged };
    using Sink = std::function<bool(const char* data, std::size_t size)>;
    virtual ~Content() = default;
    // Feeds every byte to sink in order; Refused as soon as sink returns false.
    virtual Status Stream(const Sink& sink) = 0;
    // As Stream, in reads sized for a look at the first bytes: a sink that has seen enough refuses the rest.
    // Nothing is checked against stored checksums, which cover whole bodies.
    virtual Status StreamLeading(const Sink& sink) { return Stream(sink); }
    // Bytes [offset, offset + size) of what Stream gives; Done only when all of them came. Nothing is checked
    // against stored checksums: a whole pass checks them. By default Stream, skipping what lies outside.
    virtual Status StreamRange(std::uint64_t offset, std::uint64_t size, const Sink& sink);
    // The number of bytes Stream gives, and their digest, when they are known without streaming.
    virtual std::optional<std::uint64_t> Size() { return std::nullopt; }
    virtual std::optional<Sha256Digest> Digest() { return std::nullopt; }
    // Asked once the bytes are streamed: the time the file written from them shows as modified. Nothing
    // leaves it the time of writing.
    virtual std::optional<FileTime> ModifiedTime() { return std::nullopt; }
};

enum class PlaceOutcome {
    Copied,
    AlreadyPresent,   // a file with the same bytes already had the name or one of its numbered names
    Failed,           // the source could not be read or the target not written; nothing was left behind
    SourceGone,       // the source vanished since it was listed; counted as skipped, not failed
    Damaged,          // the source's bytes failed their checksums; skipped, nothing was left behind
    TooBig,           // did not fit in the room left on the destination; smaller files still may
    DestinationFull,  // every later file would fail too
    Stopped,          // progress->stop was set while writing; nothing was left behind
};

// A file on disk as content, opened afresh through fs for every pass.
class FileContent final : public Content {
  public:
    FileContent(FileSystem& fs, std::u16string path) : m_fs(fs), m_path(std::move(path)) {}
    Status Stream(const Sink& sink) override;
    std::optional<std::uint64_t> Size() override;
    // The source's, as the last pass opened it.
    std::optional<FileTime> ModifiedTime() override { return m_modifiedTime; }

  private:
    FileSystem& m_fs;
    std::u16string m_path;
    std::optional<FileTime> m_modifiedTime;
};

// Writes content into folder under name or, when that is taken by different bytes, "name (2).ext",
// "name (3).ext", …, never replacing anything; every name is cut to fit fs.NameLength(). names is what this
// harvest knows of folder, and learns from this placement. progress may be null; failure, when given,
// learns why the placement Failed.
PlaceOutcome PlaceNewFile(FileSystem& fs, std::u16string_view folder, std::u16string_view name,
                          Content& content, HarvestProgress* progress, NameIndex& names,
                          PlaceFailure* failure = nullptr);

}  // namespace drovan
