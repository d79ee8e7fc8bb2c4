#include "cli/progress_line.h"

#include <cstdint>
#include <iterator>
#include <string>

#include "cli/list_format.h"
#include "extract/utf8.h"

namespace drovan {
namespace {

// 1023 B, 12.3 MB, 1.2 GB: one decimal below 100 of a unit, none above.
std::u16string Bytes(std::uint64_t bytes) {
    static const char16_t* const kUnits[] = {u"B", u"KB", u"MB", u"GB", u"TB", u"PB"};
    std::size_t unit = 0;
    std::uint64_t tenths = bytes * 10;
    if (bytes >= UINT64_MAX / 10) {
        tenths = UINT64_MAX;
    }
    while (tenths >= 10240 && unit + 1 < std::size(kUnits)) {
        tenths = (tenths + 512) / 1024;
        ++unit;
    }
    if (unit == 0 || tenths >= 1000) {
        return Decimal((tenths + 5) / 10) + u" " + kUnits[unit];
    }
    return Decimal(tenths / 10) + u"." + Decimal(tenths % 10) + u" " + kUnits[unit];
}

// 0:42, 12:05, 1:02:03
std::u16string Elapsed(std::uint64_t seconds) {
    const auto twoDigits = [](std::u16string& text, std::uint64_t value) {
        text += u':';
        text += static_cast<char16_t>(u'0' + value / 10);
        text += static_cast<char16_t>(u'0' + value % 10);
    };
    const std::uint64_t minutes = seconds / 60;
    std::u16string text = Decimal(minutes < 60 ? minutes : minutes / 60);
    if (minutes >= 60) {
        twoDigits(text, minutes % 60);
    }
    twoDigits(text, seconds % 60);
    return text;
}

bool IsWide(char32_t c) {
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF && c != 0x303F) ||
           (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) ||
           (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) ||
           (c >= 0x1F900 && c <= 0x1F9FF) || (c >= 0x20000 && c <= 0x3FFFD);
}

bool IsCombining(char32_t c) {
    return (c >= 0x0300 && c <= 0x036F) || (c >= 0x200B && c <= 0x200F) || (c >= 0xFE00 && c <= 0xFE0F) ||
           c == 0xFEFF;
}

// The next code point of text at i, a lone surrogate as itself; i moves past it.
char32_t NextCodePoint(std::u16string_view text, std::size_t& i) {
    const char16_t first = text[i++];
    if (first >= 0xD800 && first <= 0xDBFF && i < text.size() && text[i] >= 0xDC00 && text[i] <= 0xDFFF) {
        return 0x10000 + ((static_cast<char32_t>(first) - 0xD800) << 10) + (text[i++] - 0xDC00);
    }
    return first;
}

std::size_t CellsOf(char32_t c) {
    return IsCombining(c) ? 0 : IsWide(c) ? 2 : 1;
}

// The longest start of text that fits cells, with "…" in the last cell when it is cut.
std::u16string Fitted(std::u16string_view text, std::size_t cells) {
    if (TerminalWidth(text) <= cells) {
        return std::u16string(text);
    }
    if (cells == 0) {
        return {};
    }
    std::size_t used = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t next = i;
        const std::size_t width = CellsOf(NextCodePoint(text, next));
        if (used + width > cells - 1) {
            break;
        }
        used += width;
        i = next;
    }
    return std::u16string(text.substr(0, i)) + u"…";
}

}  // namespace

std::size_t TerminalWidth(std::u16string_view text) {
    std::size_t cells = 0;
    for (std::size_t i = 0; i < text.size();) {
        cells += CellsOf(NextCodePoint(text, i));
    }
    return cells;
}

std::u16string ProgressLine(const ProgressSnapshot& snapshot, std::size_t columns) {
    std::u16string line = u"caches " + Decimal(snapshot.sourcesListed) + u" of " + Decimal(snapshot.sources) +
                          (snapshot.listing ? u", listed " : u", written ") + Decimal(snapshot.done);
    if (snapshot.totalKnown && !snapshot.listing) {
        line += u" of " + Decimal(snapshot.total);
    }
    if (!snapshot.listing) {
        line += u", " + Bytes(snapshot.bytesWritten);
    }
    line += u", " + Elapsed(snapshot.seconds);
    if (!snapshot.currentName.empty()) {
        line += u", " + ListField(snapshot.currentName);
    }
    return Fitted(line, columns > 0 ? columns - 1 : 0);
}

}  // namespace drovan
