#include "menu/render_settings_win.h"

#include <windows.h>

#include "framework/text.h"
#include "menu/render_settings.h"

namespace drovan {
namespace {

int DetectOsClass() {
    // GetVersion is deprecated but is the family test this table is defined on.
#if defined(_MSC_VER)
#pragma warning(suppress : 4996)
#endif
    const DWORD version = GetVersion();
    std::optional<VersionNumbers> detailed;
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
#if defined(_MSC_VER)
#pragma warning(suppress : 4996)
#endif
    if (GetVersionExW(&info)) {
        detailed = VersionNumbers{info.dwMajorVersion, info.dwMinorVersion};
    }
    return OsClassFromVersion(version, detailed);
}

std::optional<std::string> ReadThemeValue() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Plus!\\Themes\\Current", 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    std::optional<std::string> value;
    DWORD type = 0;
    DWORD bytes = 0;
    if (RegQueryValueExW(key, nullptr, nullptr, &type, nullptr, &bytes) == ERROR_SUCCESS && type == REG_SZ) {
        std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
        bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
        if (RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &bytes) ==
            ERROR_SUCCESS) {
            text.resize(wcsnlen(text.c_str(), text.size()));
            value = framework::ToNarrow(text, CP_UTF8);
        }
    }
    RegCloseKey(key);
    return value;
}

struct RenderingSettings {
    int osClass = DetectOsClass();
    ThemeTest theme{ReadThemeValue};
};

// A static initialiser: the class is known before the first window.
RenderingSettings g_settings;

}  // namespace

int CurrentOsClass() {
    return g_settings.osClass;
}

bool IsRecognisedOs() {
    return IsRecognisedOsClass(g_settings.osClass);
}

bool IsXpThemeActive() {
    return drovan::IsXpThemeActive(g_settings.osClass, g_settings.theme);
}

bool IsXpStyle() {
    return IsXpThemeActive();
}

void OverrideRenderingSettingsForTests(int osClass,
                                       std::function<std::optional<std::string>()> readThemeValue) {
    g_settings.osClass = osClass;
    g_settings.theme = ThemeTest(std::move(readThemeValue));
}

}  // namespace drovan
