#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "extract/content.h"
#include "extract/failure_reasons.h"
#include "extract/file_system.h"
#include "extract/name_index.h"

namespace drovan {

struct HarvestProgress;

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
    Status StreamInto(const Sink& sink, WrittenFile& file) override;
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
