#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

#include "extract/file_system.h"
#include "extract/sha256.h"

namespace drovan {

// The file content is being written into, for content that knows its first bytes only once the rest are
// given.
class WrittenFile {
  public:
    virtual ~WrittenFile() = default;
    // Replaces bytes given before, at offset from the file's start; the next bytes given still go at its end.
    virtual bool Overwrite(std::uint64_t offset, const char* data, std::size_t size) = 0;
    // Drops every byte given: the next given is the file's first again.
    virtual bool Restart() = 0;
    // Whether CopyFrom may copy at all.
    virtual bool CopiesFiles() const = 0;
    // Appends up to size bytes of source from offset without passing them through the program; copied
    // counts them, fewer only at the source's end. None, having copied nothing, where that cannot be done:
    // the bytes are then to be given. False on a failure or a stop.
    virtual std::optional<bool> CopyFrom(ReadableFile& source, std::uint64_t offset, std::uint64_t size,
                                         std::uint64_t& copied) = 0;
};

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
    // As Stream, into file, which it may go back over; file ends as the bytes Stream gives.
    virtual Status StreamInto(const Sink& sink, WrittenFile& /*file*/) { return Stream(sink); }
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

}  // namespace drovan
