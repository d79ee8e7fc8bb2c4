#include "extract/formats/chromium_sql.h"

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "extract/formats/cache_key.h"
#include "extract/formats/chromium_simple.h"
#include "extract/formats/completeness.h"
#include "extract/formats/http_head.h"
#include "extract/formats/media_type.h"
#include "extract/formats/sql_format.h"
#include "extract/formats/sqlite_file.h"
#include "extract/formats/sqlite_format.h"
#include "extract/name_rules.h"
#include "extract/utf8.h"

namespace drovan {
namespace {

using sqlite::FileRole;
using sqlite::Value;

constexpr std::size_t kRoles = 3;
// By FileRole: the database, its write-ahead log, its rollback journal.
constexpr const char16_t* kRoleSuffixes[kRoles] = {u"", u"-wal", u"-journal"};
// meta holds a handful of rows; a longer one is not read further.
constexpr std::size_t kMaxMetaRows = 64;
constexpr std::size_t kMaxMetaText = 64;

std::u16string ShardFileName(std::uint32_t shard, FileRole role) {
    return u"sqldb" + Utf8ToUtf16(std::to_string(shard)) + kRoleSuffixes[static_cast<std::size_t>(role)];
}

// One shard's files as opened, by FileRole; a log or journal that is absent or empty stays null.
struct ShardFiles {
    std::uint32_t shard = 0;
    std::uint32_t count = 0;
    std::u16string paths[kRoles];
    std::unique_ptr<ReadableFile> files[kRoles];
    // What the blobs' tails are followed through once the database is read.
    std::shared_ptr<const LinkedPages> linked;

    sqlite::DatabaseFiles ForDatabase() const { return {files[0].get(), files[1].get(), files[2].get()}; }
};

enum class ShardOpening { Opened, Locked, Failed };

ShardOpening OpenShard(FileSystem& fs, std::u16string_view folder, ShardFiles& shard) {
    for (std::size_t role = 0; role < kRoles; ++role) {
        shard.paths[role] =
            JoinPath(folder, ShardFileName(shard.shard, static_cast<FileRole>(role)), fs.Separator());
        bool locked = false;
        std::unique_ptr<ReadableFile> file = fs.OpenUnlessLocked(shard.paths[role], locked);
        if (locked) {
            return ShardOpening::Locked;
        }
        const bool empty = !file || file->Size().value_or(0) == 0;
        if (role == 0 && empty) {
            return ShardOpening::Failed;
        }
        if (!empty) {
            shard.files[role] = std::move(file);
        }
    }
    return ShardOpening::Opened;
}

// The shard's files a tail may lie in: the database and, where its pages are, the log or the journal.
std::shared_ptr<const LinkedPages> LinkShard(const ShardFiles& shard,
                                             std::shared_ptr<const sqlite::PageMap> map) {
    auto linked = std::make_shared<LinkedPages>();
    linked->files[0] = shard.paths[0];
    if (map->overlaid()) {
        const auto overlay = static_cast<std::size_t>(map->overlayFile);
        linked->files[overlay] = shard.paths[overlay];
    }
    linked->map = std::move(map);
    return linked;
}

bool IsInteger(const Value& value) {
    return value.type == Value::Type::Integer;
}

// meta's version, stored as text or as a number.
std::optional<std::int64_t> MetaVersion(sqlite::Database& database) {
    std::vector<sqlite::Row> rows;
    database.ForEachRow("meta", [&rows](const sqlite::Row& row) {
        rows.push_back(row);
        return rows.size() < kMaxMetaRows;
    });
    for (const sqlite::Row& row : rows) {
        if (row.columns.size() < 2 || row.columns[0].type != Value::Type::Text ||
            database.ReadValue(row.columns[0], kMaxMetaText) != "version") {
            continue;
        }
        const Value& value = row.columns[1];
        if (IsInteger(value)) {
            return value.integer;
        }
        const std::optional<std::string> text =
            value.type == Value::Type::Text ? database.ReadValue(value, kMaxMetaText) : std::nullopt;
        if (!text || text->empty() || text->size() > 9 ||
            !std::all_of(text->begin(), text->end(), [](char c) { return c >= '0' && c <= '9'; })) {
            return std::nullopt;
        }
        return std::stoll(*text);
    }
    return std::nullopt;
}

// A blobs row as stored; a row whose columns are not of their types is unsound and damages its entry.
struct StoredBlob {
    SqlPiece piece;
    std::uint32_t checkSum = 0;
    Value blob;
    bool sound = false;
    std::string leading;  // the body's first bytes, for the blob at its start
};

using BlobsByResource = std::unordered_map<std::int64_t, std::vector<StoredBlob>>;

// Every blobs row by its res_id, in one walk.
BlobsByResource CollectBlobs(sqlite::Database& database) {
    BlobsByResource blobs;
    database.ForEachRow("blobs", [&blobs, &database](const sqlite::Row& row) {
        using Columns = SqlBlobColumns;
        if (row.columns.size() < Columns::kCount || !IsInteger(row.columns[Columns::kResId])) {
            return true;
        }
        StoredBlob stored;
        const Value& start = row.columns[Columns::kStart];
        const Value& end = row.columns[Columns::kEnd];
        const Value& blob = row.columns[Columns::kBlob];
        const std::optional<std::uint32_t> checkSum = IsInteger(row.columns[Columns::kCheckSum])
                                                          ? Stored32(row.columns[Columns::kCheckSum].integer)
                                                          : std::nullopt;
        if (IsInteger(start) && IsInteger(end) && blob.type == Value::Type::Blob && checkSum) {
            stored.piece = {start.integer, end.integer, blob.size};
            stored.checkSum = *checkSum;
            stored.blob = blob;
            stored.sound = true;
            // Its page is in memory now; a look at the entry would read it again.
            if (start.integer == 0) {
                stored.leading = database.ReadLeading(blob, kTypeFirstRead).value_or("");
            }
        }
        blobs[row.columns[Columns::kResId].integer].push_back(std::move(stored));
        return true;
    });
    return blobs;
}

// A live resources row as stored.
struct StoredResource {
    std::int64_t resId = 0;
    std::int64_t bodyEnd = 0;
    std::int64_t bytesUsage = 0;
    std::uint32_t checkSum = 0;
    std::uint32_t keyHash = 0;
    Value key;
    Value head;
};

enum class RowState { Live, Doomed, Unsound };

RowState DecodeResource(const sqlite::Row& row, const SqlResourceColumns& columns, StoredResource& resource) {
    if (row.columns.size() < columns.count) {
        return RowState::Unsound;
    }
    const Value& doomed = row.columns[columns.doomed];
    if (IsInteger(doomed) && doomed.integer != 0) {
        return RowState::Doomed;
    }
    const Value& bodyEnd = row.columns[columns.bodyEnd];
    const Value& bytesUsage = row.columns[columns.bytesUsage];
    const Value& checkSum = row.columns[columns.checkSum];
    const Value& keyHash = row.columns[columns.keyHash];
    const Value& key = row.columns[columns.key];
    const Value& head = row.columns[columns.head];
    if (!IsInteger(doomed) || !IsInteger(bodyEnd) || !IsInteger(bytesUsage) || !IsInteger(checkSum) ||
        !IsInteger(keyHash) || key.type != Value::Type::Text ||
        (head.type != Value::Type::Blob && head.type != Value::Type::Null)) {
        return RowState::Unsound;
    }
    const std::optional<std::uint32_t> storedCheckSum = Stored32(checkSum.integer);
    const std::optional<std::uint32_t> storedKeyHash = Stored32(keyHash.integer);
    if (!storedCheckSum || !storedKeyHash) {
        return RowState::Unsound;
    }
    resource = {row.rowid, bodyEnd.integer, bytesUsage.integer, *storedCheckSum, *storedKeyHash, key, head};
    return RowState::Live;
}

// One blob's bytes as pieces of the body from start on: its runs where they lie in the shard's files, and its
// tail as a piece that follows the linked pages when it is read. False when they do not make size bytes.
bool PlaceBlob(const Value& blob, std::uint64_t start, std::uint64_t size, const ShardFiles& shard,
               CacheEntry& entry) {
    std::uint64_t placed = 0;
    for (const sqlite::ByteRun& run : blob.runs) {
        const std::size_t role = static_cast<std::size_t>(run.file);
        if (role >= kRoles || run.length > size - placed) {
            return false;
        }
        if (run.length > 0) {
            entry.pieces.push_back(BodyPiece{shard.paths[role], run.offset, run.length, start + placed});
        }
        placed += run.length;
    }
    if (blob.tail.length > 0) {
        const std::optional<sqlite::ByteRun> first =
            sqlite::LocatePage(*shard.linked->map, blob.tail.firstPage);
        if (!first || blob.tail.length > size - placed) {
            return false;
        }
        BodyPiece piece{shard.paths[static_cast<std::size_t>(first->file)],
                        first->offset + sqlite::kOverflowPointerSize, blob.tail.length, start + placed};
        piece.linkedPages = shard.linked;
        piece.firstPage = blob.tail.firstPage;
        entry.pieces.push_back(std::move(piece));
        placed += blob.tail.length;
    }
    return placed == size;
}

// The body's pieces where the blobs' bytes lie in the shard's files, each checked by its check_sum as it
// streams. False when the blobs do not make the body the row says.
bool PlaceBody(std::vector<StoredBlob>& blobs, const StoredResource& resource, const ShardFiles& shard,
               CacheEntry& entry) {
    std::sort(blobs.begin(), blobs.end(),
              [](const StoredBlob& a, const StoredBlob& b) { return a.piece.start < b.piece.start; });
    std::vector<SqlPiece> pieces;
    for (const StoredBlob& blob : blobs) {
        if (!blob.sound) {
            return false;
        }
        pieces.push_back(blob.piece);
    }
    const bool sparse = entry.status == 206;
    if (!SqlPiecesFit(pieces, resource.bodyEnd, sparse) ||
        (!sparse && !entry.truncated && entry.contentLength &&
         *entry.contentLength != static_cast<std::uint64_t>(resource.bodyEnd))) {
        return false;
    }
    if (!blobs.empty()) {
        entry.leadingBytes = std::move(blobs.front().leading);
    }
    for (const StoredBlob& blob : blobs) {
        const std::uint64_t start = static_cast<std::uint64_t>(blob.piece.start);
        if (!PlaceBlob(blob.blob, start, blob.piece.size, shard, entry)) {
            return false;
        }
        StoredChecksum checksum{StoredChecksum::Kind::Crc32, start, blob.piece.size, blob.checkSum};
        checksum.following = BigEndian32(resource.keyHash);
        checksum.followingSize = 4;
        entry.checksums.push_back(checksum);
        entry.storedSize += blob.piece.size;
    }
    return true;
}

// The entry of a live row, when every check the row carries holds. keys holds the shard's keys read so far:
// a second row of one key is damaged.
RecordRead ReadResource(sqlite::Database& database, const StoredResource& resource,
                        std::vector<StoredBlob>& blobs, const ShardFiles& shard,
                        std::set<std::string>& keys) {
    RecordRead read;
    std::optional<std::string> key = database.ReadValue(resource.key, kMaxChromiumMetadata);
    if (!key || SuperFastHash(*key) != resource.keyHash || resource.keyHash % shard.count != shard.shard ||
        !keys.insert(*key).second) {
        return read;
    }
    if (resource.head.type == Value::Type::Null) {
        read.inUse = true;
        return read;
    }
    const std::optional<std::string> head = database.ReadValue(resource.head, kMaxChromiumMetadata);
    if (!head || SqlCheckSum(*head, resource.keyHash) != resource.checkSum ||
        !SqlBytesUsageAgrees(resource.bytesUsage, resource.bodyEnd, head->size(), key->size())) {
        return read;
    }
    const std::optional<ChromiumResponseInfo> info = ParseChromiumResponseInfo(*head);
    if (!info) {
        return read;
    }
    CacheEntry entry;
    entry.kind = CacheKind::ChromiumSql;
    entry.url = UrlFromChromiumKey(*key);
    entry.key = std::move(*key);
    entry.truncated = info->truncated;
    entry.storedTime = info->responseTime;
    ApplyHead(info->head, entry);
    if (!PlaceBody(blobs, resource, shard, entry)) {
        return read;
    }
    DecideCompleteness(entry);
    read.entry = std::move(entry);
    return read;
}

// False when sink wants no more.
bool ReadShard(FileSystem& fs, std::u16string_view folder, ShardFiles& shard, const CacheEntrySink& sink,
               CacheReadReport& report) {
    switch (OpenShard(fs, folder, shard)) {
        case ShardOpening::Locked:
            ++report.locked;
            return true;
        case ShardOpening::Failed:
            ++report.damaged;
            return true;
        case ShardOpening::Opened:
            break;
    }
    const std::unique_ptr<sqlite::Database> database = sqlite::Database::Open(shard.ForDatabase());
    const std::optional<std::int64_t> version = database ? MetaVersion(*database) : std::nullopt;
    const std::optional<SqlResourceColumns> columns = version ? SqlResourceColumnsOf(*version) : std::nullopt;
    if (!columns) {
        ++report.damaged;  // no database, or one of a version we do not know
        return true;
    }
    shard.linked = LinkShard(shard, database->pages());
    BlobsByResource blobs = CollectBlobs(*database);
    // Each row is read as the walk meets it, while its page is still in memory.
    std::set<std::int64_t> resIds;
    std::set<std::string> keys;
    bool wanted = true;
    const sqlite::WalkResult walk = database->ForEachRow("resources", [&](const sqlite::Row& row) {
        StoredResource resource;
        const RowState state = DecodeResource(row, *columns, resource);
        if (state == RowState::Unsound) {
            ++report.damaged;
            return true;
        }
        if (state == RowState::Doomed) {
            return true;
        }
        RecordRead read;
        // A second row of one res_id would claim the first one's blobs.
        if (resIds.insert(resource.resId).second) {
            read = ReadResource(*database, resource, blobs[resource.resId], shard, keys);
        }
        wanted = DeliverRecord(read, report, sink);
        return wanted;
    });
    if (walk == sqlite::WalkResult::Damaged) {
        ++report.damaged;  // the rows past the damage
    }
    return wanted;
}

}  // namespace

std::optional<std::uint32_t> SqlCacheShards(FileSystem& fs, std::u16string_view folder) {
    const std::unique_ptr<ReadableFile> index = fs.OpenForReading(JoinPath(folder, u"index", fs.Separator()));
    if (!index) {
        return std::nullopt;
    }
    std::string bytes(kMaxSqlIndexSize + 1, '\0');
    std::size_t got = 0;
    if (!index->ReadAt(0, bytes.data(), bytes.size(), got)) {
        return std::nullopt;
    }
    bytes.resize(got);
    const std::optional<std::uint32_t> count = SqlShardCount(bytes);
    for (std::uint32_t shard = 0; count && shard < *count; ++shard) {
        if (!fs.Exists(JoinPath(folder, ShardFileName(shard, FileRole::Database), fs.Separator()))) {
            return std::nullopt;
        }
    }
    return count;
}

CacheReadReport ReadChromiumSql(FileSystem& fs, std::u16string_view folder, const CacheEntrySink& sink) {
    CacheReadReport report;
    const std::optional<std::uint32_t> count = SqlCacheShards(fs, folder);
    if (!count) {
        ++report.damaged;
        return report;
    }
    for (std::uint32_t index = 0; index < *count; ++index) {
        ShardFiles shard;
        shard.shard = index;
        shard.count = *count;
        if (!ReadShard(fs, folder, shard, sink, report)) {
            break;
        }
    }
    return report;
}

}  // namespace drovan
