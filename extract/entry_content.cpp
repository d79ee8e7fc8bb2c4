#include "extract/entry_content.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <iterator>
#include <memory>
#include <utility>

#include "extract/formats/checksums.h"
#include "extract/formats/decode.h"
#include "extract/formats/http_date.h"
#include "extract/formats/media_type.h"
#include "extract/formats/sqlite_file.h"
#include "extract/formats/url_name.h"
#include "extract/formats/movie_tracks.h"

namespace drovan {
namespace {

// Four of Firefox's 256 KiB chunks: their hashes are checked side by side.
constexpr std::size_t kReadChunk = 1 << 20;
// A look at an entry stops after its leading bytes: the first reads take little more than a look needs when
// the body is stored plain (mostly a few bytes, a few KiB for some kinds), and a compressed one mostly
// inflates to more.
constexpr std::size_t kLeadingReadSizes[] = {kTypeFirstRead, kTypeLeadingBytes};

// A look reads only the body's first bytes, in small reads; a harvest reads all of it in large ones.
enum class BodyReads { Leading, Whole };

Content::Status StatusOf(DecodeStatus status) {
    switch (status) {
        case DecodeStatus::Ok:
            return Content::Status::Done;
        case DecodeStatus::Refused:
            return Content::Status::Refused;
        default:
            return Content::Status::SourceFailed;
    }
}

// Stored bytes as they are read, with their offset in the body; any status but Done ends the reading.
using StoredBytesSink =
    std::function<Content::Status(std::uint64_t bodyOffset, const char* data, std::size_t size)>;

// Stored body bytes [first, last) as the pieces hold them, read in order.
struct StoredSpan {
    std::uint64_t first = 0;
    std::uint64_t last = UINT64_MAX;
};

// The files one body is read from, the last few kept open.
class BodyFiles {
  public:
    explicit BodyFiles(FileSystem& fs) : m_fs(fs) {}

    // None when the file cannot be opened; status then says whether it is gone.
    ReadableFile* Open(const std::u16string& path, Content::Status& status) {
        for (const auto& [openPath, file] : m_open) {
            if (openPath == path) {
                return file.get();
            }
        }
        std::unique_ptr<ReadableFile> file = m_fs.OpenForReading(path);
        if (!file) {
            // Listed moments ago: a running browser may have evicted it since.
            status = m_fs.Exists(path) ? Content::Status::SourceFailed : Content::Status::SourceGone;
            return nullptr;
        }
        if (m_open.size() == kKept) {
            m_open.erase(m_open.begin());
        }
        m_open.emplace_back(path, std::move(file));
        return m_open.back().second.get();
    }

  private:
    // A database's three files.
    static constexpr std::size_t kKept = 3;
    FileSystem& m_fs;
    std::vector<std::pair<std::u16string, std::unique_ptr<ReadableFile>>> m_open;
};

// Bytes [skip, end) of a piece that goes on through linked database pages, in reads of at most chunk bytes.
Content::Status ReadLinkedPiece(BodyFiles& files, const BodyPiece& piece, std::uint64_t skip,
                                std::uint64_t end, std::size_t chunk, const StoredBytesSink& take) {
    using Status = Content::Status;
    const LinkedPages& linked = *piece.linkedPages;
    std::array<ReadableFile*, std::tuple_size_v<decltype(linked.files)>> roles{};
    for (std::size_t role = 0; role < linked.files.size(); ++role) {
        Status status = Status::Done;
        if (!linked.files[role].empty() && !(roles[role] = files.Open(linked.files[role], status))) {
            return status;
        }
    }
    std::uint64_t bodyOffset = piece.bodyOffset + skip;
    Status given = Status::Done;
    const sqlite::ChainRead read =
        sqlite::FollowChain(*linked.map, {roles[0], roles[1], roles[2]}, {piece.firstPage, piece.length},
                            skip, end - skip, chunk, [&](const char* data, std::size_t size) {
                                given = take(bodyOffset, data, size);
                                bodyOffset += size;
                                return given == Status::Done;
                            });
    switch (read) {
        case sqlite::ChainRead::Damaged:
            return Status::Damaged;
        case sqlite::ChainRead::ReadFailed:
            // The browser may have shortened the file since it was listed.
            return Status::SourceFailed;
        default:
            return given;
    }
}

// The entry's pieces, read in order.
Content::Status ReadStoredBody(FileSystem& fs, const CacheEntry& entry, BodyReads reads,
                               const StoredBytesSink& take, StoredSpan span = {}) {
    using Status = Content::Status;
    // Small reads use the stack; larger ones a buffer grown to what they need and left unfilled: zeroing
    // a whole read for each body would cost more than reading most of them.
    char smallBuffer[kTypeLeadingBytes];
    std::unique_ptr<char[]> largeBuffer;
    std::size_t largeBufferSize = 0;
    BodyFiles files(fs);
    std::size_t readsDone = 0;
    const auto nextChunk = [&readsDone, reads] {
        const std::size_t chunk = reads == BodyReads::Leading && readsDone < std::size(kLeadingReadSizes)
                                      ? kLeadingReadSizes[readsDone]
                                      : kReadChunk;
        ++readsDone;
        return chunk;
    };
    if (reads == BodyReads::Leading && span.first == 0 && !entry.leadingBytes.empty()) {
        const std::string_view leading = std::string_view(entry.leadingBytes)
                                             .substr(0, static_cast<std::size_t>(std::min<std::uint64_t>(
                                                            span.last, entry.leadingBytes.size())));
        if (const Status status = take(0, leading.data(), leading.size()); status != Status::Done) {
            return status;
        }
        span.first = leading.size();
        ++readsDone;
    }
    for (const BodyPiece& piece : entry.pieces) {
        // Where the span lies in this piece: [skip, end) of its bytes.
        const std::uint64_t skip = std::max(span.first, piece.bodyOffset) - piece.bodyOffset;
        const std::uint64_t end = std::min(span.last - std::min(span.last, piece.bodyOffset), piece.length);
        if (skip >= end) {
            continue;
        }
        if (piece.linkedPages) {
            if (const Status status = ReadLinkedPiece(files, piece, skip, end, nextChunk(), take);
                status != Status::Done) {
                return status;
            }
            continue;
        }
        Status opening = Status::Done;
        ReadableFile* file = files.Open(piece.file, opening);
        if (!file) {
            return opening;
        }
        for (std::uint64_t done = skip; done < end;) {
            const std::size_t wanted =
                static_cast<std::size_t>(std::min<std::uint64_t>(nextChunk(), end - done));
            char* buffer = smallBuffer;
            if (wanted > sizeof smallBuffer) {
                if (largeBufferSize < wanted) {
                    largeBuffer.reset(new char[wanted]);
                    largeBufferSize = wanted;
                }
                buffer = largeBuffer.get();
            }
            std::size_t got = 0;
            // The browser may have shortened the file since it was listed: a short read is a failure.
            if (!file->ReadAt(piece.fileOffset + done, buffer, wanted, got) || got != wanted) {
                return Status::SourceFailed;
            }
            if (const Status status = take(piece.bodyOffset + done, buffer, got); status != Status::Done) {
                return status;
            }
            done += got;
        }
    }
    return Status::Done;
}

// The stored bytes decoded into sink. A body read whole is checked against the browser's checksums first:
// bytes that fail never reach the sink, and a body that does not decode is read on to tell damage from an
// encoding we cannot follow.
Content::Status StreamBody(FileSystem& fs, const CacheEntry& entry, const Content::Sink& sink,
                           BodyReads reads) {
    using Status = Content::Status;
    const std::unique_ptr<BodyDecoder> decoder =
        MakeBodyDecoder(ParseContentEncoding(entry.contentEncoding), kDecodedBodyCap,
                        reads == BodyReads::Whole ? DecodeReach::Whole : DecodeReach::Leading);
    if (!decoder) {
        return Status::SourceFailed;
    }
    std::optional<StoredBodyCheck> check;
    if (reads == BodyReads::Whole && !entry.checksums.empty()) {
        check.emplace(entry.checksums);
    }
    bool decodeFailed = false;
    const Status read =
        ReadStoredBody(fs, entry, reads, [&](std::uint64_t offset, const char* data, std::size_t size) {
            if (check && !check->Add(offset, data, size)) {
                return Status::Damaged;
            }
            if (decodeFailed) {
                return Status::Done;
            }
            const Status fed = StatusOf(decoder->Feed(data, size, sink));
            if (fed == Status::SourceFailed && check) {
                decodeFailed = true;
                return Status::Done;
            }
            return fed;
        });
    if (read != Status::Done) {
        return read;
    }
    if (check && !check->Finish()) {
        return Status::Damaged;
    }
    return decodeFailed ? Status::SourceFailed : StatusOf(decoder->Finish(sink));
}

// Only the moov in the leading bytes is read: a look never reads on for it.
MovieTracks MovieTracksOf(std::string_view leading) {
    const bool mp4 = leading.size() >= 8 && leading.substr(4, 4) == "ftyp";
    const auto kinds = mp4 ? ProbeTrackKinds(leading) : std::nullopt;
    if (!kinds) {
        return MovieTracks::Unknown;
    }
    if (kinds->picture) {
        return MovieTracks::Picture;
    }
    return kinds->sound && kinds->allSeen ? MovieTracks::SoundOnly : MovieTracks::Unknown;
}

}  // namespace

Content::Status EntryContent::Stream(const Sink& sink) {
    return StreamBody(m_fs, m_entry, sink, BodyReads::Whole);
}

Content::Status EntryContent::StreamLeading(const Sink& sink) {
    return StreamBody(m_fs, m_entry, sink, BodyReads::Leading);
}

Content::Status EntryContent::StreamInto(const Sink& sink, WrittenFile& file) {
    const bool asStored = file.CopiesFiles() && m_entry.complete && m_entry.checksums.empty() &&
                          m_entry.pieces.size() == 1 && !m_entry.pieces.front().linkedPages &&
                          ParseContentEncoding(m_entry.contentEncoding) == ContentCoding::Identity;
    if (!asStored) {
        return Stream(sink);
    }
    const BodyPiece& piece = m_entry.pieces.front();
    BodyFiles files(m_fs);
    Status opening = Status::Done;
    ReadableFile* const source = files.Open(piece.file, opening);
    if (!source) {
        return opening;
    }
    std::uint64_t copied = 0;
    const std::optional<bool> done = file.CopyFrom(*source, piece.fileOffset, piece.length, copied);
    if (!done) {
        return Stream(sink);
    }
    // The browser may have shortened the file since it was listed.
    return !*done ? Status::Refused : copied == piece.length ? Status::Done : Status::SourceFailed;
}

// Plain bodies are read where the range lies; coded ones must be decoded from their start.
Content::Status EntryContent::StreamRange(std::uint64_t offset, std::uint64_t size, const Sink& sink) {
    if (ParseContentEncoding(m_entry.contentEncoding) != ContentCoding::Identity) {
        return Content::StreamRange(offset, size, sink);
    }
    const std::uint64_t last = size > UINT64_MAX - offset ? UINT64_MAX : offset + size;
    std::uint64_t given = 0;
    const Status status = ReadStoredBody(m_fs, m_entry, BodyReads::Whole,
                                         [&](std::uint64_t, const char* data, std::size_t length) {
                                             given += length;
                                             return sink(data, length) ? Status::Done : Status::Refused;
                                         },
                                         {offset, last});
    return status == Status::Done && given != size ? Status::SourceFailed : status;
}

std::optional<std::uint64_t> DecodedBodySize(FileSystem& fs, const CacheEntry& entry) {
    if (ParseContentEncoding(entry.contentEncoding) == ContentCoding::Identity) {
        return entry.complete ? std::optional<std::uint64_t>(entry.storedSize) : entry.contentLength;
    }
    if (!entry.complete) {
        return std::nullopt;
    }
    std::uint64_t size = 0;
    const Content::Status status = StreamBody(
        fs, entry,
        [&size](const char*, std::size_t piece) {
            size += piece;
            return true;
        },
        BodyReads::Whole);
    return status == Content::Status::Done ? std::optional<std::uint64_t>(size) : std::nullopt;
}

std::optional<std::uint64_t> EntryContent::Size() {
    return m_entry.complete && ParseContentEncoding(m_entry.contentEncoding) == ContentCoding::Identity
               ? std::optional<std::uint64_t>(m_entry.storedSize)
               : std::nullopt;
}

std::optional<FileTime> EntryContent::ModifiedTime() {
    const std::int64_t now =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    const std::optional<std::int64_t> seconds =
        HarvestedFileTime(m_entry.lastModified, m_entry.storedTime, now);
    return seconds ? std::optional<FileTime>(FileTime::FromSeconds(*seconds)) : std::nullopt;
}

EntryLook LookAtEntry(FileSystem& fs, const CacheEntry& entry) {
    EntryLook look;
    char leadingBytes[kTypeLeadingBytes];
    std::string_view leading(leadingBytes, 0);
    if (ParseContentEncoding(entry.contentEncoding) != ContentCoding::Unsupported) {
        const auto gather = [&leadingBytes, &leading, &entry](const char* data, std::size_t size) {
            const std::size_t taken = std::min(size, kTypeLeadingBytes - leading.size());
            std::copy_n(data, taken, leadingBytes + leading.size());
            leading = std::string_view(leadingBytes, leading.size() + taken);
            return leading.size() < kTypeSignatureBytes ||
                   leading.size() < TypeLeadingBytesWanted(leading, entry.url);
        };
        const Content::Status status = StreamBody(fs, entry, gather, BodyReads::Leading);
        look.decodable = status == Content::Status::Done || status == Content::Status::Refused;
    }
    look.type = DecideType(leading, entry.contentType, entry.url, MovieTracksOf(leading));
    look.name = FileNameForEntry(entry.url, look.type);
    return look;
}

}  // namespace drovan
