#pragma once

#include <cstdint>

namespace drovan {

// The skin's colours, 0x00BBGGRR, shared by the main window and the dialogs.

// The background of the main window and the About box, and the light strips of the main window's frame.
inline constexpr std::uint32_t kSkinLight = 0xFFF3E7;
// Frame lines, captions and the About box's separator, and the dark strips of the main window's frame.
inline constexpr std::uint32_t kSkinBlue = 0xE78629;
// The background of the save-path notice.
inline constexpr std::uint32_t kSkinNoticeLight = 0xFFF9EA;

}  // namespace drovan
