#include "extract/harvest.h"

#include <algorithm>
#include <vector>

#include "extract/formats/decode.h"
#include "extract/formats/media_type.h"
#include "extract/formats/url_name.h"
#include "extract/name_rules.h"
#include "extract/progress.h"
#include "extract/utf8.h"

namespace drovan {
namespace {

constexpr std::size_t kReadChunk = 256 * 1024;
// A look at an entry stops after its leading bytes: the first read stays small.
constexpr std::size_t kFirstReadChunk = 16 * 1024;

bool IsHarvestableStatus(int status) {
    return status == 200 || status == 206;
}

}  // namespace

Content::Status EntryContent::Stream(const Sink& sink) {
    const std::unique_ptr<BodyDecoder> decoder =
        MakeBodyDecoder(ParseContentEncoding(m_entry.contentEncoding), kDecodedBodyCap);
    if (!decoder) {
        return Status::SourceFailed;
    }
    std::vector<char> buffer(kReadChunk);
    std::u16string openPath;
    std::unique_ptr<ReadableFile> file;
    std::size_t chunk = kFirstReadChunk;
    for (const BodyPiece& piece : m_entry.pieces) {
        if (!file || piece.file != openPath) {
            file = m_fs.OpenForReading(piece.file);
            openPath = piece.file;
            if (!file) {
                return Status::SourceFailed;
            }
        }
        for (std::uint64_t done = 0; done < piece.length;) {
            const std::size_t wanted =
                static_cast<std::size_t>(std::min<std::uint64_t>(chunk, piece.length - done));
            chunk = kReadChunk;
            std::size_t got = 0;
            // The browser may have shortened the file since it was listed: a short read is a failure.
            if (!file->ReadAt(piece.fileOffset + done, buffer.data(), wanted, got) || got != wanted) {
                return Status::SourceFailed;
            }
            switch (decoder->Feed(buffer.data(), got, sink)) {
                case DecodeStatus::Ok:
                    break;
                case DecodeStatus::Refused:
                    return Status::Refused;
                default:
                    return Status::SourceFailed;
            }
            done += got;
        }
    }
    switch (decoder->Finish(sink)) {
        case DecodeStatus::Ok:
            return Status::Done;
        case DecodeStatus::Refused:
            return Status::Refused;
        default:
            return Status::SourceFailed;
    }
}

EntryLook LookAtEntry(FileSystem& fs, const CacheEntry& entry) {
    EntryLook look;
    std::string leading;
    if (ParseContentEncoding(entry.contentEncoding) != ContentCoding::Unsupported) {
        EntryContent content(fs, entry);
        const Content::Status status = content.Stream([&leading](const char* data, std::size_t size) {
            leading.append(data, std::min(size, kTypeLeadingBytes - leading.size()));
            return leading.size() < kTypeLeadingBytes;
        });
        look.decodable = status != Content::Status::SourceFailed;
    }
    look.type = DecideType(leading, entry.contentType, entry.url);
    look.name = FileNameForEntry(entry.url, look.type);
    return look;
}

void ListCacheEntriesOfType(FileSystem& fs, std::u16string_view folder, CacheKind kind,
                            std::u16string_view fileType, std::vector<HarvestItem>& items,
                            CollectSummary& summary) {
    const CacheReadReport report = ReadCacheFolder(fs, folder, kind, [&](CacheEntry& entry) {
        if (entry.url.empty() || !IsHarvestableStatus(entry.status)) {
            return true;
        }
        const EntryLook look = LookAtEntry(fs, entry);
        if (!NameEndsWithType(look.name, fileType)) {
            return true;
        }
        ++summary.matched;
        if (!entry.complete) {
            ++summary.incomplete;
        } else if (!look.decodable) {
            ++summary.skipped;
        } else {
            std::u16string origin = Utf8ToUtf16(entry.url);
            items.push_back(
                {look.name, std::move(origin), std::make_unique<EntryContent>(fs, std::move(entry))});
        }
        return true;
    });
    summary.failed += report.damaged;
}

CollectSummary HarvestSources(FileSystem& fs, std::u16string_view internetCache,
                              const std::vector<CacheSource>& caches, std::u16string_view destination,
                              std::u16string_view fileType, ExtractionProgress* progress) {
    CollectSummary summary;
    if (progress != nullptr) {
        progress->totalKnown = false;
        progress->done = 0;
    }
    const std::u16string target = fs.Normalise(destination);
    if (target.empty()) {
        return summary;
    }
    std::vector<HarvestItem> items;
    const std::u16string walked = internetCache.empty() ? std::u16string() : fs.Normalise(internetCache);
    if (!walked.empty() && !fs.SamePath(walked, target) &&
        !ListCacheFilesOfType(fs, walked, target, fileType, progress, items)) {
        summary.stopped = true;
        return summary;
    }
    summary.matched = items.size();
    for (const CacheSource& cache : caches) {
        if (progress != nullptr && progress->stop) {
            summary.stopped = true;
            return summary;
        }
        ListCacheEntriesOfType(fs, cache.folder, cache.kind, fileType, items, summary);
    }
    WriteHarvest(fs, items, target, summary, progress);
    return summary;
}

}  // namespace drovan
