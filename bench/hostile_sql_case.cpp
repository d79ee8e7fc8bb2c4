// One SQL backend shard of very many small responses: the listing's tables grow with its rows.
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "bench/hostile_cases.h"
#include "tests/support/cache_builders.h"
#include "tests/support/sql_cache_builder.h"

namespace drovan::bench {
namespace {

namespace fs = std::filesystem;
using namespace drovan::tests;

void Check(int status, sqlite3* database) {
    if (status != SQLITE_OK && status != SQLITE_DONE) {
        std::fprintf(stderr, "sqlite: %s\n", sqlite3_errmsg(database));
        std::exit(1);
    }
}

void Insert(sqlite3* database, sqlite3_stmt* resource, sqlite3_stmt* blob, const std::string& key,
            const std::string& head, const std::string& body) {
    const std::uint32_t keyHash = SuperFastHash(key);
    const auto bodyEnd = static_cast<sqlite3_int64>(body.size());
    sqlite3_bind_int64(resource, 1, bodyEnd);
    sqlite3_bind_int64(resource, 2, bodyEnd + static_cast<sqlite3_int64>(head.size() + key.size()));
    sqlite3_bind_int64(resource, 3, SqlRowCheckSum(head, keyHash));
    sqlite3_bind_int64(resource, 4, static_cast<std::int32_t>(keyHash));
    sqlite3_bind_text(resource, 5, key.data(), static_cast<int>(key.size()), SQLITE_STATIC);
    sqlite3_bind_blob(resource, 6, head.data(), static_cast<int>(head.size()), SQLITE_STATIC);
    Check(sqlite3_step(resource), database);
    sqlite3_reset(resource);
    sqlite3_bind_int64(blob, 1, sqlite3_last_insert_rowid(database));
    sqlite3_bind_int64(blob, 2, bodyEnd);
    sqlite3_bind_int64(blob, 3, SqlRowCheckSum(body, keyHash));
    sqlite3_bind_blob(blob, 4, body.data(), static_cast<int>(body.size()), SQLITE_STATIC);
    Check(sqlite3_step(blob), database);
    sqlite3_reset(blob);
}

// As the tests' builder writes a shard, with its statements made once and no journal while it is made (the
// journal mode is not kept in the file): about 890 bytes a row, key, stored response and a 500-byte body.
void WriteShard(const fs::path& folder, std::size_t rows) {
    std::ofstream(folder / "index", std::ios::binary) << "SQLCacheTruncate1";
    sqlite3* database = nullptr;
    Check(sqlite3_open(SqlShardPath(folder, 0).c_str(), &database), database);
    Check(sqlite3_exec(database,
                       "PRAGMA page_size=4096; PRAGMA auto_vacuum=INCREMENTAL; PRAGMA synchronous=OFF; "
                       "PRAGMA journal_mode=OFF;",
                       nullptr, nullptr, nullptr),
          database);
    Check(sqlite3_exec(database, kSqlCacheSchema, nullptr, nullptr, nullptr), database);
    Check(sqlite3_exec(database, "BEGIN", nullptr, nullptr, nullptr), database);
    sqlite3_stmt* resource = nullptr;
    sqlite3_stmt* blob = nullptr;
    Check(sqlite3_prepare_v2(database,
                             "INSERT INTO resources(last_used,hints,body_end,bytes_usage,doomed,check_sum,"
                             "cache_key_hash,cache_key,head) VALUES(13300000000000000,0,?,?,0,?,?,?,?)",
                             -1, &resource, nullptr),
          database);
    Check(sqlite3_prepare_v2(database, "INSERT INTO blobs(res_id,start,end,check_sum,blob) VALUES(?,0,?,?,?)",
                             -1, &blob, nullptr),
          database);
    const std::string head = ResponseInfo(RawHeaders(
        "HTTP/1.1 200 OK\nContent-Type: text/plain\nCache-Control: max-age=86400\nContent-Length: 500"));
    const std::string body = Pattern(500);
    for (std::size_t i = 0; i < rows; ++i) {
        Insert(database, resource, blob,
               "1/0/_dk_http://s.test http://s.test http://s.test/assets/" + std::to_string(i) + ".txt", head,
               body);
    }
    sqlite3_finalize(resource);
    sqlite3_finalize(blob);
    Check(sqlite3_exec(database, "COMMIT", nullptr, nullptr, nullptr), database);
    sqlite3_close(database);
}

}  // namespace

HostileCase SqlShardCase(std::size_t rows) {
    return {"sql-rows",
            "SQL shard of " + std::to_string(rows) + " rows, --list",
            [rows](const fs::path& folder) { WriteShard(folder, rows); },
            HostileRun::List,
            {}};
}

}  // namespace drovan::bench
