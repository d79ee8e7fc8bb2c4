#pragma once

#include <functional>
#include <optional>
#include <string>

namespace drovan {

// The running system's class, taken once at start-up before any window exists.
int CurrentOsClass();
bool IsRecognisedOs();
// The theme test runs on the first call on Windows XP and never again.
bool IsXpThemeActive();
// The menu is drawn, measured and given image variants in the XP style.
bool IsXpStyle();

// Tests render as on another system: this class and this theme value instead of the real ones.
void OverrideRenderingSettingsForTests(int osClass,
                                       std::function<std::optional<std::string>()> readThemeValue);

}  // namespace drovan
