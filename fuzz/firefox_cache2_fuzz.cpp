#include "extract/formats/firefox_cache2.h"

#include "fuzz/cache_fuzz_files.h"

// Up to three entry files in a cache2 folder.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace drovan;
    tests::MemoryFileSystem fs;
    const std::vector<std::string> files = fuzz::SplitFiles(data, size, 3);
    for (std::size_t i = 0; i < files.size(); ++i) {
        fs.AddFile(u"/cache2/entries/0123456789ABCDEF0123456789ABCDEF0123456" + std::u16string(1, u'0' + i),
                   files[i]);
    }
    std::size_t handed = 0;
    const CacheReadReport report = ReadFirefoxCache2(fs, u"/cache2", [&](CacheEntry& entry) {
        ++handed;
        fuzz::CheckEntry(fs, entry);
        fuzz::Require(entry.kind == CacheKind::FirefoxCache2);
        fuzz::Require(entry.pieces.size() <= 1);
        fuzz::Require(entry.pieces.empty() || entry.pieces[0].fileOffset == 0);
        fuzz::Require(entry.key.size() <= kMaxFirefoxMetadata);
        return true;
    });
    fuzz::Require(report.entries == handed);
    fuzz::Require(report.entries + report.damaged + report.inUse == files.size());
    return 0;
}
