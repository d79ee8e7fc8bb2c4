#include "extract/formats/chromium_sql.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
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
#include "extract/memory_budget.h"
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
// A shard whose blobs rows outgrow the budget is read in passes; past this many, its rows left are counted.
constexpr int kMaxPasses = 16;

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

// A blobs row as held until its resource is read: where its bytes lie, never the bytes. SQLite puts at most
// 87 bytes of this table's records before the blob, so a blob starts within its cell's page or the first
// linked page: two runs at most, the rest a tail. A row of other columns or more runs is unsound and damages
// its entry.
struct HeldRun {
    std::uint64_t offset = 0;
    std::uint32_t length = 0;
    FileRole file = FileRole::Database;
};

struct HeldBlob {
    std::int64_t resId = 0;
    SqlPiece piece;
    std::uint32_t checkSum = 0;
    bool sound = false;
    std::uint8_t runCount = 0;
    std::array<HeldRun, 2> runs;
    sqlite::ChainTail tail;
};

constexpr std::size_t kFirstHeldRows = 16;

// The blobs rows of res_ids [from, until) of one pass over a shard, sorted by res_id and start once
// collected. A shard whose rows the budget cannot hold at once is read in passes.
struct HeldBlobs {
    explicit HeldBlobs(MemoryBudget& budget) : lease(budget) {}

    std::vector<HeldBlob> rows;
    MemoryLease lease;
    std::int64_t from = INT64_MIN;
    std::optional<std::int64_t> until;  // none: to the last row
    // A res_id whose rows alone outgrow the budget: its entry is counted, not read.
    std::optional<std::int64_t> tooMany;
};

HeldBlob HoldBlob(const sqlite::Row& row) {
    using Columns = SqlBlobColumns;
    HeldBlob held;
    held.resId = row.columns[Columns::kResId].integer;
    const Value& start = row.columns[Columns::kStart];
    const Value& end = row.columns[Columns::kEnd];
    const Value& blob = row.columns[Columns::kBlob];
    const std::optional<std::uint32_t> checkSum = IsInteger(row.columns[Columns::kCheckSum])
                                                      ? Stored32(row.columns[Columns::kCheckSum].integer)
                                                      : std::nullopt;
    if (!IsInteger(start) || !IsInteger(end) || blob.type != Value::Type::Blob || !checkSum ||
        blob.runs.size() > held.runs.size()) {
        return held;
    }
    for (const sqlite::ByteRun& run : blob.runs) {
        // A run lies in one page.
        held.runs[held.runCount++] = {run.offset, static_cast<std::uint32_t>(run.length), run.file};
    }
    held.piece = {start.integer, end.integer, blob.size};
    held.checkSum = *checkSum;
    held.tail = blob.tail;
    held.sound = true;
    return held;
}

// The blob as a value; value's runs keep their room from the blob before.
void HeldValue(const HeldBlob& held, sqlite::Value& value) {
    value.type = Value::Type::Blob;
    value.size = held.piece.size;
    value.runs.clear();
    for (std::size_t i = 0; i < held.runCount; ++i) {
        value.runs.push_back({held.runs[i].file, held.runs[i].offset, held.runs[i].length});
    }
    value.tail = held.tail;
}

bool ByResIdAndStart(const HeldBlob& a, const HeldBlob& b) {
    return a.resId != b.resId ? a.resId < b.resId : a.piece.start < b.piece.start;
}

// Makes room by handing the rows of the higher half of the res_ids held to a later pass; a res_id whose rows
// fill the room alone is given up.
void PassOnHigherHalf(HeldBlobs& held) {
    std::sort(held.rows.begin(), held.rows.end(), ByResIdAndStart);
    const auto byResId = [](std::int64_t resId, const HeldBlob& blob) { return resId < blob.resId; };
    const std::int64_t lowest = held.rows.front().resId;
    auto cut = held.rows.begin() + static_cast<std::ptrdiff_t>(held.rows.size() / 2);
    if (cut->resId == lowest) {
        cut = std::upper_bound(held.rows.begin(), held.rows.end(), lowest, byResId);
    }
    if (cut == held.rows.end()) {
        held.tooMany = lowest;
        held.rows.clear();
        if (lowest < INT64_MAX) {
            held.until = lowest + 1;
        }
        return;
    }
    cut = std::upper_bound(held.rows.begin(), held.rows.end(), cut->resId - 1, byResId);
    held.until = cut->resId;
    held.rows.erase(cut, held.rows.end());
}

// Room for one more row, a larger block charged to the budget before it is taken, or the higher res_ids
// passed on; false when the budget has no room even for the first block.
bool RoomForOne(HeldBlobs& held, MemoryBudget& budget) {
    while (held.rows.size() == held.rows.capacity()) {
        const std::size_t capacity = std::max(kFirstHeldRows, 2 * held.rows.capacity());
        MemoryLease grown(budget);
        if (grown.Grow(capacity * sizeof(HeldBlob))) {
            held.rows.reserve(capacity);
            held.lease = std::move(grown);
        } else if (held.rows.empty()) {
            return false;
        } else {
            PassOnHigherHalf(held);
        }
    }
    return true;
}

// The blobs rows of res_ids from held.from on, in one walk, as many as the budget holds. False when it holds
// none.
bool CollectBlobs(sqlite::Database& database, HeldBlobs& held, MemoryBudget& budget) {
    bool room = true;
    database.ForEachRow("blobs", [&](const sqlite::Row& row) {
        using Columns = SqlBlobColumns;
        if (row.columns.size() < Columns::kCount || !IsInteger(row.columns[Columns::kResId])) {
            return true;
        }
        const std::int64_t resId = row.columns[Columns::kResId].integer;
        if (resId < held.from || (held.until && resId >= *held.until) || resId == held.tooMany) {
            return true;
        }
        room = RoomForOne(held, budget);
        if (!room) {
            return false;
        }
        // Its res_id may have been passed on to make the room.
        if ((!held.until || resId < *held.until) && resId != held.tooMany) {
            held.rows.push_back(HoldBlob(row));
        }
        return true;
    });
    std::sort(held.rows.begin(), held.rows.end(), ByResIdAndStart);
    return room;
}

// A live resources row as stored.
struct StoredResource {
    std::int64_t resId = 0;
    std::int64_t bodyEnd = 0;
    std::int64_t bytesUsage = 0;
    std::uint32_t checkSum = 0;
    std::uint32_t keyHash = 0;
    // In the row, which outlives the resource.
    const Value* key = nullptr;
    const Value* head = nullptr;
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
    resource = {row.rowid, bodyEnd.integer, bytesUsage.integer, *storedCheckSum, *storedKeyHash, &key, &head};
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

using HeldRows = std::vector<HeldBlob>::const_iterator;

// The body's pieces where the blobs' bytes lie in the shard's files, each checked by its check_sum as it
// streams. False when the blobs, sorted by start, do not make the body the row says.
bool PlaceBody(sqlite::Database& database, HeldRows first, HeldRows last, const StoredResource& resource,
               const ShardFiles& shard, CacheEntry& entry) {
    std::vector<SqlPiece> pieces;
    pieces.reserve(static_cast<std::size_t>(last - first));
    std::size_t bodyPieces = 0;
    for (HeldRows blob = first; blob != last; ++blob) {
        if (!blob->sound) {
            return false;
        }
        pieces.push_back(blob->piece);
        bodyPieces += blob->runCount + (blob->tail.length > 0 ? 1 : 0);
    }
    const bool sparse = entry.status == 206;
    if (!SqlPiecesFit(pieces, resource.bodyEnd, sparse) ||
        (!sparse && !entry.truncated && entry.contentLength &&
         *entry.contentLength != static_cast<std::uint64_t>(resource.bodyEnd))) {
        return false;
    }
    // Room taken once, within what EntryCost charged: three pieces and a check a blob at most.
    entry.pieces.reserve(bodyPieces);
    entry.checksums.reserve(pieces.size());
    Value value;
    for (HeldRows blob = first; blob != last; ++blob) {
        const std::uint64_t start = static_cast<std::uint64_t>(blob->piece.start);
        HeldValue(*blob, value);
        if (!PlaceBlob(value, start, blob->piece.size, shard, entry)) {
            return false;
        }
        if (start == 0) {
            entry.leadingBytes = database.ReadLeading(value, kTypeFirstRead).value_or("");
        }
        StoredChecksum checksum{StoredChecksum::Kind::Crc32, start, blob->piece.size, blob->checkSum};
        checksum.following = BigEndian32(resource.keyHash);
        checksum.followingSize = 4;
        entry.checksums.push_back(checksum);
        entry.storedSize += blob->piece.size;
    }
    return true;
}

// The keys of a shard's rows read so far, by a 64-bit hash of each: a second row of one key is damaged. Open
// addressing over a table at most three quarters full, charged to the budget.
class KeyHashes {
  public:
    explicit KeyHashes(MemoryBudget& budget) : m_budget(budget), m_lease(budget) {}

    enum class Added { New, Seen, OverBudget };

    Added Add(std::string_view key) {
        const std::uint64_t hash = std::hash<std::string_view>{}(key) | 1;  // 0 marks a free slot
        if (4 * (m_count + 1) > 3 * m_slots.size() && !Grow()) {
            return Added::OverBudget;
        }
        return Place(m_slots, hash) ? (++m_count, Added::New) : Added::Seen;
    }

  private:
    static bool Place(std::vector<std::uint64_t>& slots, std::uint64_t hash) {
        const std::size_t mask = slots.size() - 1;
        for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
            if (slots[at] == hash) {
                return false;
            }
            if (slots[at] == 0) {
                slots[at] = hash;
                return true;
            }
        }
    }

    bool Grow() {
        const std::size_t size = std::max<std::size_t>(kFirstHeldRows, 2 * m_slots.size());
        MemoryLease grown(m_budget);
        if (!grown.Grow(size * sizeof(std::uint64_t))) {
            return false;
        }
        std::vector<std::uint64_t> slots(size);
        for (const std::uint64_t hash : m_slots) {
            if (hash != 0) {
                Place(slots, hash);
            }
        }
        m_slots.swap(slots);
        m_lease = std::move(grown);
        return true;
    }

    MemoryBudget& m_budget;
    MemoryLease m_lease;
    std::vector<std::uint64_t> m_slots;
    std::size_t m_count = 0;
};

// What the passes over one shard share.
struct ShardRead {
    sqlite::Database& database;
    const SqlResourceColumns& columns;
    const ShardFiles& shard;
    KeyHashes& keys;
    MemoryBudget& budget;
    const CacheEntrySink& sink;
    CacheReadReport& report;
};

// What the entry of a body in blobs takes while it is built and handed on, at most: each blob's pieces (two
// runs and a tail) with their paths, and its check.
std::size_t EntryCost(std::size_t blobs, const ShardFiles& shard) {
    const std::size_t path = (shard.paths[0].size() + 8) * sizeof(char16_t);
    return blobs * (3 * (sizeof(BodyPiece) + path) + sizeof(StoredChecksum));
}

// The entry of a live row, when every check the row carries holds; overBudget when its key cannot be
// remembered.
RecordRead ReadResource(ShardRead& shard, const StoredResource& resource, HeldRows first, HeldRows last,
                        bool& overBudget) {
    RecordRead read;
    std::optional<std::string> key = shard.database.ReadValue(*resource.key, kMaxChromiumMetadata);
    if (!key || SuperFastHash(*key) != resource.keyHash ||
        resource.keyHash % shard.shard.count != shard.shard.shard) {
        return read;
    }
    const KeyHashes::Added added = shard.keys.Add(*key);
    overBudget = added == KeyHashes::Added::OverBudget;
    if (added != KeyHashes::Added::New) {
        return read;
    }
    if (resource.head->type == Value::Type::Null) {
        read.inUse = true;
        return read;
    }
    const std::optional<std::string> head = shard.database.ReadValue(*resource.head, kMaxChromiumMetadata);
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
    if (!PlaceBody(shard.database, first, last, resource, shard.shard, entry)) {
        return read;
    }
    DecideCompleteness(entry);
    read.entry = std::move(entry);
    return read;
}

// One pass: the live resources rows whose res_ids held covers, each handed on as the walk meets it (its page
// is still in memory); with counting, each counted as over the budget instead. wanted turns false when sink
// wants no more.
sqlite::WalkResult ReadResources(ShardRead& shard, const HeldBlobs& held, bool counting, bool& wanted) {
    HeldRows next = held.rows.begin();
    const auto byResId = [](const HeldBlob& blob, std::int64_t resId) { return blob.resId < resId; };
    return shard.database.ForEachRow("resources", [&](const sqlite::Row& row) {
        if (row.rowid < held.from) {
            return true;
        }
        if (held.until && row.rowid >= *held.until) {
            return false;
        }
        StoredResource resource;
        const RowState state = DecodeResource(row, shard.columns, resource);
        if (state != RowState::Live) {
            shard.report.damaged += state == RowState::Unsound ? 1 : 0;
            return true;
        }
        if (counting || resource.resId == held.tooMany) {
            ++shard.report.overBudget;
            return true;
        }
        // Rowids only grow in a walk, so each blobs row goes to one resource at most.
        next = std::lower_bound(next, held.rows.end(), resource.resId, byResId);
        const HeldRows last =
            std::upper_bound(next, held.rows.end(), resource.resId,
                             [](std::int64_t resId, const HeldBlob& blob) { return resId < blob.resId; });
        MemoryLease entry(shard.budget);
        bool overBudget = !entry.Grow(EntryCost(static_cast<std::size_t>(last - next), shard.shard));
        RecordRead read = overBudget ? RecordRead{} : ReadResource(shard, resource, next, last, overBudget);
        next = last;
        if (overBudget) {
            ++shard.report.overBudget;
            return true;
        }
        wanted = DeliverRecord(read, shard.report, shard.sink);
        return wanted;
    });
}

// Passes over the shard, each over the res_ids whose blobs rows the budget holds at once; past kMaxPasses
// passes, or with no room for any, the rows left are counted. False when sink wants no more.
bool ReadShardRows(ShardRead& shard) {
    std::int64_t from = INT64_MIN;
    for (int pass = 0;; ++pass) {
        HeldBlobs held(shard.budget);
        held.from = from;
        const bool counting = pass == kMaxPasses || !CollectBlobs(shard.database, held, shard.budget);
        if (counting) {
            held.until.reset();
        }
        bool wanted = true;
        if (ReadResources(shard, held, counting, wanted) == sqlite::WalkResult::Damaged) {
            ++shard.report.damaged;  // the rows past the damage
            return true;
        }
        if (!wanted || !held.until) {
            return wanted;
        }
        from = *held.until;
    }
}

// False when sink wants no more.
bool ReadShard(FileSystem& fs, std::u16string_view folder, ShardFiles& shard, const CacheEntrySink& sink,
               MemoryBudget& budget, CacheReadReport& report) {
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
    KeyHashes keys(budget);
    ShardRead read{*database, *columns, shard, keys, budget, sink, report};
    return ReadShardRows(read);
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
    MemoryBudget budget;
    return ReadChromiumSql(fs, folder, budget, sink);
}

CacheReadReport ReadChromiumSql(FileSystem& fs, std::u16string_view folder, MemoryBudget& budget,
                                const CacheEntrySink& sink) {
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
        if (!ReadShard(fs, folder, shard, sink, budget, report)) {
            break;
        }
    }
    return report;
}

}  // namespace drovan
