#include "extract/name_rules.h"

namespace drovan {
namespace {

char16_t FoldAscii(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

}  // namespace

bool IsDots(std::u16string_view name) {
    return name == u"." || name == u"..";
}

bool NameEndsWithType(std::u16string_view name, std::u16string_view fileType) {
    if (name.size() < fileType.size()) {
        return false;
    }
    const std::u16string_view tail = name.substr(name.size() - fileType.size());
    for (std::size_t i = 0; i < tail.size(); ++i) {
        if (FoldAscii(tail[i]) != FoldAscii(fileType[i])) {
            return false;
        }
    }
    return true;
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
        family += FoldAscii(c);
    }
    for (const char16_t c : extension) {
        family += FoldAscii(c);
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
