#pragma once

#include <cstdint>

#include "framework/rect.h"

namespace drovan {

// The maker's web page behind the About box's link.
inline constexpr wchar_t kMakerPage[] = L"http://www.example.org/velmar/";

// Colours 0x00BBGGRR of the link label.
inline constexpr std::uint32_t kLinkNormalColour = 0xE78629;
inline constexpr std::uint32_t kLinkHoverColour = 0x0000FF;

// What a mouse message at (x, y) in the dialog's client area does to the link. The link's left and top edges
// belong to it, its right and bottom ones do not.
struct LinkResponse {
    std::uint32_t colour = kLinkNormalColour;
    // On a move: show the hand cursor. On a press: open the maker's page.
    bool overLink = false;
};

LinkResponse LinkAfterMouseMove(const framework::Rect& link, int x, int y);
// A press elsewhere leaves the colour as it was.
LinkResponse LinkAfterButtonDown(std::uint32_t colour, const framework::Rect& link, int x, int y);

// The About box's icon alternates between two images; the index is shared by every opening.
inline constexpr int kAnimationFrames = 2;

struct AnimationTick {
    int shown = 0;
    int next = 0;
};

AnimationTick NextAnimationTick(int index);

// Where a label goes so that its text, one line textWidth × textHeight pixels, shows whole. Dialog units grow
// slower than fonts at some scales, so a label laid out for one line may be too small. A label the text fits
// stays as it is; otherwise it widens, keeping its left edge, up to the client area's right edge, then grows
// as many lines tall as the text wraps to there, down to the client area's bottom.
framework::Rect LabelFittingText(const framework::Rect& label, int textWidth, int textHeight,
                                 const framework::Rect& client);

}  // namespace drovan
