#include "menu/item_draw_xp.h"

#include <algorithm>

#include "menu/item_draw_classic.h"
#include "menu/item_measure.h"
#include "menu/render_settings.h"

namespace drovan {
namespace {

constexpr double kHighlightFillFactor = 0.7;
constexpr double kCheckFillFactor = 0.85;
constexpr int kCheckBoxSize = 16;

// Half the spare room, rounded up, never negative.
int CentringOffset(int room, int size) {
    return std::max(0, static_cast<int>((room - size + 1) * 0.5));
}

}  // namespace

ItemPlan PlanXpItem(const ItemFacts& item, const StyleFacts& style, const MenuColours& colours) {
    ItemPlan plan;
    std::vector<PaintStep>& steps = plan.steps;
    const Rect& rc = item.rect;
    const int L = rc.left;
    const int T = rc.top;
    const int R = rc.right;
    const int B = rc.bottom;
    const int W = style.imageWidth;
    const int H = style.imageHeight;
    const auto px = [&style](int pixels) { return ScaleToDpi(pixels, style.dpi); };
    const int padding = ImagePadding(true, style.dpi);
    const int one = px(1);
    const int bandWidth = W + padding;
    const std::uint32_t body = colours.window;
    const std::uint32_t bandColour = colours.face;
    const std::uint32_t border = colours.highlight;
    const std::uint32_t highlightFill = BlendTowardWhite(border, kHighlightFillFactor);
    const std::uint32_t checkFill = BlendTowardWhite(border, kCheckFillFactor);
    const Rect band{L, T, L + bandWidth, B};

    plan.offscreen = item.grayed;
    const bool highlighted = item.selected && !item.grayed;

    if (item.separator) {
        steps.push_back(FillStep{rc, body});
        steps.push_back(
            EdgeStep{Rect{L + bandWidth + padding, T + ((B - T) >> 1), R, B}, EdgeKind::EtchedTop});
        steps.push_back(FillStep{band, bandColour});
        steps.push_back(FrameStep{band, bandColour, bandColour});
        return plan;
    }

    if (highlighted) {
        steps.push_back(FillStep{rc, highlightFill});
        steps.push_back(FrameStep{rc, border, border});
    } else {
        steps.push_back(FillStep{rc, body});
        steps.push_back(FillStep{band, bandColour});
        steps.push_back(FrameStep{rc, body, body});
        steps.push_back(FrameStep{band, bandColour, bandColour});
    }

    int imageX = L + CentringOffset(bandWidth, W);
    int imageY = T + CentringOffset(B - T, H);
    const Rect imageBox{L + one, T + one, L + bandWidth - one, B - one};
    const int slot = item.imageSlot;

    if (slot >= 0) {
        if (item.grayed) {
            steps.push_back(DisabledImageStep{slot, imageX, imageY, W, H, bandColour});
        } else if (highlighted) {
            steps.push_back(FillStep{imageBox, highlightFill});
            if (item.checked) {
                steps.push_back(FrameStep{imageBox, border, border});
                imageX -= one;
                imageY -= one;
            }
            if (item.hasVariants && !item.checked) {
                steps.push_back(ImageStep{slot + 2, imageX + one, imageY + one});
                steps.push_back(ImageStep{slot, imageX - one, imageY - one});
            } else {
                steps.push_back(ImageStep{slot, imageX, imageY});
            }
        } else if (item.checked) {
            steps.push_back(FillStep{imageBox, checkFill});
            steps.push_back(FrameStep{imageBox, border, border});
            steps.push_back(ImageStep{slot, imageX - one, imageY - one});
        } else {
            steps.push_back(FillStep{imageBox, bandColour});
            steps.push_back(FrameStep{imageBox, bandColour, bandColour});
            steps.push_back(ImageStep{item.hasVariants ? slot + 1 : slot, imageX, imageY});
        }
    } else if (item.checked) {
        const int checkSize = px(kCheckBoxSize);
        const int checkX = L + CentringOffset(bandWidth, checkSize);
        const int checkY = T + CentringOffset(B - T, checkSize);
        const Rect check{checkX, checkY, checkX + checkSize, checkY + checkSize};
        steps.push_back(FillStep{check, checkFill});
        steps.push_back(FrameStep{check, border, border});
        if (item.hasCheckBitmap) {
            AddRadioDot(steps, check.left + px(5), check.top + px(4), colours.menuText, style.dpi);
        } else {
            AddTick(steps, check.left + px(5), check.top + px(4), colours.menuText, style.dpi);
        }
    }

    if (item.text.empty()) {
        return plan;
    }
    const TextParts parts = SplitAtTabs(item.text);
    Rect textRect{L + bandWidth + px(8), T - one, R, B - one};
    if (parts.hasAccelerator) {
        textRect.right -= W;
    }
    const std::uint32_t textColour = item.grayed ? colours.grayText : colours.menuText;
    AddTextParts(plan.texts, parts, textRect, textColour);
    return plan;
}

}  // namespace drovan
