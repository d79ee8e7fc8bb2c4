#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>

namespace drovan {

enum OsClass : int {
    OsWin32s = 0,
    OsNtOther = 1,
    OsWin95 = 2,
    OsWin98 = 3,
    OsWinMe = 4,
    OsNt4 = 5,
    OsWin2000 = 6,
    OsWinXp = 7,
};

struct VersionNumbers {
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
};

// The class from GetVersion()'s result (below 0x80000000: NT family; else the 9x family, whose low byte is
// the major version) and the detailed version query, which is nullopt when it could not be made.
int OsClassFromVersion(std::uint32_t getVersionResult, const std::optional<VersionNumbers>& detailed);

// TRUE for the classes the refinements are made on: 2 or more.
bool IsRecognisedOsClass(int osClass);

// The default value of HKCU\Software\Microsoft\Plus!\Themes\Current, as read (nullopt: no key or no value).
// Classic when its last 21 characters equal "Windows Classic.theme" with ASCII letters folded.
bool IsClassicThemeValue(const std::optional<std::string>& value);

// The theme test, run at most once: the first call marks it as run before it reads, so that a failed
// read is never repeated.
class ThemeTest {
  public:
    explicit ThemeTest(std::function<std::optional<std::string>()> readThemeValue)
        : m_readThemeValue(std::move(readThemeValue)) {}
    bool IsClassicThemeSelected();

  private:
    std::function<std::optional<std::string>()> m_readThemeValue;
    bool m_checked = false;
    bool m_selected = false;
};

// XP look: Windows XP with a theme other than the classic one. The theme test runs only on Windows XP.
bool IsXpThemeActive(int osClass, ThemeTest& theme);

// color is 0x00BBGGRR. Factors outside (0, 1] give color back unchanged, all 32 bits; otherwise each channel
// c becomes c + (255 - c) * factor, truncated, and the top byte is 0.
std::uint32_t BlendTowardWhite(std::uint32_t color, double factor);

}  // namespace drovan
