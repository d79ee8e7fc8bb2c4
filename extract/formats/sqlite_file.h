#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "extract/file_system.h"

namespace drovan::sqlite {

// A read-only reader of SQLite 3 database files (https://www.sqlite.org/fileformat2.html): table b-trees, the
// records in their cells, overflow chains, the write-ahead log beside a database and a hot rollback journal.
// It never writes and never locks: the files are read as bytes, as a copy would be. Every page is read with
// its bounds checked; a page reached twice in one walk, a cell that leaves its page, a chain longer than the
// file, or a frame of the log that fails its checksum ends that walk as damaged, never the process.

// Which of the files a run of bytes lies in.
enum class FileRole { Database, Wal, Journal };

struct ByteRun {
    FileRole file = FileRole::Database;
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
};

// Where a value goes on past its runs: length bytes through the chain of overflow pages from firstPage on.
// A walk leaves the chain unfollowed, so that listing a table of large values reads none of their pages.
struct ChainTail {
    std::uint32_t firstPage = 0;
    std::uint64_t length = 0;
};

// One column of a record. Text and blob values are not read: runs say where their first bytes lie, in order,
// and the tail where the rest goes on.
struct Value {
    enum class Type { Null, Integer, Real, Text, Blob };
    Type type = Type::Null;
    std::int64_t integer = 0;
    double real = 0;
    std::uint64_t size = 0;  // bytes of a text or blob: the runs' lengths and the tail's
    std::vector<ByteRun> runs;
    ChainTail tail;
};

// A row of a table: an INTEGER PRIMARY KEY column is stored as NULL and its value is the rowid.
struct Row {
    std::int64_t rowid = 0;
    std::vector<Value> columns;
};

// The files of one database. The log and the journal may be null (absent or empty).
struct DatabaseFiles {
    ReadableFile* database = nullptr;
    ReadableFile* wal = nullptr;
    ReadableFile* journal = nullptr;
};

// Where each page of a database lies once its log or journal is applied. It stays the same after the
// database is closed, so that a value's tail can be followed later through the same files.
struct PageMap {
    std::uint32_t pageSize = 0;
    std::uint32_t usableSize = 0;
    std::uint64_t pageCount = 0;
    std::uint64_t databaseFileSize = 0;
    FileRole overlayFile = FileRole::Wal;
    std::unordered_map<std::uint32_t, std::uint64_t> overlayOffsets;

    // Whether any page lies in the log or the journal.
    bool overlaid() const { return !overlayOffsets.empty(); }
    // The bytes of a value each overflow page holds, after its link to the next.
    std::uint32_t overflowPartSize() const;
};

// Where a page's pageSize bytes lie; none for page 0, a page past the database's size or past its file's end.
std::optional<ByteRun> LocatePage(const PageMap& pages, std::uint32_t page);

enum class ChainRead { Done, Stopped, Damaged, ReadFailed };

// Gives bytes [skip, skip + length) of a tail to take in order, in pieces of at most maxPiece bytes (at least
// one page's worth): a run of pages that lie one after another is read at once. Damaged when a page is
// missing from the database or met twice, ReadFailed when a page's bytes cannot be read (a file shortened
// since), Stopped when take returns false.
ChainRead FollowChain(const PageMap& pages, DatabaseFiles files, const ChainTail& tail, std::uint64_t skip,
                      std::uint64_t length, std::size_t maxPiece,
                      const std::function<bool(const char*, std::size_t)>& take);

enum class WalkResult { Finished, Stopped, Damaged };

class Database {
  public:
    // None unless the database's header reads soundly. The log's frames count up to its last sound commit,
    // frames of an older generation (other salts) are ignored; a hot journal's pages replace the database's.
    static std::unique_ptr<Database> Open(DatabaseFiles files);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    std::shared_ptr<const PageMap> pages() const;

    // The rows of the table named table (from sqlite_schema) in rowid order; visit returns false to stop.
    // Rows before a damaged page are still visited. A table the schema does not name is Damaged too, and so
    // is one whose values' tails would take more pages than the database has left.
    WalkResult ForEachRow(std::string_view table, const std::function<bool(const Row&)>& visit);

    // A text or blob value's bytes, its tail followed, when it holds at most maxSize of them and they read
    // soundly.
    std::optional<std::string> ReadValue(const Value& value, std::size_t maxSize);

    // Up to maxSize of a text or blob value's first bytes, as far as its runs hold them. The page they start
    // in is read whole and kept a while: values on the same page read next come from memory.
    std::optional<std::string> ReadLeading(const Value& value, std::size_t maxSize);

  private:
    struct State;
    explicit Database(std::unique_ptr<State> state);
    std::unique_ptr<State> m_state;
};

}  // namespace drovan::sqlite
