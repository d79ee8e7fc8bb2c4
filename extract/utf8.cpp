#include "extract/utf8.h"

#include <cstdint>

namespace drovan {
namespace {

constexpr char32_t kEscapeBase = 0xDC80;

bool IsContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

void AppendUtf16(std::u16string& out, char32_t code) {
    if (code < 0x10000) {
        out += static_cast<char16_t>(code);
        return;
    }
    code -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (code >> 10));
    out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
}

void AppendUtf8(std::string& out, char32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// Length and value of the well-formed sequence at text[i], or 0 when it is not one.
std::size_t DecodeSequence(std::string_view text, std::size_t i, char32_t& code) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
        code = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, code = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, code = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, code = lead & 0x07, minimum = 0x10000;
    } else {
        return 0;
    }
    if (i + length > text.size()) {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        const auto byte = static_cast<unsigned char>(text[i + k]);
        if (!IsContinuation(byte)) {
            return 0;
        }
        code = (code << 6) | (byte & 0x3F);
    }
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    return (code < minimum || code > 0x10FFFF || surrogate) ? 0 : length;
}

// Paths and names are mostly ASCII: the leading ASCII run is widened or narrowed in one pass.
template <typename From>
std::size_t AsciiPrefix(const From& text) {
    std::size_t length = 0;
    while (length < text.size() && static_cast<std::uint32_t>(text[length]) < 0x80) {
        ++length;
    }
    return length;
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view text) {
    const std::size_t ascii = AsciiPrefix(text);
    std::u16string out(ascii, u'\0');
    for (std::size_t i = 0; i < ascii; ++i) {
        out[i] = static_cast<char16_t>(text[i]);
    }
    if (ascii == text.size()) {
        return out;
    }
    out.reserve(text.size());
    for (std::size_t i = ascii; i < text.size();) {
        char32_t code = 0;
        const std::size_t length = DecodeSequence(text, i, code);
        if (length == 0) {
            out += static_cast<char16_t>(kEscapeBase + static_cast<unsigned char>(text[i]) - 0x80);
            ++i;
            continue;
        }
        AppendUtf16(out, code);
        i += length;
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
    const std::size_t ascii = AsciiPrefix(text);
    std::string out(ascii, '\0');
    for (std::size_t i = 0; i < ascii; ++i) {
        out[i] = static_cast<char>(text[i]);
    }
    if (ascii == text.size()) {
        return out;
    }
    out.reserve(text.size());
    for (std::size_t i = ascii; i < text.size(); ++i) {
        const char32_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else if (unit >= kEscapeBase && unit <= kEscapeBase + 0x7F) {
            out += static_cast<char>(unit - kEscapeBase + 0x80);
        } else {
            AppendUtf8(out, unit);
        }
    }
    return out;
}

}  // namespace drovan
