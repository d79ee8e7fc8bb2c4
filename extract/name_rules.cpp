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
