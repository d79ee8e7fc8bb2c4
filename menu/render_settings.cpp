#include "menu/render_settings.h"

#include <cstddef>
#include <string_view>

namespace drovan {
namespace {

constexpr std::string_view kClassicThemeName = "Windows Classic.theme";

char FoldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

int NtClass(const VersionNumbers& v) {
    if (v.major == 4) {
        return OsNt4;
    }
    if (v.major == 5 && v.minor == 0) {
        return OsWin2000;
    }
    if (v.major == 5 && v.minor == 1) {
        return OsWinXp;
    }
    return OsNtOther;
}

int NineXClass(const VersionNumbers& v) {
    if (v.major == 4 && v.minor == 10) {
        return OsWin98;
    }
    if (v.major == 4 && v.minor == 90) {
        return OsWinMe;
    }
    return OsWin95;
}

std::uint32_t BlendChannel(std::uint32_t color, int shift, double factor) {
    const std::uint32_t c = (color >> shift) & 0xFFu;
    const auto blended = static_cast<std::uint32_t>(c + (255 - c) * factor);
    return blended << shift;
}

}  // namespace

int OsClassFromVersion(std::uint32_t getVersionResult, const std::optional<VersionNumbers>& detailed) {
    if (getVersionResult < 0x80000000u) {
        return detailed ? NtClass(*detailed) : OsNtOther;
    }
    if ((getVersionResult & 0xFFu) < 4) {
        return OsWin32s;
    }
    return detailed ? NineXClass(*detailed) : OsWin95;
}

bool IsRecognisedOsClass(int osClass) {
    return osClass >= OsWin95;
}

bool IsClassicThemeValue(const std::optional<std::string>& value) {
    if (!value || value->size() < kClassicThemeName.size()) {
        return false;
    }
    const std::string_view tail = std::string_view(*value).substr(value->size() - kClassicThemeName.size());
    for (std::size_t i = 0; i < tail.size(); ++i) {
        if (FoldAscii(tail[i]) != FoldAscii(kClassicThemeName[i])) {
            return false;
        }
    }
    return true;
}

bool ThemeTest::IsClassicThemeSelected() {
    if (m_checked) {
        return m_selected;
    }
    m_checked = true;
    m_selected = IsClassicThemeValue(m_readThemeValue());
    return m_selected;
}

bool IsXpThemeActive(int osClass, ThemeTest& theme) {
    return osClass == OsWinXp && !theme.IsClassicThemeSelected();
}

std::uint32_t BlendTowardWhite(std::uint32_t color, double factor) {
    // Written so that NaN also takes the unchanged path.
    if (!(factor > 0.0 && factor <= 1.0)) {
        return color;
    }
    return BlendChannel(color, 0, factor) | BlendChannel(color, 8, factor) | BlendChannel(color, 16, factor);
}

}  // namespace drovan
