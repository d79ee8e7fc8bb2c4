#include "extract/harvest.h"

#include <algorithm>
#include <chrono>
#include <iterator>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "extract/formats/checksums.h"
#include "extract/formats/decode.h"
#include "extract/formats/http_date.h"
#include "extract/formats/media_type.h"
#include "extract/formats/url_name.h"
#include "extract/harvest_writer.h"
#include "extract/name_rules.h"
#include "extract/progress.h"
#include "extract/utf8.h"

namespace drovan {
namespace {

// Four of Firefox's 256 KiB chunks: their hashes are checked side by side.
constexpr std::size_t kReadChunk = 1 << 20;
// A look at an entry stops after its leading bytes: the first reads take little more than a look needs when
// the body is stored plain (mostly a few bytes, a few KiB for some kinds), and a compressed one mostly
// inflates to more.
constexpr std::size_t kLeadingReadSizes[] = {512, kTypeLeadingBytes};

// A kept file remembers its last few small reads: a reader reads an entry's ends, and those mostly hold the
// leading body bytes that a look at the entry's type wants next.
struct KeptFile {
    static constexpr std::size_t kRememberedReadSize = 4096;
    struct RememberedRead {
        std::uint64_t offset = 0;
        std::size_t size = 0;
        char bytes[kRememberedReadSize];
    };

    std::u16string path;
    std::unique_ptr<ReadableFile> file;
    RememberedRead reads[2];
    std::size_t nextRead = 0;
};

// One open file shared by every holder; they read by position only, so no holder moves another's place.
class SharedFile final : public ReadableFile {
  public:
    explicit SharedFile(std::shared_ptr<KeptFile> kept) : m_kept(std::move(kept)) {}
    std::optional<std::uint64_t> Size() override { return m_kept->file->Size(); }
    std::optional<FileIdentity> Identity() override { return m_kept->file->Identity(); }
    bool Read(char* buffer, std::size_t capacity, std::size_t& got) override {
        return m_kept->file->Read(buffer, capacity, got);
    }
    bool ReadAt(std::uint64_t offset, char* buffer, std::size_t capacity, std::size_t& got) override {
        for (const KeptFile::RememberedRead& read : m_kept->reads) {
            if (offset >= read.offset && offset - read.offset <= read.size &&
                capacity <= read.size - (offset - read.offset)) {
                std::copy_n(read.bytes + (offset - read.offset), capacity, buffer);
                got = capacity;
                return true;
            }
        }
        if (!m_kept->file->ReadAt(offset, buffer, capacity, got)) {
            return false;
        }
        if (capacity <= KeptFile::kRememberedReadSize) {
            KeptFile::RememberedRead& read = m_kept->reads[m_kept->nextRead];
            m_kept->nextRead = (m_kept->nextRead + 1) % std::size(m_kept->reads);
            read.offset = offset;
            read.size = got;
            std::copy_n(buffer, got, read.bytes);
        }
        return true;
    }

  private:
    std::shared_ptr<KeptFile> m_kept;
};

// Keeps the files read last open a little longer: the look at an entry just read finds its file open.
class KeptFiles final : public ForwardingFileSystem {
  public:
    explicit KeptFiles(FileSystem& fs) : ForwardingFileSystem(fs) {}

    // The least recently used file makes room.
    std::unique_ptr<ReadableFile> OpenForReading(std::u16string_view path) override {
        for (auto kept = m_kept.begin(); kept != m_kept.end(); ++kept) {
            // From the end: the paths of one cache differ in their last characters.
            const std::u16string& keptPath = (*kept)->path;
            if (keptPath.size() == path.size() &&
                std::equal(keptPath.rbegin(), keptPath.rend(), path.rbegin())) {
                std::rotate(kept, kept + 1, m_kept.end());
                return std::make_unique<SharedFile>(m_kept.back());
            }
        }
        std::unique_ptr<ReadableFile> file = ForwardingFileSystem::OpenForReading(path);
        if (!file) {
            return nullptr;
        }
        if (m_kept.size() == kKeptFiles) {
            m_kept.erase(m_kept.begin());
        }
        // Not make_shared: the remembered bytes need no zeroing.
        std::shared_ptr<KeptFile> kept(new KeptFile);
        kept->path = std::u16string(path);
        kept->file = std::move(file);
        m_kept.push_back(kept);
        return std::make_unique<SharedFile>(std::move(kept));
    }

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
    bool Claim(FileSystem& fs, const CacheEntry& entry) {
        std::vector<std::pair<std::map<std::uint64_t, std::uint64_t>*, const BodyPiece*>> claims;
        for (const BodyPiece& piece : entry.pieces) {
            const std::unique_ptr<ReadableFile> file = fs.OpenForReading(piece.file);
            const std::optional<FileIdentity> identity = file ? file->Identity() : std::nullopt;
            if (!identity) {
                continue;
            }
            // Claimed runs never overlap: only the last one starting before this piece ends can reach into
            // it.
            std::map<std::uint64_t, std::uint64_t>& claimed = m_claimed[*identity];
            const auto after = claimed.lower_bound(piece.fileOffset + piece.length);
            if (after != claimed.begin() && std::prev(after)->second > piece.fileOffset) {
                return false;
            }
            claims.emplace_back(&claimed, &piece);
        }
        for (const auto& [claimed, piece] : claims) {
            (*claimed)[piece->fileOffset] = piece->fileOffset + piece->length;
        }
        return true;
    }

  private:
    std::map<FileIdentity, std::map<std::uint64_t, std::uint64_t>> m_claimed;  // start -> end
};

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

// The entry's pieces, read in order.
Content::Status ReadStoredBody(FileSystem& fs, const CacheEntry& entry, BodyReads reads,
                               const StoredBytesSink& take) {
    using Status = Content::Status;
    // Small reads use the stack; larger ones a buffer grown to what they need and left unfilled: zeroing
    // a whole read for each body would cost more than reading most of them.
    char smallBuffer[kTypeLeadingBytes];
    std::unique_ptr<char[]> largeBuffer;
    std::size_t largeBufferSize = 0;
    const std::u16string* openPath = nullptr;
    std::unique_ptr<ReadableFile> file;
    std::size_t readsDone = 0;
    for (const BodyPiece& piece : entry.pieces) {
        if (!file || piece.file != *openPath) {
            file = fs.OpenForReading(piece.file);
            openPath = &piece.file;
            if (!file) {
                // Listed moments ago: a running browser may have evicted it since.
                return fs.Exists(piece.file) ? Status::SourceFailed : Status::SourceGone;
            }
        }
        for (std::uint64_t done = 0; done < piece.length;) {
            const std::size_t chunk = reads == BodyReads::Leading && readsDone < std::size(kLeadingReadSizes)
                                          ? kLeadingReadSizes[readsDone]
                                          : kReadChunk;
            ++readsDone;
            const std::size_t wanted =
                static_cast<std::size_t>(std::min<std::uint64_t>(chunk, piece.length - done));
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
        MakeBodyDecoder(ParseContentEncoding(entry.contentEncoding), kDecodedBodyCap);
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

}  // namespace

Content::Status EntryContent::Stream(const Sink& sink) {
    return StreamBody(m_fs, m_entry, sink, BodyReads::Whole);
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
        const auto gather = [&leadingBytes, &leading](const char* data, std::size_t size) {
            const std::size_t taken = std::min(size, kTypeLeadingBytes - leading.size());
            std::copy_n(data, taken, leadingBytes + leading.size());
            leading = std::string_view(leadingBytes, leading.size() + taken);
            return leading.size() < kTypeSignatureBytes || leading.size() < TypeLeadingBytesWanted(leading);
        };
        const Content::Status status = StreamBody(fs, entry, gather, BodyReads::Leading);
        look.decodable = status == Content::Status::Done || status == Content::Status::Refused;
    }
    look.type = DecideType(leading, entry.contentType, entry.url);
    look.name = FileNameForEntry(entry.url, look.type);
    return look;
}

bool IsHarvestedResponse(const CacheEntry& entry) {
    return !entry.url.empty() && (entry.status == 200 || entry.status == 206 || entry.noBody);
}

EntryVerdict JudgeEntry(const CacheEntry& entry, const EntryLook& look) {
    if (entry.noBody) {
        return EntryVerdict::NoBody;
    }
    if (!entry.complete) {
        return EntryVerdict::Incomplete;
    }
    return look.decodable ? EntryVerdict::Write : EntryVerdict::Undecodable;
}

std::u16string_view VerdictName(EntryVerdict verdict) {
    switch (verdict) {
        case EntryVerdict::Write:
            return u"complete";
        case EntryVerdict::Incomplete:
            return u"incomplete";
        case EntryVerdict::NoBody:
            return u"no-body";
        case EntryVerdict::Undecodable:
            return u"undecodable";
    }
    return u"";
}

void CountVerdict(EntryVerdict verdict, HarvestSummary& summary) {
    ++summary.matched;
    switch (verdict) {
        case EntryVerdict::Write:
            break;
        case EntryVerdict::Incomplete:
            ++summary.incomplete;
            break;
        case EntryVerdict::NoBody:
            ++summary.noBody;
            ++summary.skipped;
            break;
        case EntryVerdict::Undecodable:
            ++summary.skipped;
            break;
    }
}

void CountPassedOver(const CacheReadReport& report, HarvestSummary& summary) {
    summary.skipped += report.damaged + report.overBudget;
    summary.damaged += report.damaged;
    summary.overBudget += report.overBudget;
    summary.inUse += report.inUse;
}

CacheReadReport LookAtCacheEntries(FileSystem& fs, std::u16string_view folder, CacheKind kind,
                                   const LookedAtEntrySink& sink) {
    KeptFiles kept(fs);
    return ReadCacheFolder(kept, folder, kind, [&](CacheEntry& entry) {
        return !IsHarvestedResponse(entry) || sink(entry, LookAtEntry(kept, entry));
    });
}

bool ListCacheEntriesOfType(FileSystem& fs, std::u16string_view folder, CacheKind kind,
                            std::u16string_view fileType, const HarvestProgress* progress,
                            const ItemSink& sink, HarvestSummary& summary) {
    KeptFiles kept(fs);
    StoredBytesClaims claims;
    bool listedAll = true;
    const CacheReadReport report = ReadCacheFolder(kept, folder, kind, [&](CacheEntry& entry) {
        if (StopRequested(progress)) {
            listedAll = false;
            return false;
        }
        if (!IsHarvestedResponse(entry)) {
            return true;
        }
        const EntryLook look = LookAtEntry(kept, entry);
        if (!NameEndsWithType(look.name, fileType)) {
            return true;
        }
        const EntryVerdict verdict = JudgeEntry(entry, look);
        CountVerdict(verdict, summary);
        if (verdict != EntryVerdict::Write) {
            return true;
        }
        if (!claims.Claim(kept, entry)) {
            ++summary.skipped;
            return true;
        }
        // The content needs only where the body lies and how it is encoded: a URL or key of megabytes is not
        // held until the entry is written.
        std::string().swap(entry.key);
        std::string().swap(entry.url);
        std::string().swap(entry.contentType);
        listedAll = sink({look.name, {}, std::make_unique<EntryContent>(fs, std::move(entry))});
        return listedAll;
    });
    CountPassedOver(report, summary);
    return listedAll;
}

HarvestSummary HarvestSources(FileSystem& fs, std::u16string_view internetCache,
                              const std::vector<CacheSource>& caches, std::u16string_view destination,
                              std::u16string_view fileType, HarvestProgress* progress) {
    HarvestSummary summary;
    if (progress != nullptr) {
        progress->totalKnown = false;
        progress->done = 0;
    }
    const std::u16string target = fs.Normalise(destination);
    if (target.empty()) {
        return summary;
    }
    const std::u16string walked = internetCache.empty() ? std::u16string() : fs.Normalise(internetCache);
    const auto list = [&](const ItemSink& sink, HarvestSummary& listed) {
        if (!walked.empty() && !fs.SamePath(walked, target) &&
            !ListCacheFilesOfType(fs, walked, target, fileType, progress, sink, listed)) {
            return false;
        }
        for (const CacheSource& cache : caches) {
            if (!ListCacheEntriesOfType(fs, cache.folder, cache.kind, fileType, progress, sink, listed)) {
                return false;
            }
        }
        return true;
    };
    ListAndWriteHarvest(fs, list, target, summary, progress);
    return summary;
}

}  // namespace drovan
