#include "extract/name_rules.h"

#include "extract/ascii.h"
#include "extract/utf8.h"

namespace drovan {
namespace {

constexpr std::size_t kLongestName = 255;

std::size_t LengthIn(std::u16string_view text, NameLengthUnit unit) {
    return unit == NameLengthUnit::Utf16Units ? text.size() : Utf16ToUtf8(text).size();
}

// Units of the character at text[at]: two for a surrogate pair.
std::size_t CharacterUnits(std::u16string_view text, std::size_t at) {
    const bool pair = text[at] >= 0xD800 && text[at] <= 0xDBFF && at + 1 < text.size() &&
                      text[at + 1] >= 0xDC00 && text[at + 1] <= 0xDFFF;
    return pair ? 2 : 1;
}

// The longest start of text, in whole characters, that is at most room long.
std::u16string_view LongestStart(std::u16string_view text, std::size_t room, NameLengthUnit unit) {
    std::size_t end = 0;
    for (std::size_t used = 0; end < text.size();) {
        const std::size_t units = CharacterUnits(text, end);
        used += LengthIn(text.substr(end, units), unit);
        if (used > room) {
            break;
        }
        end += units;
    }
    return text.substr(0, end);
}

}  // namespace

bool IsDots(std::u16string_view name) {
    return name == u"." || name == u"..";
}

bool NameEndsWithType(std::u16string_view name, std::u16string_view fileType) {
    if (name.size() < fileType.size()) {
        return false;
    }
    return EqualsIgnoringAsciiCase(name.substr(name.size() - fileType.size()), fileType);
}

std::u16string NumberedName(std::u16string_view name, unsigned number) {
    std::u16string suffix = u" (";
    for (char c : std::to_string(number)) {
        suffix += static_cast<char16_t>(c);
    }
    suffix += u')';
    const std::size_t dot = name.rfind(u'.');
    if (dot == std::u16string_view::npos) {
        return std::u16string(name) + suffix;
    }
    return std::u16string(name.substr(0, dot)) + suffix + std::u16string(name.substr(dot));
}

std::u16string FittedName(std::u16string_view name, unsigned number, NameLengthUnit unit) {
    std::u16string whole = number > 1 ? NumberedName(name, number) : std::u16string(name);
    if (LengthIn(whole, unit) <= kLongestName) {
        return whole;
    }
    const std::u16string suffix = number > 1 ? NumberedName(u"", number) : u"";
    std::u16string_view stem = name.substr(0, name.rfind(u'.'));
    std::u16string tail = suffix + std::u16string(name.substr(stem.size()));
    // An extension too long to leave room for the stem is cut with it.
    if (LengthIn(tail, unit) >= kLongestName) {
        stem = name;
        tail = suffix;
    }
    return std::u16string(LongestStart(stem, kLongestName - LengthIn(tail, unit), unit)) + tail;
}

std::u16string NameFamily(std::u16string_view name) {
    const std::size_t dot = name.rfind(u'.');
    std::u16string_view stem = dot == std::u16string_view::npos ? name : name.substr(0, dot);
    const std::u16string_view extension = name.substr(stem.size());
    // Strips " (digits)" from the stem's end, as often as it is there.
    for (;;) {
        std::size_t digits = 0;
        if (stem.empty() || stem.back() != u')') {
            break;
        }
        while (digits + 1 < stem.size() && stem[stem.size() - 2 - digits] >= u'0' &&
               stem[stem.size() - 2 - digits] <= u'9') {
            ++digits;
        }
        const std::size_t open = stem.size() - 2 - digits;
        if (digits == 0 || stem.size() < digits + 3 || stem[open] != u'(' || stem[open - 1] != u' ') {
            break;
        }
        stem = stem.substr(0, open - 1);
    }
    std::u16string family;
    family.reserve(stem.size() + extension.size());
    for (const char16_t c : stem) {
        family += LowerAscii(c);
    }
    for (const char16_t c : extension) {
        family += LowerAscii(c);
    }
    return family;
}

void AppendToPath(std::u16string& path, std::u16string_view name, char16_t separator) {
    if (path.empty() || path.back() != separator) {
        path += separator;
    }
    path += name;
}

std::u16string JoinPath(std::u16string_view folder, std::u16string_view name, char16_t separator) {
    std::u16string path(folder);
    AppendToPath(path, name, separator);
    return path;
}

}  // namespace drovan
