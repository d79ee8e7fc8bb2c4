#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "framework/dpi.h"
#include "framework/rect.h"

namespace drovan {

// The system colours menu drawing reads, as 0x00BBGGRR.
struct MenuColours {
    std::uint32_t menu = 0;             // COLOR_MENU
    std::uint32_t window = 0;           // COLOR_WINDOW
    std::uint32_t menuText = 0;         // COLOR_MENUTEXT
    std::uint32_t highlight = 0;        // COLOR_HIGHLIGHT
    std::uint32_t highlightText = 0;    // COLOR_HIGHLIGHTTEXT
    std::uint32_t face = 0;             // COLOR_3DFACE
    std::uint32_t shadow = 0;           // COLOR_BTNSHADOW
    std::uint32_t grayText = 0;         // COLOR_GRAYTEXT
    std::uint32_t buttonHighlight = 0;  // COLOR_BTNHIGHLIGHT
};

// One entry as a draw request finds it.
struct ItemFacts {
    framework::Rect rect;
    bool separator = false;
    bool selected = false;
    bool grayed = false;
    bool checked = false;
    int imageSlot = -1;           // in the shared image list; -1: no image
    bool hasVariants = false;     // slot + 1 holds the faded image, slot + 2 the shadow
    bool hasCheckBitmap = false;  // the entry has a checked-state bitmap of its own: a dot instead of a tick
    std::u16string text;
};

// What the menu and the system contribute to every entry.
struct StyleFacts {
    int imageWidth = 16;
    int imageHeight = 15;
    bool xpThemeActive = false;
    bool recognisedOs = true;
    // Every pixel length of the look is given at 96 DPI and grows with this.
    int dpi = framework::kBaseDpi;
};

struct FillStep {
    framework::Rect rect;
    std::uint32_t colour = 0;
};

// A one-pixel frame just inside rect: top and left in one colour, bottom and right in the other.
struct FrameStep {
    framework::Rect rect;
    std::uint32_t topLeft = 0;
    std::uint32_t bottomRight = 0;
};

enum class EdgeKind { EtchedTop, SunkenOuter };

struct EdgeStep {
    framework::Rect rect;
    EdgeKind kind = EdgeKind::EtchedTop;
};

// A one-pixel line from (x1, y1) up to, not including, (x2, y2).
struct LineStep {
    int x1 = 0;
    int y1 = 0;
    int x2 = 0;
    int y2 = 0;
    std::uint32_t colour = 0;
};

// A filled ellipse in one colour.
struct DotStep {
    framework::Rect rect;
    std::uint32_t colour = 0;
};

// A shared image drawn transparently with its top-left corner at (x, y).
struct ImageStep {
    int slot = 0;
    int x = 0;
    int y = 0;
};

// A shared image of width x height drawn embossed on background.
struct DisabledImageStep {
    int slot = 0;
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    std::uint32_t background = 0;
};

enum class TextAlign { Left, Right };

// One line of text, vertically centred in rect, with "&" marking the mnemonic; drawn without a background.
struct TextStep {
    framework::Rect rect;
    std::u16string text;
    std::uint32_t colour = 0;
    TextAlign align = TextAlign::Left;
};

using PaintStep =
    std::variant<FillStep, FrameStep, EdgeStep, LineStep, DotStep, ImageStep, DisabledImageStep>;

struct ItemPlan {
    // Painted on a surface over the entry and copied to the screen in one piece, with the menu font selected.
    bool offscreen = false;
    std::vector<PaintStep> steps;
    // Drawn after all steps, in order.
    std::vector<TextStep> texts;
};

enum class ItemStyle { Classic, Xp };

// A palette device always gets the classic style.
inline ItemStyle ChooseItemStyle(bool paletteDevice, bool xpThemeActive) {
    return !paletteDevice && xpThemeActive ? ItemStyle::Xp : ItemStyle::Classic;
}

}  // namespace drovan
