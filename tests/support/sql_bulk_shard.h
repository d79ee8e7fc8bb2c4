#pragma once

// A Chromium SQL cache of one shard holding many rows, written in seconds: statements prepared once, one
// transaction, no journal. A million rows of 512-byte bodies make a shard of about 890 MB.

#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>

#include "tests/support/cache_builders.h"
#include "tests/support/sql_cache_builder.h"

namespace drovan::tests {

// Row i keys https://bulk.example/i.bin, its body bodySize bytes that start with i, in one blob.
inline void WriteBulkSqlShard(const std::filesystem::path& folder, std::size_t rows, std::size_t bodySize) {
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "index", std::ios::binary) << "SQLCacheTruncate1";
    {
        SqlDatabase schema(SqlShardPath(folder, 0));
        schema.Execute("PRAGMA page_size=4096; PRAGMA auto_vacuum=INCREMENTAL;");
        schema.Execute(kSqlCacheSchema);
    }
    sqlite3* opened = nullptr;
    sqlite3_open(SqlShardPath(folder, 0).string().c_str(), &opened);
    const std::unique_ptr<sqlite3, int (*)(sqlite3*)> db(opened, sqlite3_close);
    const auto prepare = [&db](const char* sql) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db.get(), sql, -1, &statement, nullptr) != SQLITE_OK) {
            throw std::runtime_error(sql);
        }
        return std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)>(statement, sqlite3_finalize);
    };
    sqlite3_exec(db.get(), "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; BEGIN", nullptr, nullptr,
                 nullptr);
    const auto resource = prepare(
        "INSERT INTO resources(res_id,last_used,hints,body_end,bytes_usage,doomed,check_sum,cache_key_hash,"
        "cache_key,head) VALUES(?,13300000000000000,0,?,?,0,?,?,?,?)");
    const auto blob = prepare("INSERT INTO blobs(res_id,start,end,check_sum,blob) VALUES(?,0,?,?,?)");
    const std::string head =
        ResponseInfo(RawHeaders("HTTP/1.1 200 OK\nContent-Type: application/octet-stream\n"
                                "Content-Length: " +
                                std::to_string(bodySize)));
    std::string body = Pattern(bodySize);
    for (std::size_t i = 1; i <= rows; ++i) {
        const std::string key = "1/0/_dk_https://bulk.example https://bulk.example https://bulk.example/" +
                                std::to_string(i) + ".bin";
        const std::string number = std::to_string(i);
        body.replace(0, std::min(number.size(), bodySize), number, 0, bodySize);
        const std::uint32_t keyHash = SuperFastHash(key);
        const auto id = static_cast<sqlite3_int64>(i);
        const auto end = static_cast<sqlite3_int64>(bodySize);
        sqlite3_bind_int64(resource.get(), 1, id);
        sqlite3_bind_int64(resource.get(), 2, end);
        sqlite3_bind_int64(resource.get(), 3, end + static_cast<sqlite3_int64>(head.size() + key.size()));
        sqlite3_bind_int64(resource.get(), 4, SqlRowCheckSum(head, keyHash));
        sqlite3_bind_int64(resource.get(), 5, static_cast<std::int32_t>(keyHash));
        sqlite3_bind_text(resource.get(), 6, key.data(), static_cast<int>(key.size()), SQLITE_STATIC);
        sqlite3_bind_blob(resource.get(), 7, head.data(), static_cast<int>(head.size()), SQLITE_STATIC);
        sqlite3_bind_int64(blob.get(), 1, id);
        sqlite3_bind_int64(blob.get(), 2, end);
        sqlite3_bind_int64(blob.get(), 3, SqlRowCheckSum(body, keyHash));
        sqlite3_bind_blob(blob.get(), 4, body.data(), static_cast<int>(body.size()), SQLITE_STATIC);
        for (sqlite3_stmt* statement : {resource.get(), blob.get()}) {
            if (sqlite3_step(statement) != SQLITE_DONE || sqlite3_reset(statement) != SQLITE_OK) {
                throw std::runtime_error("insert failed");
            }
        }
    }
    sqlite3_exec(db.get(), "COMMIT", nullptr, nullptr, nullptr);
}

}  // namespace drovan::tests
