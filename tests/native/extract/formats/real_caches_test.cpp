#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "extract/formats/cache_folder.h"
#include "extract/formats/firefox_cache2.h"
#include "extract/formats/http_date.h"
#include "extract/formats/media_type.h"
#include "extract/formats/url_name.h"
#include "extract/cache_listing.h"
#include "extract/entry_content.h"
#include "tests/support/memory_file_system.h"
#include "extract/sha256.h"
#include "extract/utf8.h"
#include "tests/support/cache_builders.h"
#include "tests/support/real_cache_data.h"

// Caches written by Chromium and Firefox (tests/data/README.md), read through files held in memory.

namespace drovan::tests {
namespace {

using tests::FileBytes;
using tests::kData;
using tests::LoadCache;

// A plain body's stored bytes, its pieces read (and checked) as a harvest reads them.
std::string StoredBody(MemoryFileSystem& fs, const CacheEntry& entry) {
    std::string body;
    EntryContent(fs, entry).Stream([&body](const char* data, std::size_t size) {
        body.append(data, size);
        return true;
    });
    return body;
}

// The time a manifest line says its file gets: the Last-Modified sent, or "stored" where none will do.
void CheckTimes(const CacheEntry& entry, const std::string& modified,
                std::pair<std::int64_t, std::int64_t> run) {
    ASSERT_TRUE(entry.storedTime) << entry.url;
    EXPECT_GE(*entry.storedTime, run.first) << entry.url;
    EXPECT_LE(*entry.storedTime, run.second) << entry.url;
    const std::optional<std::int64_t> expected =
        modified == "stored" ? entry.storedTime : std::optional<std::int64_t>(std::stoll(modified));
    EXPECT_EQ(HarvestedFileTime(entry.lastModified, entry.storedTime, run.second), expected) << entry.url;
}

void CheckAgainstManifest(const std::string& folder, CacheKind kind) {
    std::vector<std::vector<std::string>> manifest;
    MemoryFileSystem fs = LoadCache(folder, manifest);
    ASSERT_FALSE(manifest.empty());
    ASSERT_EQ(RecogniseCacheFolder(fs, u"/cache"), kind);
    std::map<std::string, CacheEntry> byUrl;
    std::size_t responses = 0;
    const CacheReadReport report = ReadCacheFolder(fs, u"/cache", kind, [&](CacheEntry& entry) {
        // Records that are no response (Firefox's predictor keeps some) have no manifest line.
        if (IsHarvestedResponse(entry)) {
            EXPECT_EQ(byUrl.count(entry.url), 0u) << entry.url;
            byUrl[entry.url] = entry;
            ++responses;
        }
        return true;
    });
    EXPECT_EQ(report.damaged + report.inUse, 0u);
    EXPECT_EQ(responses, manifest.size());
    const auto run = tests::GeneratedBetween(folder);
    std::size_t hashed = 0;
    for (const std::vector<std::string>& line : manifest) {
        ASSERT_EQ(line.size(), 6u);
        const std::string& url = line[0];
        const auto found = byUrl.find(url);
        ASSERT_NE(found, byUrl.end()) << url;
        const CacheEntry& entry = found->second;
        const bool identity = entry.contentEncoding.empty() || entry.contentEncoding == "identity";
        // Encoded bodies are typed after decoding; undecoded bytes carry no signature, so they are left out.
        const std::string leading = identity ? StoredBody(fs, entry).substr(0, kTypeLeadingBytes) : "";
        const std::string type = DecideType(leading, entry.contentType, url);
        EXPECT_EQ(type, line[2]) << url;
        EXPECT_EQ(Utf16ToUtf8(FileNameForEntry(url, type)), line[1]) << url;
        EXPECT_EQ(tests::StateOf(entry), line[4]) << url;
        if (entry.complete && identity) {
            EXPECT_EQ(Sha256Hex(StoredBody(fs, entry)), line[3]) << url;
            ++hashed;
        }
        CheckTimes(entry, line[5], run);
    }
    EXPECT_GT(hashed, manifest.size() / 2);
}

TEST(RealCaches, EveryRecordAgreesWithTheManifest) {
    for (const tests::RealCache& cache : tests::kRealCaches) {
        SCOPED_TRACE(cache.folder);
        CheckAgainstManifest(cache.folder, cache.kind);
    }
}

// Firefox's own hashes over the metadata and each 256 KiB chunk agree with ours, so the ending chosen by hash
// is the one Firefox wrote.
TEST(RealCaches, FirefoxHashesAgree) {
    std::size_t files = 0;
    for (const auto& item : std::filesystem::directory_iterator(kData / "firefox-cache2" / "entries")) {
        const std::string file = FileBytes(item.path());
        ASSERT_GE(file.size(), 8u);
        auto u32 = [&](std::size_t at) {
            return static_cast<std::uint32_t>(static_cast<unsigned char>(file[at])) << 24 |
                   static_cast<std::uint32_t>(static_cast<unsigned char>(file[at + 1])) << 16 |
                   static_cast<std::uint32_t>(static_cast<unsigned char>(file[at + 2])) << 8 |
                   static_cast<unsigned char>(file[at + 3]);
        };
        const std::uint32_t bodyEnd = u32(file.size() - 4);
        ASSERT_LE(bodyEnd + 8u, file.size());
        EXPECT_EQ(u32(file.size() - 8), 4u) << "the version-4 trailer";
        const std::size_t chunks = (bodyEnd + 262143) / 262144;
        EXPECT_EQ(u32(bodyEnd),
                  Lookup2Hash(std::string_view(file).substr(bodyEnd + 4, file.size() - 8 - bodyEnd - 4)))
            << item.path();
        for (std::size_t i = 0; i < chunks; ++i) {
            const std::string_view chunk = std::string_view(file).substr(
                i * 262144, std::min<std::size_t>(262144, bodyEnd - i * 262144));
            const std::uint32_t stored = u32(bodyEnd + 4 + 2 * i) >> 16;
            EXPECT_EQ(stored, Lookup2Hash(chunk) & 0xFFFF) << item.path() << " chunk " << i;
        }
        ++files;
    }
    EXPECT_GT(files, 0u);
}

}  // namespace
}  // namespace drovan::tests
