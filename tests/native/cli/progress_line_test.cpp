#include "cli/progress_line.h"

#include <gtest/gtest.h>

#include "extract/utf8.h"

namespace drovan::tests {
namespace {

TEST(ProgressLine, SaysWhereTheHarvestIsInTheCellsThereAre) {
    const struct {
        ProgressSnapshot snapshot;
        std::size_t columns;
        const char* line;
    } kCases[] = {
        {{3, 1, false, 0, 0, 0, 0, u""}, 80, "caches 1 of 3, written 0, 0 B, 0:00"},
        {{3, 3, true, 400, 120, 1288490189, 42, u"clip.mp4"},
         80,
         "caches 3 of 3, written 120 of 400, 1.2 GB, 0:42, clip.mp4"},
        {{1, 1, true, 2, 1, 1023, 3723, u"a"}, 80, "caches 1 of 1, written 1 of 2, 1023 B, 1:02:03, a"},
        {{1, 1, true, 2, 1, 150 << 20, 61, u"a"}, 80, "caches 1 of 1, written 1 of 2, 150 MB, 1:01, a"},
        // A control character never reaches the terminal; a wide name is cut by its cells.
        {{1, 1, true, 1, 0, 0, 0, u"a\x1b[2J.mp4"},
         80,
         "caches 1 of 1, written 0 of 1, 0 B, 0:00, a%1B[2J.mp4"},
        {{1, 1, true, 1, 0, 0, 0, u"第一课第二课.mp4"},
         48,
         "caches 1 of 1, written 0 of 1, 0 B, 0:00, 第一…"},
        {{1, 1, true, 1, 0, 0, 0, u"第一课.mp4"}, 1, ""},
        {{2, 1, true, 9, 4, 0, 61, u"clip.mp4", true}, 80, "caches 1 of 2, listed 4, 1:01, clip.mp4"},
    };
    for (const auto& c : kCases) {
        const std::u16string line = ProgressLine(c.snapshot, c.columns);
        EXPECT_EQ(Utf16ToUtf8(line), c.line);
        EXPECT_LT(TerminalWidth(line), c.columns);
    }
}

}  // namespace
}  // namespace drovan::tests
