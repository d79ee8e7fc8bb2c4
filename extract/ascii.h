#pragma once

#include <cstddef>
#include <string_view>

namespace drovan {

// Only A-Z change: names and tokens in caches and headers are ASCII, and other letters must not fold.
template <typename Char>
constexpr Char LowerAscii(Char c) {
    return c >= Char('A') && c <= Char('Z') ? static_cast<Char>(c - Char('A') + Char('a')) : c;
}

namespace ascii_detail {

template <typename Char>
constexpr bool EqualsIgnoringCase(std::basic_string_view<Char> a, std::basic_string_view<Char> b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace ascii_detail

constexpr bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    return ascii_detail::EqualsIgnoringCase(a, b);
}

constexpr bool EqualsIgnoringAsciiCase(std::u16string_view a, std::u16string_view b) {
    return ascii_detail::EqualsIgnoringCase(a, b);
}

constexpr std::string_view TrimBlanks(std::string_view text, std::string_view blanks = " \t") {
    while (!text.empty() && blanks.find(text.front()) != std::string_view::npos) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blanks.find(text.back()) != std::string_view::npos) {
        text.remove_suffix(1);
    }
    return text;
}

// The value of a hex digit of either case, or -1.
template <typename Char>
constexpr int HexDigitValue(Char c) {
    if (c >= Char('0') && c <= Char('9')) {
        return static_cast<int>(c - Char('0'));
    }
    const Char lower = LowerAscii(c);
    if (lower >= Char('a') && lower <= Char('f')) {
        return static_cast<int>(lower - Char('a')) + 10;
    }
    return -1;
}

}  // namespace drovan
