#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
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

// One column of a record. Text and blob values are not read: runs say where their bytes lie, in order.
struct Value {
    enum class Type { Null, Integer, Real, Text, Blob };
    Type type = Type::Null;
    std::int64_t integer = 0;
    double real = 0;
    std::uint64_t size = 0;  // bytes of a text or blob
    std::vector<ByteRun> runs;
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

enum class WalkResult { Finished, Stopped, Damaged };

class Database {
  public:
    // None unless the database's header reads soundly. The log's frames count up to its last sound commit,
    // frames of an older generation (other salts) are ignored; a hot journal's pages replace the database's.
    static std::unique_ptr<Database> Open(DatabaseFiles files);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    std::uint32_t pageSize() const;
    // Header bytes 18 and 19 are 2 (write-ahead log).
    bool walMode() const;

    // The rows of the table named table (from sqlite_schema) in rowid order; visit returns false to stop.
    // Rows before a damaged page are still visited. A table the schema does not name is Damaged too.
    WalkResult ForEachRow(std::string_view table, const std::function<bool(const Row&)>& visit);

    // A text or blob value's bytes, when it holds at most maxSize of them and they read soundly.
    std::optional<std::string> ReadValue(const Value& value, std::size_t maxSize);

  private:
    struct State;
    explicit Database(std::unique_ptr<State> state);
    std::unique_ptr<State> m_state;
};

}  // namespace drovan::sqlite
