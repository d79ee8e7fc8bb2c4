// Measures the readers of browser caches on generated caches of each format (Firefox cache2, Chromium simple,
// Chromium blockfile, Chromium's SQL backend; the same entries in each), through the POSIX file system with a
// warm page cache:
//   list:    every entry's type and name, as drovan-harvest --list finds them  vs  a floor of plain reads of
//            the bytes a reader needs: each entry file opened and its first and last 4 KiB read (for the
//            SQL cache, each row's head and body_end selected with the system's SQLite from a copy);
//   harvest: listing and writing every entry  vs  copying each stored body, read at its offset in the cache,
//            into a new file;
//   console: drovan-harvest --type '*' on the cache  vs  the harvest's one library call.
// Usage: cache_bench [--entries N] [--runs N] [--only firefox|simple|blockfile|sql] [--keep DIR]
#include <dirent.h>
#include <sqlite3.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_options.h"
#include "bench/bench_files.h"
#include "bench/bench_gzip.h"
#include "bench/bench_timing.h"
#include "cli/harvest_run.h"
#include "extract/file_system_posix.h"
#include "extract/formats/checksums.h"
#include "extract/formats/media_type.h"
#include "extract/formats/sqlite_file.h"
#include "extract/cache_listing.h"
#include "extract/pipeline.h"
#include "extract/harvest_writer.h"
#include "extract/utf8.h"
#include "tests/support/blockfile_builder.h"
#include "tests/support/cache_builders.h"
#include "tests/support/sql_cache_builder.h"

namespace {

using drovan::bench::WriteFile;

using drovan::bench::Gzip;
using drovan::bench::Median;
using drovan::bench::Seconds;

namespace fs = std::filesystem;

struct Options {
    int entries = 10000;
    int runs = 5;
    std::string only;
    std::string keep;
};

constexpr std::size_t kEnd = 4096;  // what the listing floor reads at each end of a file
constexpr std::size_t kCopyChunk = 256 * 1024;
// Chromium's SQL backend flushes an entry's body in pieces of at most its write buffer.
constexpr std::size_t kSqlPiece = 512 * 1024;
constexpr std::uint32_t kSqlShards = 3;

struct Kind {
    const char* extension;
    const char* contentType;
    std::string_view signature;  // empty for text
    int weight;
};

const Kind kKinds[] = {
    {"jpg", "image/jpeg", std::string_view("\xFF\xD8\xFF\xE0\0\x10JFIF\0", 11), 25},
    {"png", "image/png", "\x89PNG\r\n\x1A\n", 20},
    {"gif", "image/gif", "GIF89a", 10},
    {"js", "application/javascript", "", 15},
    {"css", "text/css", "", 8},
    {"html", "text/html", "", 5},
    {"json", "application/json", "", 5},
    {"mp4", "video/mp4",
     std::string_view("\0\0\0\x20"
                      "ftypisom\0\0\x02\0",
                      16),
     5},
    {"mp3", "audio/mpeg", std::string_view("ID3\x04\0\0\0\0\0\0", 10), 4},
    {"flv", "video/x-flv", std::string_view("FLV\x01\x05\0\0\0\x09", 9), 3},
};

// One cached response; its body is a slice of shared noise behind a signature, or text, mostly gzip-encoded.
struct Planned {
    std::string url;
    const Kind* kind = nullptr;
    std::size_t size = 0;  // stored bytes
    std::size_t noiseOffset = 0;
    std::string text;  // the stored body of a text entry
    bool gzip = false;

    std::string Body(const std::string& noise) const {
        if (kind->signature.empty()) {
            return text;
        }
        std::string body(kind->signature);
        body.append(noise, noiseOffset, size - body.size());
        return body;
    }

    std::string HeadLines() const {
        std::string lines = "HTTP/1.1 200 OK\nContent-Type: " + std::string(kind->contentType) +
                            "\nContent-Length: " + std::to_string(size) +
                            "\nCache-Control: max-age=86400\nDate: Mon, 07 Dec 2026 10:00:00 GMT";
        if (gzip) {
            lines += "\nContent-Encoding: gzip";
        }
        return lines;
    }

    std::string ChromiumKey() const { return "1/0/_dk_https://example.com https://example.com " + url; }
};

std::string Script(std::size_t size, std::mt19937_64& random) {
    std::string text;
    char line[96];
    while (text.size() < size) {
        const int n =
            std::snprintf(line, sizeof line, "function f%u(a,b){return a*%u+b.length-%u;}\n",
                          static_cast<unsigned>(random() % 5000), static_cast<unsigned>(random() % 97),
                          static_cast<unsigned>(random() % 1000));
        text.append(line, static_cast<std::size_t>(n));
    }
    text.resize(size);
    return text;
}

// Mostly small bodies (1 to 32 KiB), a fifth up to 256 KiB, a few media files up to 2 MiB; text mostly gzip.
std::vector<Planned> Plan(int count, std::size_t noiseSize) {
    std::mt19937_64 random(20261207);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    int totalWeight = 0;
    for (const Kind& kind : kKinds) {
        totalWeight += kind.weight;
    }
    std::vector<Planned> plan(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        Planned& entry = plan[static_cast<std::size_t>(i)];
        const double band = unit(random);
        const double low = band < 0.78 ? 1024 : band < 0.97 ? 32768 : 262144;
        const double high = band < 0.78 ? 32768 : band < 0.97 ? 262144 : 2097152;
        entry.size = static_cast<std::size_t>(low * std::pow(high / low, unit(random)));
        int pick = static_cast<int>(random() % static_cast<unsigned>(totalWeight));
        entry.kind = kKinds;
        while (pick >= entry.kind->weight) {
            pick -= entry.kind->weight;
            ++entry.kind;
        }
        const bool text = entry.kind->signature.empty();
        if (text && entry.size > 262144) {
            entry.kind = &kKinds[7];  // large bodies are media
        }
        const std::string stem = "item" + std::to_string(i);
        const std::string folder =
            "https://cdn" + std::to_string(i % 7) + ".example.com/assets/" + std::to_string(i % 50) + "/";
        switch (random() % 10) {
            case 0:
                entry.url = folder + "stream/" + stem;  // no extension: the type comes from the bytes
                break;
            case 1:
                entry.url =
                    folder + stem + "." + entry.kind->extension + "?v=" + std::to_string(random() % 999);
                break;
            default:
                entry.url = folder + stem + "." + entry.kind->extension;
        }
        if (entry.kind->signature.empty()) {
            entry.text = Script(entry.size, random);
            entry.gzip = random() % 5 != 0;
            if (entry.gzip) {
                entry.text = Gzip(entry.text);
                entry.size = entry.text.size();
            }
        } else {
            entry.noiseOffset = random() % (noiseSize - entry.size + 1);
        }
    }
    return plan;
}

std::string Hex(std::uint64_t value, int digits, bool upper) {
    std::string out(static_cast<std::size_t>(digits), '0');
    for (int i = digits - 1; i >= 0 && value != 0; --i, value >>= 4) {
        out[static_cast<std::size_t>(i)] = (upper ? "0123456789ABCDEF" : "0123456789abcdef")[value & 15];
    }
    return out;
}

std::uint64_t Mix(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EB;
    return x ^ (x >> 31);
}

void MakeFirefox(const fs::path& folder, const std::vector<Planned>& plan, const std::string& noise) {
    fs::create_directories(folder / "entries");
    for (std::size_t i = 0; i < plan.size(); ++i) {
        drovan::tests::FirefoxEntryParts parts;
        parts.body = plan[i].Body(noise);
        parts.key = "a,:" + plan[i].url;
        parts.elements = {{"request-method", "GET"},
                          {"response-head", drovan::tests::FirefoxHead(plan[i].HeadLines())},
                          {"net-response-time", "18"}};
        const std::string name = Hex(Mix(i), 16, true) + Hex(Mix(i + plan.size()), 16, true) + "00000000";
        WriteFile(folder / "entries" / name, drovan::tests::FirefoxEntry(parts));
    }
}

// SimpleEntry's layout, with zlib's CRC over the bodies: the test one goes bit by bit.
void MakeSimple(const fs::path& folder, const std::vector<Planned>& plan, const std::string& noise) {
    using namespace drovan::tests;
    fs::create_directories(folder / "index-dir");
    std::string index;
    PutLE(index, kSimpleInitialMagic, 8);
    PutLE(index, 9, 4);
    WriteFile(folder / "index", index);
    WriteFile(folder / "index-dir" / "the-real-index", index);
    for (std::size_t i = 0; i < plan.size(); ++i) {
        const std::string key = plan[i].ChromiumKey();
        const std::string body = plan[i].Body(noise);
        const std::string stream0 = ResponseInfo(RawHeaders(plan[i].HeadLines()));
        const auto bodyCrc = static_cast<std::uint32_t>(
            crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size())));
        const std::string file =
            SimpleHeader(key, 5) + body + SimpleEof(1, bodyCrc, 0) + stream0 + std::string(32, '\x5A') +
            SimpleEof(3, drovan::Crc32(stream0), static_cast<std::uint32_t>(stream0.size()));
        WriteFile(folder / (Hex(Mix(i), 16, false) + "_0"), file);
    }
}

// Returns the address of every entry record, for the listing floor.
std::vector<std::uint32_t> MakeBlockfile(const fs::path& folder, const std::vector<Planned>& plan,
                                         const std::string& noise) {
    using namespace drovan::tests;
    fs::create_directories(folder);
    BlockfileBuilder builder;
    std::vector<std::uint32_t> records;
    std::uint32_t externals = 0;
    for (const Planned& entry : plan) {
        records.push_back(builder.AddEntry(
            Plain(entry.ChromiumKey(), BlockfileResponseInfo(entry.HeadLines()), entry.Body(noise))));
        externals += entry.size > 16384 ? 1 : 0;
    }
    WriteFile(folder / "index", builder.IndexFile());
    for (std::uint32_t number = 0; number < 4; ++number) {
        WriteFile(folder / ("data_" + std::to_string(number)), builder.BlockFileBytes(number));
    }
    for (std::uint32_t number = 1; number <= externals; ++number) {
        WriteFile(folder / ("f_" + Hex(number, 6, false)), builder.External(number));
    }
    return records;
}

// Chromium's SQL backend as it writes a cache by default: three shards, rollback journals, each body in blobs
// of at most 512 KiB.
void MakeSql(const fs::path& folder, const std::vector<Planned>& plan, const std::string& noise) {
    using namespace drovan::tests;
    WriteSqlCache(
        folder, plan.size(),
        [&](std::size_t i) {
            SqlCacheRow row{plan[i].ChromiumKey(), ResponseInfo(RawHeaders(plan[i].HeadLines())), {}};
            const std::string body = plan[i].Body(noise);
            for (std::size_t at = 0; at < body.size(); at += kSqlPiece) {
                row.pieces.emplace_back(static_cast<std::int64_t>(at), body.substr(at, kSqlPiece));
            }
            return row;
        },
        kSqlShards);
}

// Each timed write goes into a new empty folder, with no dirty pages left by the run before it. Written files
// stay until the end (several GB): deleting 10,000 files just before creating as many leaves ext4 searching
// past the recently freed inodes for minutes, at a cost that varies widely from run to run.
fs::path FreshFolder(const fs::path& parent, const std::string& name) {
    const fs::path folder = parent / name;
    fs::create_directories(folder);
    sync();
    return folder;
}

// The first and the last kEnd bytes of size bytes at offset (one read when they overlap).
void ReadEnds(int fd, std::uint64_t offset, std::uint64_t size, char* buffer) {
    const std::size_t head = static_cast<std::size_t>(std::min<std::uint64_t>(size, kEnd));
    if (pread(fd, buffer, head, static_cast<off_t>(offset)) < 0) {
        std::perror("pread");
    }
    if (size > kEnd && pread(fd, buffer, kEnd, static_cast<off_t>(offset + size - kEnd)) < 0) {
        std::perror("pread");
    }
}

// Floor for Firefox and the simple cache: list the folder, open every entry file by its path, read both ends.
void ReadEntryFileEnds(const fs::path& folder, bool (*isEntryFile)(const char* name)) {
    DIR* dir = opendir(folder.c_str());
    char buffer[kEnd];
    while (const dirent* item = readdir(dir)) {
        if (!isEntryFile(item->d_name)) {
            continue;
        }
        const int fd = open((folder / item->d_name).c_str(), O_RDONLY | O_CLOEXEC);
        struct stat info {};
        fstat(fd, &info);
        ReadEnds(fd, 0, static_cast<std::uint64_t>(info.st_size), buffer);
        close(fd);
    }
    closedir(dir);
}

bool IsFirefoxEntryFile(const char* name) {
    return std::strlen(name) == 40;
}

bool IsSimpleEntryFile(const char* name) {
    return std::strlen(name) == 18 && name[17] == '0';
}

std::uint32_t U32At(const char* bytes, std::size_t offset) {
    std::uint32_t value = 0;
    std::memcpy(&value, bytes + offset, 4);
    return value;
}

// Floor for the blockfile cache, whose entries are records in shared block files: the index table read and
// the block files opened once (headers read); then for each entry, with its record's address known in
// advance, one read of its record, one of its stored response info, and the two ends of its body, opening
// the body's f_ file when it has one. Rankings, chains and checks are left to the reader.
void ReadBlockfileEnds(const fs::path& folder, const std::vector<std::uint32_t>& records) {
    char buffer[drovan::blockfile::kBlockFileHeaderSize];
    const int index = open((folder / "index").c_str(), O_RDONLY | O_CLOEXEC);
    ReadEnds(index, 0,
             drovan::blockfile::kIndexHeaderSize + 4 * drovan::tests::BlockfileBuilder::kTableLength, buffer);
    close(index);
    int blockFiles[4];
    for (int n = 0; n < 4; ++n) {
        blockFiles[n] = open((folder / ("data_" + std::to_string(n))).c_str(), O_RDONLY | O_CLOEXEC);
        if (pread(blockFiles[n], buffer, sizeof buffer, 0) < 0) {
            std::perror("pread");
        }
    }
    const std::size_t blockSizes[] = {0, 36, 256, 1024, 4096};
    auto blockOffset = [&](std::uint32_t address) {
        return drovan::blockfile::kBlockFileHeaderSize +
               std::uint64_t{address & 0xFFFF} * blockSizes[(address >> 28) & 7];
    };
    char record[256];
    for (const std::uint32_t address : records) {
        if (pread(blockFiles[1], record, sizeof record, static_cast<off_t>(blockOffset(address))) < 0) {
            std::perror("pread");
        }
        const std::uint32_t infoSize = U32At(record, 40);
        const std::uint32_t infoAddress = U32At(record, 56);
        ReadEnds(blockFiles[(infoAddress >> 16) & 0xFF], blockOffset(infoAddress), infoSize, buffer);
        const std::uint32_t bodySize = U32At(record, 44);
        const std::uint32_t body = U32At(record, 60);
        if ((body & 0x70000000) != 0) {
            ReadEnds(blockFiles[(body >> 16) & 0xFF], blockOffset(body), bodySize, buffer);
            continue;
        }
        const fs::path name = folder / ("f_" + Hex(body & 0x0FFFFFFF, 6, false));
        const int fd = open(name.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat info {};
        fstat(fd, &info);
        ReadEnds(fd, 0, static_cast<std::uint64_t>(info.st_size), buffer);
        close(fd);
    }
    for (const int fd : blockFiles) {
        close(fd);
    }
}

// Floor for the SQL cache: every shard of a private copy opened with the system's SQLite, each row's head and
// body_end read. With firstBytes, also what typing an entry needs that the rows do not hold: its body's first
// bytes, read from the blob at its start through SQLite's incremental blob reads, which read no more pages
// than those bytes lie in.
void SelectHeads(const fs::path& copy, bool firstBytes) {
    for (std::uint32_t shard = 0; shard < kSqlShards; ++shard) {
        sqlite3* database = nullptr;
        sqlite3_open_v2(drovan::tests::SqlShardPath(copy, shard).c_str(), &database, SQLITE_OPEN_READONLY,
                        nullptr);
        sqlite3_stmt* select = nullptr;
        sqlite3_prepare_v2(database,
                           firstBytes
                               ? "SELECT r.head, r.body_end, b.blob_id FROM resources r JOIN blobs b ON "
                                 "b.res_id = r.res_id AND b.start = 0"
                               : "SELECT head, body_end FROM resources",
                           -1, &select, nullptr);
        std::int64_t taken = 0;  // the columns fetched, as a reader takes them
        sqlite3_blob* blob = nullptr;
        char leading[drovan::kTypeFirstRead];
        while (sqlite3_step(select) == SQLITE_ROW) {
            taken += sqlite3_column_bytes(select, 0) + sqlite3_column_int64(select, 1);
            if (firstBytes) {
                const sqlite3_int64 blobId = sqlite3_column_int64(select, 2);
                if (blob ? sqlite3_blob_reopen(blob, blobId)
                         : sqlite3_blob_open(database, "main", "blobs", "blob", blobId, 0, &blob)) {
                    std::fprintf(stderr, "no blob %lld\n", static_cast<long long>(blobId));
                    continue;
                }
                const int size = std::min<int>(sizeof leading, sqlite3_blob_bytes(blob));
                taken += sqlite3_blob_read(blob, leading, size, 0) == SQLITE_OK ? leading[0] : 0;
            }
        }
        sqlite3_blob_close(blob);
        sqlite3_finalize(select);
        sqlite3_close(database);
        if (taken == 0) {
            std::fprintf(stderr, "no rows in shard %u\n", shard);
        }
    }
}

double ProcessCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

struct StoredRun {
    std::string file;
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
};

// A body as its runs in the cache's files: one for most formats, one per database page in the SQL cache.
using StoredBody = std::vector<StoredRun>;

// The runs of a piece that goes on through linked database pages, its links followed before the timing.
void AddLinkedRuns(const drovan::BodyPiece& piece, StoredBody& body) {
    const drovan::sqlite::PageMap& map = *piece.linkedPages->map;
    std::uint32_t page = piece.firstPage;
    for (std::uint64_t left = piece.length; left > 0;) {
        const std::optional<drovan::sqlite::ByteRun> at = drovan::sqlite::LocatePage(map, page);
        const std::string file =
            drovan::Utf16ToUtf8(piece.linkedPages->files[static_cast<std::size_t>(at->file)]);
        unsigned char link[4] = {};
        const int source = open(file.c_str(), O_RDONLY | O_CLOEXEC);
        pread(source, link, sizeof link, static_cast<off_t>(at->offset));
        close(source);
        const std::uint64_t length = std::min<std::uint64_t>(left, map.overflowPartSize());
        body.push_back({file, at->offset + sizeof link, length});
        left -= length;
        page = static_cast<std::uint32_t>(link[0]) << 24 | link[1] << 16 | link[2] << 8 | link[3];
    }
}

// Floor of the harvest: each body read at its places and written to a new file, plain POSIX calls. Runs
// that lie a database page's link apart are read at once and written together.
void CopyBodies(const std::vector<StoredBody>& bodies, const fs::path& destination) {
    constexpr std::uint64_t kLinkGap = 4;
    std::vector<char> buffer(kCopyChunk);
    std::size_t number = 0;
    for (const StoredBody& body : bodies) {
        const std::string target = destination / ("copy" + std::to_string(number++));
        const int out = open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        int source = -1;
        const std::string* opened = nullptr;
        for (std::size_t first = 0; first < body.size();) {
            const StoredRun& run = body[first];
            if (opened == nullptr || *opened != run.file) {
                if (source >= 0) {
                    close(source);
                }
                source = open(run.file.c_str(), O_RDONLY | O_CLOEXEC);
                opened = &run.file;
            }
            if (run.length > kCopyChunk) {
                for (std::uint64_t done = 0; done < run.length;) {
                    const std::size_t wanted =
                        static_cast<std::size_t>(std::min<std::uint64_t>(kCopyChunk, run.length - done));
                    const ssize_t got =
                        pread(source, buffer.data(), wanted, static_cast<off_t>(run.offset + done));
                    if (got <= 0 || write(out, buffer.data(), static_cast<std::size_t>(got)) != got) {
                        std::perror(target.c_str());
                        break;
                    }
                    done += static_cast<std::uint64_t>(got);
                }
                ++first;
                continue;
            }
            // The runs after it in the same file, a link apart, as far as one read reaches.
            std::size_t last = first + 1;
            while (last < body.size() && body[last].file == run.file &&
                   body[last].offset >= body[last - 1].offset + body[last - 1].length &&
                   body[last].offset - (body[last - 1].offset + body[last - 1].length) <= kLinkGap &&
                   body[last].offset + body[last].length - run.offset <= kCopyChunk) {
                ++last;
            }
            const std::uint64_t span = body[last - 1].offset + body[last - 1].length - run.offset;
            if (pread(source, buffer.data(), span, static_cast<off_t>(run.offset)) !=
                static_cast<ssize_t>(span)) {
                std::perror(target.c_str());
            }
            std::size_t filled = 0;
            for (std::size_t i = first; i < last; ++i) {
                std::memmove(buffer.data() + filled, buffer.data() + (body[i].offset - run.offset),
                             body[i].length);
                filled += body[i].length;
            }
            if (write(out, buffer.data(), filled) != static_cast<ssize_t>(filled)) {
                std::perror(target.c_str());
            }
            first = last;
        }
        close(out);
        if (source >= 0) {
            close(source);
        }
    }
}

class SilentOutput final : public drovan::HarvestOutput {
  public:
    void Line(std::u16string_view) override {}
    void Message(std::u16string_view) override {}
};

struct ListFigures {
    std::size_t entries = 0;
    std::size_t typed = 0;
};

// What drovan-harvest --list does for one folder, minus the printing.
ListFigures ListEntries(drovan::FileSystem& files, const std::u16string& folder) {
    ListFigures figures;
    const std::optional<drovan::CacheKind> kind = drovan::RecogniseCacheFolder(files, folder);
    if (!kind) {
        return figures;
    }
    drovan::LookAtCacheEntries(files, folder, *kind, [&](drovan::CacheEntry&, const drovan::EntryLook& look) {
        ++figures.entries;
        figures.typed += look.type.empty() || look.name.empty() ? 0 : 1;
        return true;
    });
    return figures;
}

drovan::HarvestSummary Harvest(drovan::FileSystem& files, const std::u16string& folder,
                               const std::u16string& destination) {
    const std::optional<drovan::CacheKind> kind = drovan::RecogniseCacheFolder(files, folder);
    return kind ? drovan::Harvest(files, {{folder, kind}}, destination, {}) : drovan::HarvestSummary();
}

const char* Verdict(double ratio, double target) {
    return ratio <= target ? "PASS" : "FAIL";
}

// drovan-harvest --type '*' on the same cache: the one library call and what the console adds.
double TimeConsole(drovan::FileSystem& files, const std::u16string& folder, const fs::path& destination,
                   int run) {
    drovan::HarvestArguments arguments;
    arguments.types = u"*";
    arguments.destination =
        drovan::Utf8ToUtf16(FreshFolder(destination, "console" + std::to_string(run)).string());
    arguments.sources = {folder};
    SilentOutput output;
    return Seconds([&] { drovan::RunHarvest(files, arguments, std::nullopt, output, nullptr); });
}

// drovan-harvest --list of every type: rows with their sizes as written (compressed bodies decoded).
double TimeConsoleList(drovan::FileSystem& files, const std::u16string& folder) {
    drovan::HarvestArguments arguments;
    arguments.list = true;
    arguments.sources = {folder};
    SilentOutput output;
    return Seconds([&] { drovan::RunHarvest(files, arguments, std::nullopt, output, nullptr); });
}

struct Cache {
    const char* name;
    fs::path folder;
    std::function<void()> floor;
    // Where the floor reads no body, one that also reads each body's first bytes as the listing must.
    std::function<void()> typingFloor;
};

// The floor's copies: exactly the bodies the harvest reads, where the reader found them; and what a plain
// copy does not do: the encoded bodies, to be read and decoded into nothing.
void GatherBodies(drovan::FileSystem& files, const std::u16string& folder, std::vector<StoredBody>& bodies,
                  std::vector<drovan::EntryContent>& encoded) {
    drovan::ReadCacheFolder(
        files, folder, *drovan::RecogniseCacheFolder(files, folder), [&](drovan::CacheEntry& entry) {
            StoredBody& body = bodies.emplace_back();
            for (const drovan::BodyPiece& piece : entry.pieces) {
                if (piece.linkedPages) {
                    AddLinkedRuns(piece, body);
                } else {
                    body.push_back({drovan::Utf16ToUtf8(piece.file), piece.fileOffset, piece.length});
                }
            }
            if (!entry.contentEncoding.empty()) {
                encoded.emplace_back(files, std::move(entry));
            }
            return true;
        });
}

// drovan-harvest against the library calls it makes: a harvest of every type, and a listing that learns the
// sizes as written.
void PrintConsoleFigures(const Cache& cache, const std::vector<double>& console,
                         const std::vector<double>& consoleList, const std::vector<double>& harvest,
                         const std::vector<double>& list) {
    const double consoleRatio = Median(console) / Median(harvest);
    std::printf(
        "%-9s  every type in one drovan-harvest run: %.1f ms against the library call's %.1f ms, ratio "
        "%.2f (target <= 1.1) %s\n",
        cache.name, Median(console) * 1e3, Median(harvest) * 1e3, consoleRatio, Verdict(consoleRatio, 1.1));
    const double sizedRatio = Median(consoleList) / Median(list);
    std::printf(
        "%-9s  drovan-harvest --list with sizes as written: %.1f ms against the listing's %.1f ms, ratio "
        "%.2f (target <= 1.5 on simple)%s\n",
        cache.name, Median(consoleList) * 1e3, Median(list) * 1e3, sizedRatio,
        std::string(cache.name) != "simple" ? ""
        : sizedRatio <= 1.5                 ? " PASS"
                                            : " FAIL");
}

void Measure(const Cache& cache, const fs::path& destination, const Options& options) {
    drovan::PosixFileSystem files;
    const std::u16string folder = drovan::Utf8ToUtf16(cache.folder.string());

    std::vector<StoredBody> bodies;
    std::vector<drovan::EntryContent> encoded;
    GatherBodies(files, folder, bodies, encoded);
    const auto decodeEncoded = [&encoded] {
        for (drovan::EntryContent& content : encoded) {
            content.Stream([](const char*, std::size_t) { return true; });
        }
    };

    std::vector<double> list, listFloor, typingFloor, harvest, copy, decoding, harvestCpu, copyCpu, console,
        consoleList;
    ListFigures listed;
    drovan::HarvestSummary harvested;
    for (int run = 0; run < options.runs; ++run) {
        // Alternating which goes first, so that neither always inherits the other's cache state.
        const auto timeList = [&] { list.push_back(Seconds([&] { listed = ListEntries(files, folder); })); };
        const auto timeFloor = [&] {
            listFloor.push_back(Seconds(cache.floor));
            if (cache.typingFloor) {
                typingFloor.push_back(Seconds(cache.typingFloor));
            }
        };
        const auto timeHarvest = [&] {
            const std::u16string target =
                drovan::Utf8ToUtf16(FreshFolder(destination, "harvest" + std::to_string(run)).string());
            const double cpuBefore = ProcessCpuSeconds();
            harvest.push_back(Seconds([&] { harvested = Harvest(files, folder, target); }));
            harvestCpu.push_back(ProcessCpuSeconds() - cpuBefore);
        };
        const auto timeConsole = [&] {
            console.push_back(TimeConsole(files, folder, destination, run));
            consoleList.push_back(TimeConsoleList(files, folder));
        };
        const auto timeCopy = [&] {
            const fs::path target = FreshFolder(destination, "copy" + std::to_string(run));
            const double cpuBefore = ProcessCpuSeconds();
            copy.push_back(Seconds([&] { CopyBodies(bodies, target); }));
            copyCpu.push_back(ProcessCpuSeconds() - cpuBefore);
        };
        // The last run's writes are flushed first, so that no write-back runs under the listing.
        sync();
        if (run % 2 == 0) {
            timeList(), timeFloor(), timeHarvest(), timeConsole(), timeCopy();
        } else {
            timeFloor(), timeList(), timeCopy(), timeConsole(), timeHarvest();
        }
        decoding.push_back(Seconds(decodeEncoded));
    }
    const double listRatio = Median(list) / Median(listFloor);
    const double harvestRatio = Median(harvest) / Median(copy);
    std::printf(
        "%-9s  list:    %zu entries (%zu typed and named) in %.1f ms, floor %.1f ms, ratio %.2f "
        "(target <= 1.5) %s\n",
        cache.name, listed.entries, listed.typed, Median(list) * 1e3, Median(listFloor) * 1e3, listRatio,
        Verdict(listRatio, 1.5));
    if (cache.typingFloor) {
        const double typingRatio = Median(list) / Median(typingFloor);
        std::printf(
            "%-9s  list against a floor that also reads each body's first %zu bytes: %.1f ms, ratio %.2f\n",
            cache.name, drovan::kTypeFirstRead, Median(typingFloor) * 1e3, typingRatio);
    }
    std::printf(
        "%-9s  harvest: %zu copied, %zu failed, %zu incomplete, %zu skipped in %.1f ms, copy of %zu "
        "bodies %.1f ms, ratio %.2f (target <= 1.3) %s; CPU time (both threads) %.1f ms against the "
        "copy's %.1f ms; decoding the %zu encoded bodies alone takes %.1f ms\n",
        cache.name, harvested.copied, harvested.failed, harvested.incomplete, harvested.skipped,
        Median(harvest) * 1e3, bodies.size(), Median(copy) * 1e3, harvestRatio, Verdict(harvestRatio, 1.3),
        Median(harvestCpu) * 1e3, Median(copyCpu) * 1e3, encoded.size(), Median(decoding) * 1e3);
    PrintConsoleFigures(cache, console, consoleList, harvest, list);
    std::fflush(stdout);
}

std::optional<Options> ParseOptions(int argc, char** argv) {
    Options options;
    if (!drovan::bench::ParseBenchOptions(argc, argv,
                                          {{"--entries", &options.entries},
                                           {"--runs", &options.runs},
                                           {"--only", &options.only},
                                           {"--keep", &options.keep}})) {
        return std::nullopt;
    }
    return options;
}

}  // namespace

int main(int argc, char** argv) {
    const std::optional<Options> parsed = ParseOptions(argc, argv);
    if (!parsed) {
        return 2;
    }
    const Options& options = *parsed;

    std::string pattern = (fs::temp_directory_path() / "drovan-cache-bench-XXXXXX").string();
    const fs::path work = options.keep.empty() ? fs::path(mkdtemp(pattern.data())) : fs::path(options.keep);
    std::mt19937_64 random(20261208);
    std::string noise(4 << 20, '\0');
    for (char& c : noise) {
        c = static_cast<char>(random());
    }
    const std::vector<Planned> plan = Plan(options.entries, noise.size());
    std::uint64_t bytes = 0;
    std::size_t encoded = 0;
    for (const Planned& entry : plan) {
        bytes += entry.size;
        encoded += entry.gzip ? 1 : 0;
    }

    // A kept folder holds the caches of earlier runs: each is made afresh, as the SQL database cannot be made
    // over.
    const auto fresh = [&work](const char* name) {
        fs::remove_all(work / name);
        return work / name;
    };
    fs::remove_all(work / "out");
    std::vector<Cache> caches;
    const double generated = Seconds([&] {
        if (options.only.empty() || options.only == "firefox") {
            MakeFirefox(fresh("cache2"), plan, noise);
            caches.push_back({"firefox",
                              work / "cache2",
                              [&] { ReadEntryFileEnds(work / "cache2" / "entries", IsFirefoxEntryFile); },
                              {}});
        }
        if (options.only.empty() || options.only == "simple") {
            MakeSimple(fresh("simple"), plan, noise);
            caches.push_back({"simple",
                              work / "simple",
                              [&] { ReadEntryFileEnds(work / "simple", IsSimpleEntryFile); },
                              {}});
        }
        if (options.only.empty() || options.only == "blockfile") {
            const std::vector<std::uint32_t> records = MakeBlockfile(fresh("blockfile"), plan, noise);
            caches.push_back({"blockfile",
                              work / "blockfile",
                              [&work, records] { ReadBlockfileEnds(work / "blockfile", records); },
                              {}});
        }
        if (options.only.empty() || options.only == "sql") {
            MakeSql(fresh("sql"), plan, noise);
            fs::copy(work / "sql", fresh("sql-copy"));
            caches.push_back({"sql", work / "sql", [&work] { SelectHeads(work / "sql-copy", false); },
                              [&work] { SelectHeads(work / "sql-copy", true); }});
        }
    });
    std::printf(
        "caches: %d entries each, %.1f MB of bodies (%zu gzip-encoded), %zu formats generated in %.1f "
        "s; median of %d runs, warm page cache\n",
        options.entries, bytes / 1e6, encoded, caches.size(), generated, options.runs);
    std::fflush(stdout);
    for (const Cache& cache : caches) {
        Measure(cache, work / "out" / cache.name, options);
    }
    fs::remove_all(work / "out");
    if (options.keep.empty()) {
        fs::remove_all(work);
    }
    return 0;
}
