#pragma once

// Chromium SQL cache folders made with the system's SQLite: the index, the schema, meta and rows as
// Chromium 156 writes them, in the rollback-journal mode it uses by default.

#include <sqlite3.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "extract/formats/chromium_simple.h"

namespace drovan::tests {

struct SqlCacheRow {
    std::string key;
    std::optional<std::string> head;  // the pickled response info; none stores NULL (in use)
    std::vector<std::pair<std::int64_t, std::string>> pieces;  // body offset, bytes
};

constexpr const char* kSqlCacheSchema =
    "CREATE TABLE resources(res_id INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT,last_used INTEGER NOT NULL,"
    "hints INTEGER NOT NULL,body_end INTEGER NOT NULL,bytes_usage INTEGER NOT NULL,doomed INTEGER NOT NULL,"
    "check_sum INTEGER NOT NULL,cache_key_hash INTEGER NOT NULL,cache_key TEXT NOT NULL,head BLOB);"
    "CREATE TABLE blobs(blob_id INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT,res_id INTEGER NOT NULL,"
    "start INTEGER NOT NULL,end INTEGER NOT NULL,check_sum INTEGER NOT NULL,blob BLOB NOT NULL);"
    "CREATE INDEX index_resources_cache_key_hash_doomed ON resources(cache_key_hash, doomed);"
    "CREATE INDEX index_live_resources_last_used_bytes_usage ON resources(last_used, bytes_usage) "
    "WHERE doomed=0;"
    "CREATE INDEX index_live_resources_hints ON resources(hints) WHERE hints!=0 AND doomed=0;"
    "CREATE UNIQUE INDEX index_blobs_res_id_start ON blobs(res_id, start);"
    "CREATE TABLE meta(key LONGVARCHAR NOT NULL UNIQUE PRIMARY KEY, value LONGVARCHAR);"
    "INSERT INTO meta VALUES('mmap_status','-1'),('version','8'),('last_compatible_version','8'),"
    "('SharedCacheEnabled','0');";

// CRC-32 of bytes, then of the key's hash as 4 bytes big-endian, as a signed 32-bit value.
inline std::int64_t SqlRowCheckSum(const std::string& bytes, std::uint32_t keyHash) {
    const unsigned char hash[4] = {
        static_cast<unsigned char>(keyHash >> 24), static_cast<unsigned char>(keyHash >> 16),
        static_cast<unsigned char>(keyHash >> 8), static_cast<unsigned char>(keyHash)};
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size()));
    crc = crc32(crc, hash, 4);
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(crc));
}

// One database, closed at the end.
class SqlDatabase {
  public:
    explicit SqlDatabase(const std::filesystem::path& path) {
        if (sqlite3_open(path.string().c_str(), &m_db) != SQLITE_OK) {
            throw std::runtime_error("cannot open " + path.string());
        }
        Execute("PRAGMA synchronous=OFF");  // test data: no need to survive a power cut
    }
    ~SqlDatabase() { sqlite3_close(m_db); }
    SqlDatabase(const SqlDatabase&) = delete;
    SqlDatabase& operator=(const SqlDatabase&) = delete;

    void Execute(const std::string& sql) {
        char* error = nullptr;
        if (sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
            const std::string message = error ? error : "?";
            sqlite3_free(error);
            throw std::runtime_error(sql + ": " + message);
        }
    }

    void Insert(const SqlCacheRow& row) {
        const std::uint32_t keyHash = SuperFastHash(row.key);
        std::int64_t bodyEnd = 0;
        for (const auto& [start, bytes] : row.pieces) {
            bodyEnd = std::max<std::int64_t>(bodyEnd, start + static_cast<std::int64_t>(bytes.size()));
        }
        const std::string head = row.head.value_or("");
        Statement resource(m_db,
                           "INSERT INTO resources(last_used,hints,body_end,bytes_usage,doomed,check_sum,"
                           "cache_key_hash,cache_key,head) VALUES(13300000000000000,0,?,?,0,?,?,?,?)");
        sqlite3_bind_int64(resource.get(), 1, bodyEnd);
        sqlite3_bind_int64(resource.get(), 2,
                           bodyEnd + static_cast<std::int64_t>(head.size() + row.key.size()));
        sqlite3_bind_int64(resource.get(), 3, SqlRowCheckSum(head, keyHash));
        sqlite3_bind_int64(resource.get(), 4, static_cast<std::int32_t>(keyHash));
        sqlite3_bind_text(resource.get(), 5, row.key.data(), static_cast<int>(row.key.size()), SQLITE_STATIC);
        if (row.head) {
            sqlite3_bind_blob(resource.get(), 6, head.data(), static_cast<int>(head.size()), SQLITE_STATIC);
        }
        resource.Run();
        const std::int64_t resId = sqlite3_last_insert_rowid(m_db);
        for (const auto& [start, bytes] : row.pieces) {
            Statement blob(m_db, "INSERT INTO blobs(res_id,start,end,check_sum,blob) VALUES(?,?,?,?,?)");
            sqlite3_bind_int64(blob.get(), 1, resId);
            sqlite3_bind_int64(blob.get(), 2, start);
            sqlite3_bind_int64(blob.get(), 3, start + static_cast<std::int64_t>(bytes.size()));
            sqlite3_bind_int64(blob.get(), 4, SqlRowCheckSum(bytes, keyHash));
            sqlite3_bind_blob(blob.get(), 5, bytes.data(), static_cast<int>(bytes.size()), SQLITE_STATIC);
            blob.Run();
        }
    }

  private:
    class Statement {
      public:
        Statement(sqlite3* db, const char* sql) {
            if (sqlite3_prepare_v2(db, sql, -1, &m_statement, nullptr) != SQLITE_OK) {
                throw std::runtime_error(sql);
            }
        }
        ~Statement() { sqlite3_finalize(m_statement); }
        Statement(const Statement&) = delete;
        Statement& operator=(const Statement&) = delete;
        sqlite3_stmt* get() const { return m_statement; }
        void Run() {
            if (sqlite3_step(m_statement) != SQLITE_DONE) {
                throw std::runtime_error("insert failed");
            }
        }

      private:
        sqlite3_stmt* m_statement = nullptr;
    };

    sqlite3* m_db = nullptr;
};

inline std::filesystem::path SqlShardPath(const std::filesystem::path& folder, std::uint32_t shard) {
    return folder / ("sqldb" + std::to_string(shard));
}

// A folder of shards databases holding count rows, made one at a time, each in the shard its key's hash
// picks.
inline void WriteSqlCache(const std::filesystem::path& folder, std::size_t count,
                          const std::function<SqlCacheRow(std::size_t)>& makeRow, std::uint32_t shards = 3) {
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "index", std::ios::binary) << "SQLCacheTruncate" << shards;
    std::vector<std::unique_ptr<SqlDatabase>> databases;
    for (std::uint32_t shard = 0; shard < shards; ++shard) {
        databases.push_back(std::make_unique<SqlDatabase>(SqlShardPath(folder, shard)));
        databases.back()->Execute(
            "PRAGMA page_size=4096; PRAGMA auto_vacuum=INCREMENTAL; PRAGMA journal_mode=TRUNCATE;");
        databases.back()->Execute(kSqlCacheSchema);
        databases.back()->Execute("BEGIN");
    }
    for (std::size_t i = 0; i < count; ++i) {
        const SqlCacheRow row = makeRow(i);
        databases[SuperFastHash(row.key) % shards]->Insert(row);
    }
    for (const auto& database : databases) {
        database->Execute("COMMIT");
    }
}

inline void WriteSqlCache(const std::filesystem::path& folder, const std::vector<SqlCacheRow>& rows,
                          std::uint32_t shards = 3) {
    WriteSqlCache(
        folder, rows.size(), [&rows](std::size_t i) { return rows[i]; }, shards);
}

}  // namespace drovan::tests
