#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace drovan {

struct ExtractionProgress;

struct DirectoryEntry {
    std::u16string name;
    bool isDirectory = false;
    // Junctions and symbolic links: never descended into, so a link loop cannot trap the walk.
    bool isReparsePoint = false;
};

class DirectoryListing {
  public:
    virtual ~DirectoryListing() = default;
    // The entries in the platform's order, "." and ".." included where the platform lists them.
    virtual bool Next(DirectoryEntry& entry) = 0;
};

class ReadableFile {
  public:
    virtual ~ReadableFile() = default;
    virtual std::optional<std::uint64_t> Size() = 0;
    // Sets got to 0 at the end of the file; false on a read error.
    virtual bool Read(char* buffer, std::size_t capacity, std::size_t& got) = 0;
};

enum class CopyOutcome { Copied, TargetExists, Failed };

class FileSystem {
  public:
    virtual ~FileSystem() = default;
    virtual char16_t Separator() const = 0;
    // Absolute form without a trailing separator (except at a root); empty when there is none.
    virtual std::u16string Normalise(std::u16string_view path) = 0;
    virtual bool SamePath(std::u16string_view a, std::u16string_view b) = 0;
    virtual bool IsDirectory(std::u16string_view path) = 0;
    // Null when the folder cannot be listed.
    virtual std::unique_ptr<DirectoryListing> OpenDirectory(std::u16string_view folder) = 0;
    virtual std::unique_ptr<ReadableFile> OpenForReading(std::u16string_view path) = 0;
    // Never replaces an existing target, even one created between our check and the copy.
    virtual CopyOutcome CopyToNewFile(std::u16string_view source, std::u16string_view target) = 0;
};

struct CollectSummary {
    std::size_t matched = 0;
    std::size_t copied = 0;
    std::size_t alreadyPresent = 0;
    std::size_t failed = 0;
};

bool SameContents(FileSystem& fs, std::u16string_view a, std::u16string_view b);

// Walks folder depth first in the platform's order and copies every file whose name ends with fileType
// flat into destination, under a free numbered name when the name is taken by a different file. progress may
// be null; a stop ends the walk before the next file.
CollectSummary CollectCacheFiles(FileSystem& fs, std::u16string_view folder, std::u16string_view destination,
                                 std::u16string_view fileType, ExtractionProgress* progress = nullptr);

}  // namespace drovan
