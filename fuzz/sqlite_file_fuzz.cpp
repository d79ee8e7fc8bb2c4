#include "extract/formats/sqlite_file.h"

#include "fuzz/cache_fuzz_files.h"

// A database, then (after the file marker) a log or a journal: the database's header says which it is, so the
// same bytes are offered as both. The schema and the SQL cache's tables are walked; every run must lie in its
// file, the runs and the tail must add up to the value, and a value within the cap must read as those runs'
// bytes and its tail followed a page at a time, or not at all when the tail does not follow; its leading
// bytes read as its runs' first ones.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace drovan;
    constexpr std::size_t kMaxValue = 1 << 20;
    constexpr std::size_t kMaxRows = 1000;
    constexpr std::size_t kLeading = 512;
    const std::vector<std::string> files = fuzz::SplitFiles(data, size, 2);
    const std::string& log = files.size() > 1 ? files[1] : std::string();
    tests::MemoryFileSystem fs;
    fs.AddFile(u"/db", files[0]);
    fs.AddFile(u"/log", log);
    const auto database = fs.OpenForReading(u"/db");
    const auto wal = fs.OpenForReading(u"/log");
    const auto journal = fs.OpenForReading(u"/log");
    const sqlite::DatabaseFiles opened{database.get(), wal.get(), journal.get()};
    const auto reader = sqlite::Database::Open(opened);
    if (!reader) {
        return 0;
    }
    const std::string* const roles[] = {&files[0], &log, &log};
    for (const char* table : {"sqlite_schema", "resources", "blobs"}) {
        std::size_t rows = 0;
        std::optional<std::int64_t> lastRowid;
        reader->ForEachRow(table, [&](const sqlite::Row& row) {
            fuzz::Require(!lastRowid || row.rowid > *lastRowid);
            lastRowid = row.rowid;
            for (const sqlite::Value& value : row.columns) {
                std::uint64_t sum = 0;
                std::string joined;
                for (const sqlite::ByteRun& run : value.runs) {
                    const std::string& file = *roles[static_cast<int>(run.file)];
                    fuzz::Require(run.length > 0 && run.offset <= file.size() &&
                                  run.length <= file.size() - run.offset);
                    sum += run.length;
                    if (sum <= kMaxValue) {
                        joined.append(file, run.offset, run.length);
                    }
                }
                fuzz::Require(sum + value.tail.length == value.size);
                if (sum <= kMaxValue) {
                    const std::optional<std::string> leading = reader->ReadLeading(value, kLeading);
                    fuzz::Require(leading ? *leading == joined.substr(0, kLeading) : value.runs.empty());
                }
                const bool hasBytes =
                    value.type == sqlite::Value::Type::Text || value.type == sqlite::Value::Type::Blob;
                fuzz::Require(hasBytes || (value.runs.empty() && value.tail.length == 0));
                if (hasBytes && value.size <= kMaxValue) {
                    const sqlite::ChainRead tail =
                        sqlite::FollowChain(*reader->pages(), opened, value.tail, 0, value.tail.length, 1,
                                            [&joined](const char* bytes, std::size_t length) {
                                                joined.append(bytes, length);
                                                return true;
                                            });
                    const std::optional<std::string> read = reader->ReadValue(value, kMaxValue);
                    fuzz::Require(read ? tail == sqlite::ChainRead::Done && *read == joined
                                       : tail != sqlite::ChainRead::Done);
                }
            }
            return ++rows < kMaxRows;
        });
    }
    return 0;
}
