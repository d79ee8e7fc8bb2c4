#include "extract/formats/chromium_simple.h"

#include "fuzz/cache_fuzz_files.h"

// Two entries, each with an entry file and a sparse file: <a>_0, <a>_s, <b>_0, <b>_s.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace drovan;
    static const char16_t* const kNames[] = {u"/c/00000000000000aa_0", u"/c/00000000000000aa_s",
                                             u"/c/00000000000000bb_0", u"/c/00000000000000bb_s"};
    tests::MemoryFileSystem fs;
    const std::vector<std::string> files = fuzz::SplitFiles(data, size, 4);
    for (std::size_t i = 0; i < files.size(); ++i) {
        fs.AddFile(kNames[i], files[i]);
    }
    std::size_t handed = 0;
    const CacheReadReport report = ReadChromiumSimple(fs, u"/c", [&](CacheEntry& entry) {
        ++handed;
        fuzz::CheckEntry(fs, entry);
        fuzz::Require(entry.kind == CacheKind::ChromiumSimple);
        fuzz::Require(entry.key.size() <= kMaxChromiumMetadata);
        fuzz::Require(entry.pieces.size() <= kMaxSparseRanges + 1);
        return true;
    });
    fuzz::Require(report.entries == handed);
    fuzz::Require(report.entries + report.damaged + report.inUse == (files.size() + 1) / 2);
    return 0;
}
