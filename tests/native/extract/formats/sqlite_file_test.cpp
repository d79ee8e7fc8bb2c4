#include "extract/formats/sqlite_file.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/memory_file_system.h"
#include "tests/support/temp_tree.h"

namespace drovan::sqlite {
namespace {

namespace fs = std::filesystem;
using tests::TempTree;

std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// One value as SQLite or our reader gives it; a row starts with its rowid.
struct Cell {
    Value::Type type = Value::Type::Null;
    std::int64_t integer = 0;
    double real = 0;
    std::string bytes;
    bool operator==(const Cell& other) const {
        return type == other.type && integer == other.integer && real == other.real && bytes == other.bytes;
    }
};
using Rows = std::vector<std::vector<Cell>>;

class Connection {
  public:
    explicit Connection(const fs::path& path) { sqlite3_open(path.c_str(), &m_db); }
    ~Connection() { sqlite3_close(m_db); }
    void Exec(const std::string& sql) {
        char* error = nullptr;
        EXPECT_EQ(sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << error;
        sqlite3_free(error);
    }
    Rows Query(const std::string& sql) {
        static const Value::Type kTypes[] = {Value::Type::Null, Value::Type::Integer, Value::Type::Real,
                                             Value::Type::Text, Value::Type::Blob,    Value::Type::Null};
        sqlite3_stmt* statement = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(m_db, sql.c_str(), -1, &statement, nullptr), SQLITE_OK) << sql;
        Rows rows;
        while (sqlite3_step(statement) == SQLITE_ROW) {
            rows.emplace_back();
            for (int i = 0; i < sqlite3_column_count(statement); ++i) {
                Cell cell{kTypes[sqlite3_column_type(statement, i)], 0, 0, {}};
                if (cell.type == Value::Type::Integer) {
                    cell.integer = sqlite3_column_int64(statement, i);
                } else if (cell.type == Value::Type::Real) {
                    cell.real = sqlite3_column_double(statement, i);
                } else if (cell.type != Value::Type::Null) {
                    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement, i));
                    cell.bytes.assign(bytes ? bytes : "",
                                      static_cast<std::size_t>(sqlite3_column_bytes(statement, i)));
                }
                rows.back().push_back(cell);
            }
        }
        sqlite3_finalize(statement);
        return rows;
    }

  private:
    sqlite3* m_db = nullptr;
};

// The bytes of a database's files as the reader gets them; an empty log or journal is absent.
struct Copy {
    std::string database, wal, journal;
};

struct Reading {
    bool opened = false;
    WalkResult result = WalkResult::Damaged;
    Rows rows;
    std::size_t unreadable = 0;  // values whose tails broke off
};

// Every text and blob is read both with ReadValue and by joining its runs straight from the files and its
// tail followed a page at a time.
Reading Read(const Copy& copy, const std::string& table) {
    tests::MemoryFileSystem files;
    const auto open = [&](const char16_t* path, const std::string& bytes) {
        files.AddFile(path, bytes);
        return bytes.empty() ? nullptr : files.OpenForReading(path);
    };
    const auto database = open(u"/db", copy.database), wal = open(u"/wal", copy.wal),
               journal = open(u"/journal", copy.journal);
    const DatabaseFiles opened{database.get(), wal.get(), journal.get()};
    const auto reader = Database::Open(opened);
    Reading reading;
    if (!reader) {
        return reading;
    }
    reading.opened = true;
    const std::string* const roles[] = {&copy.database, &copy.wal, &copy.journal};
    reading.result = reader->ForEachRow(table, [&](const Row& row) {
        reading.rows.push_back({Cell{Value::Type::Integer, row.rowid, 0, {}}});
        for (const Value& value : row.columns) {
            Cell cell{value.type, value.integer, value.real, {}};
            if (value.type == Value::Type::Text || value.type == Value::Type::Blob) {
                std::string joined;
                for (const ByteRun& run : value.runs) {
                    const std::string& file = *roles[static_cast<int>(run.file)];
                    joined += run.offset <= file.size() ? file.substr(run.offset, run.length) : "<outside>";
                }
                const ChainRead tail = FollowChain(*reader->pages(), opened, value.tail, 0, value.tail.length,
                                                   1, [&joined](const char* data, std::size_t size) {
                                                       joined.append(data, size);
                                                       return true;
                                                   });
                const std::optional<std::string> bytes = reader->ReadValue(value, SIZE_MAX);
                EXPECT_EQ(tail == ChainRead::Done, bytes.has_value());
                reading.unreadable += bytes ? 0 : 1;
                cell.bytes = bytes.value_or("<unreadable>");
                if (bytes) {
                    EXPECT_EQ(joined, *bytes);
                    EXPECT_EQ(value.size, bytes->size());
                }
            }
            reading.rows.back().push_back(cell);
        }
        return true;
    });
    return reading;
}

const char kTypes[] =
    "CREATE TABLE t(a, b, c, d); INSERT INTO t VALUES"
    "(0, 1, -1, 127), (128, -129, 32767, -32769), (8388607, -8388609, 2147483647, -2147483649),"
    "(140737488355327, -140737488355329, 9223372036854775807, -9223372036854775808),"
    "(1.5, -0.25, 1e300, NULL), ('', x'', 'h\xC3\xA9llo', x'00ff'),"
    "(zeroblob(3000), randomblob(70000), replace(hex(zeroblob(2500)), '0', 'x'), 7);";
const char kManyRows[] =
    "CREATE TABLE t(a INTEGER, b TEXT, c BLOB);"
    "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000)"
    "INSERT INTO t SELECT i, 'row ' || i, randomblob(i % 700) FROM n;";
const std::string kDeletedRows =
    std::string(kManyRows) + "DELETE FROM t WHERE a % 3 = 0; UPDATE t SET b = b || '!' WHERE a % 5 = 0;";
const char kBigValues[] =
    "CREATE TABLE t(a, b);"
    "INSERT INTO t VALUES (1, randomblob(300000)), (2, randomblob(5)), (3, randomblob(100000));";
const char kAllRows[] = "SELECT rowid, * FROM t ORDER BY rowid";

// A database filled by sql, and its rows; then runs before the files are copied. They are copied while the
// connection still holds the database: a log is not yet folded into it.
struct Built {
    Copy copy;
    Rows expected;
};
Built Build(const TempTree& tree, int pageSize, bool wal, const std::string& sql,
            const std::string& then = "") {
    const fs::path path = tree / "db";
    Built built;
    Connection db(path);
    db.Exec("PRAGMA page_size=" + std::to_string(pageSize) +
            "; PRAGMA journal_mode=" + (wal ? "WAL" : "DELETE") + "; PRAGMA wal_autocheckpoint=0;" + sql);
    built.expected = db.Query(kAllRows);
    db.Exec(then);
    built.copy = {Slurp(path), Slurp(tree / "db-wal"), ""};
    return built;
}

TEST(SqliteFile, ReadsWhatSqliteWrote) {
    const struct {
        int pageSize;
        bool wal;
        std::string sql;
    } cases[] = {
        {512, false, kTypes},       {512, true, kManyRows},    {512, false, kDeletedRows},
        {512, true, kBigValues},    {4096, false, kManyRows},  {4096, true, kTypes},
        {4096, true, kDeletedRows}, {4096, false, kBigValues}, {65536, false, kBigValues},
        {65536, true, kManyRows},   {65536, false, kTypes},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.pageSize) + (c.wal ? " wal " : " rollback ") + c.sql.substr(0, 40));
        TempTree tree;
        const Built built = Build(tree, c.pageSize, c.wal, c.sql);
        EXPECT_EQ(built.copy.wal.empty(), !c.wal);
        const Reading reading = Read(built.copy, "t");
        EXPECT_EQ(reading.result, WalkResult::Finished);
        EXPECT_TRUE(reading.rows == built.expected);
    }
}

// Overwrites the last frame's last page byte: its checksum fails.
void SpoilLastFrame(std::string& wal) {
    wal.back() = static_cast<char>(wal.back() ^ 1);
}
void CutLastFrame(std::string& wal) {
    wal.resize(wal.size() - 4096 - 24);
}

TEST(SqliteFile, CountsTheLogUpToItsLastSoundCommit) {
    const struct {
        const char* name;
        const char* then;
        void (*spoil)(std::string&);
        bool thenCounts;
    } cases[] = {
        // After a checkpoint the log starts over: the earlier frames behind are of other salts.
        {"stale tail", "PRAGMA wal_checkpoint; UPDATE t SET b = 'new' WHERE a = 7;", nullptr, true},
        {"bad checksum", "UPDATE t SET b = 'new' WHERE a = 7;", SpoilLastFrame, false},
        {"cut commit", "UPDATE t SET b = 'new' WHERE a = 7;", CutLastFrame, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempTree tree;
        Built built = Build(tree, 4096, true, kManyRows, c.then);
        if (c.thenCounts) {
            built.expected = Connection(tree / "db").Query(kAllRows);
            EXPECT_GT(built.copy.wal.size(), 100 * 4096u);  // the earlier generation's frames are still there
        }
        if (c.spoil) {
            c.spoil(built.copy.wal);
        }
        const Reading reading = Read(built.copy, "t");
        EXPECT_EQ(reading.result, WalkResult::Finished);
        EXPECT_TRUE(reading.rows == built.expected);
    }
}

TEST(SqliteFile, RollsBackAHotJournal) {
    // Synced journals come in segments, each with its own header; unsynced ones count their pages to the end.
    for (const char* synchronous : {"FULL", "OFF"}) {
        SCOPED_TRACE(synchronous);
        TempTree tree;
        Connection db(tree / "db");
        // A small cache spills the transaction into the database file before it commits.
        db.Exec(std::string("PRAGMA page_size=1024; PRAGMA cache_size=200; PRAGMA synchronous=") +
                synchronous + ";" + kManyRows);
        const Rows before = db.Query(kAllRows);
        const std::string committed = Slurp(tree / "db");
        db.Exec("BEGIN; UPDATE t SET b = hex(randomblob(40)); DELETE FROM t WHERE a > 2000;");
        const Copy midTransaction{Slurp(tree / "db"), "", Slurp(tree / "db-journal")};
        db.Exec("ROLLBACK");
        ASSERT_NE(midTransaction.database, committed);
        const Rows asFile = Read({midTransaction.database, "", ""}, "t").rows;
        ASSERT_FALSE(asFile == before);

        std::string spoiled = midTransaction.journal;
        spoiled[512 + 4 + 1024 + 3] ^= 1;  // the checksum of the first page record: nothing is rolled back

        const struct {
            const char* name;
            std::string journal;
            const Rows& rows;
            bool expected;  // whether the reader gives rows
        } cases[] = {
            {"hot", midTransaction.journal, before, true},
            {"bad checksum", spoiled, before, false},
            {"zeroed header", std::string(28, '\0') + midTransaction.journal.substr(28), asFile, true},
            {"empty", "", asFile, true},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(c.name);
            EXPECT_EQ(Read({midTransaction.database, "", c.journal}, "t").rows == c.rows, c.expected);
        }
    }
}

std::uint32_t Page(Connection& db, const std::string& where) {
    const Rows rows =
        db.Query("SELECT pageno FROM dbstat WHERE name = 't' AND " + where + " ORDER BY path LIMIT 1");
    return rows.empty() ? 0 : static_cast<std::uint32_t>(rows[0][0].integer);
}

void PutBE32(std::string& bytes, std::size_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[offset + i] = static_cast<char>(value >> (24 - 8 * i));
    }
}

TEST(SqliteFile, EndsAWalkAtDamage) {
    TempTree tree;
    constexpr std::size_t kPage = 512;
    Connection db(tree / "db");
    db.Exec(std::string("PRAGMA page_size=512;") + kManyRows +
            "INSERT INTO t VALUES (4000, 'big', randomblob(3000));");
    const std::size_t root = (Page(db, "path = '/'") - 1) * kPage;
    const std::size_t interior = (Page(db, "pagetype = 'internal' AND path != '/'") - 1) * kPage;
    // The second page of the big value's chain: a loop there is met before the value is covered.
    const std::uint32_t overflowPage = Page(db, "pagetype = 'overflow' AND path LIKE '%+000001'");
    const std::size_t leaf = (Page(db, "pagetype = 'leaf'") - 1) * kPage;
    const std::string sound = Slurp(tree / "db");
    const std::size_t firstCell = leaf + static_cast<unsigned char>(sound[leaf + 8]) * 256u +
                                  static_cast<unsigned char>(sound[leaf + 9]);

    // A value's tail is followed only when it is read: a loop there leaves the walk whole and the value
    // unreadable.
    const struct {
        const char* name;
        std::function<void(std::string&)> damage;
        WalkResult walk;
        std::size_t unreadable;
    } cases[] = {
        {"child past the end", [&](std::string& b) { PutBE32(b, root + 8, 0xFFFFFF); }, WalkResult::Damaged,
         0},
        {"cycle of interior pages", [&](std::string& b) { PutBE32(b, interior + 8, root / kPage + 1); },
         WalkResult::Damaged, 0},
        {"overflow loop", [&](std::string& b) { PutBE32(b, (overflowPage - 1) * kPage, overflowPage); },
         WalkResult::Finished, 1},
        {"cell pointer past the page", [&](std::string& b) { b[leaf + 8] = 0x04; }, WalkResult::Damaged, 0},
        {"record header past the payload", [&](std::string& b) { b[firstCell + 2] = 0x7F; },
         WalkResult::Damaged, 0},
        {"value past the payload", [&](std::string& b) { b[firstCell + 5] = 0x7F; }, WalkResult::Damaged, 0},
        {"truncated file", [&](std::string& b) { b.resize(b.size() / 2); }, WalkResult::Damaged, 0},
    };
    ASSERT_EQ(Read({sound, "", ""}, "t").result, WalkResult::Finished);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string damaged = sound;
        c.damage(damaged);
        const Reading reading = Read({damaged, "", ""}, "t");
        EXPECT_EQ(reading.result, c.walk);
        EXPECT_EQ(reading.unreadable, c.unreadable);
    }
}

// A cell that claims more payload than the file's pages could hold: its tail is never followed, yet the walk
// that would leave it is damaged, so that tails cannot make the reading outgrow the file.
TEST(SqliteFile, BoundsTailsByTheFile) {
    TempTree tree;
    constexpr std::size_t kPage = 512;
    constexpr std::size_t kPart = kPage - 4;
    Connection(tree / "db")
        .Exec("PRAGMA page_size=512; CREATE TABLE t(a, b); INSERT INTO t VALUES (1, randomblob(3000));");
    std::string bytes = Slurp(tree / "db");
    ASSERT_EQ(Read({bytes, "", ""}, "t").result, WalkResult::Finished);
    // Page 2 is the table's only leaf; its cell starts with a 2-byte payload size. Whole overflow pages more
    // leave the local part where it is.
    const std::size_t cell = kPage + static_cast<unsigned char>(bytes[kPage + 8]) * 256u +
                             static_cast<unsigned char>(bytes[kPage + 9]);
    const std::size_t claimed = ((bytes[cell] & 0x7F) << 7 | bytes[cell + 1]) + 20 * kPart;
    bytes[cell] = static_cast<char>(0x80 | claimed >> 7);
    bytes[cell + 1] = static_cast<char>(claimed & 0x7F);
    EXPECT_EQ(Read({bytes, "", ""}, "t").result, WalkResult::Damaged);
}

TEST(SqliteFile, JudgesTheHeader) {
    TempTree tree;
    const Built built = Build(tree, 4096, false, kManyRows);
    const auto put = [](std::size_t offset, std::string bytes) {
        return [=](std::string& b) { b.replace(offset, bytes.size(), bytes); };
    };
    const struct {
        const char* name;
        std::function<void(std::string&)> change;
        bool opens;
        WalkResult result;
    } cases[] = {
        {"UTF-16 text", put(56, std::string("\0\0\0\2", 4)), false, WalkResult::Damaged},
        {"page size not a power of two", put(16, "\x03\xE8"), false, WalkResult::Damaged},
        {"write version 3", put(18, "\x03"), false, WalkResult::Damaged},
        {"page count", put(28, std::string("\0\0\0\1", 4)), true, WalkResult::Damaged},
        // A count that the change counter no longer vouches for yields to the file's size.
        {"stale page count",
         [&](std::string& b) { put(28, std::string("\0\0\0\1", 4))(b), put(92, "\xFF")(b); }, true,
         WalkResult::Finished},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string database = built.copy.database;
        c.change(database);
        const Reading reading = Read({database, "", ""}, "t");
        EXPECT_EQ(reading.opened, c.opens);
        EXPECT_EQ(reading.result, c.result);
        EXPECT_EQ(reading.rows == built.expected, c.result == WalkResult::Finished);
    }
}

TEST(SqliteFile, ReadsTheCommittedChromiumCaches) {
    const struct {
        const char* table;
        const char* query;  // the INTEGER PRIMARY KEY column is stored as NULL
    } tables[] = {
        {"resources",
         "SELECT rowid, NULL, last_used, hints, body_end, bytes_usage, doomed, check_sum, cache_key_hash, "
         "cache_key, "
         "head FROM resources ORDER BY rowid"},
        {"blobs", "SELECT rowid, NULL, res_id, start, end, check_sum, blob FROM blobs ORDER BY rowid"},
    };
    for (const char* folder : {"chromium-sql", "chromium-sql-wal"}) {
        for (const char* shard : {"sqldb0", "sqldb1", "sqldb2"}) {
            SCOPED_TRACE(std::string(folder) + "/" + shard);
            const fs::path source = fs::path(DROVAN_TEST_DATA_DIR) / folder / shard;
            const Copy copy{Slurp(source), Slurp(source.string() + "-wal"),
                            Slurp(source.string() + "-journal")};
            TempTree tree;
            tree.Write("db", copy.database);
            if (!copy.wal.empty()) {
                tree.Write("db-wal", copy.wal);
            }
            Connection db(tree / "db");
            for (const auto& table : tables) {
                const Reading reading = Read(copy, table.table);
                EXPECT_EQ(reading.result, WalkResult::Finished);
                EXPECT_FALSE(reading.rows.empty());
                EXPECT_TRUE(reading.rows == db.Query(table.query));
            }
        }
    }
}

}  // namespace
}  // namespace drovan::sqlite
