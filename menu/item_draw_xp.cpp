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

struct XpColours {
    std::uint32_t body;
    std::uint32_t band;
    std::uint32_t border;
    std::uint32_t highlightFill;
    std::uint32_t checkFill;
};

XpColours XpColoursOf(const MenuColours& colours) {
    return {colours.window, colours.face, colours.highlight,
            BlendTowardWhite(colours.highlight, kHighlightFillFactor),
            BlendTowardWhite(colours.highlight, kCheckFillFactor)};
}

// The image in the band: raised with a shadow under the pointer, boxed when checked.
void AddXpImage(std::vector<PaintStep>& steps, const ItemFacts& item, const StyleFacts& style,
                const XpColours& xp, int bandWidth) {
    const framework::Rect& rc = item.rect;
    const int W = style.imageWidth;
    const int H = style.imageHeight;
    const int one = framework::ScaleToDpi(1, style.dpi);
    int imageX = rc.left + CentringOffset(bandWidth, W);
    int imageY = rc.top + CentringOffset(rc.bottom - rc.top, H);
    const framework::Rect imageBox{rc.left + one, rc.top + one, rc.left + bandWidth - one, rc.bottom - one};
    const int slot = item.imageSlot;
    if (item.grayed) {
        steps.push_back(DisabledImageStep{slot, imageX, imageY, W, H, xp.band});
    } else if (item.selected) {
        steps.push_back(FillStep{imageBox, xp.highlightFill});
        if (item.checked) {
            steps.push_back(FrameStep{imageBox, xp.border, xp.border});
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
        steps.push_back(FillStep{imageBox, xp.checkFill});
        steps.push_back(FrameStep{imageBox, xp.border, xp.border});
        steps.push_back(ImageStep{slot, imageX - one, imageY - one});
    } else {
        steps.push_back(FillStep{imageBox, xp.band});
        steps.push_back(FrameStep{imageBox, xp.band, xp.band});
        steps.push_back(ImageStep{item.hasVariants ? slot + 1 : slot, imageX, imageY});
    }
}

}  // namespace

ItemPlan PlanXpItem(const ItemFacts& item, const StyleFacts& style, const MenuColours& colours) {
    ItemPlan plan;
    std::vector<PaintStep>& steps = plan.steps;
    const framework::Rect& rc = item.rect;
    const int L = rc.left;
    const int T = rc.top;
    const int B = rc.bottom;
    const auto px = [&style](int pixels) { return framework::ScaleToDpi(pixels, style.dpi); };
    const int padding = ImagePadding(true, style.dpi);
    const int bandWidth = style.imageWidth + padding;
    const XpColours xp = XpColoursOf(colours);
    const framework::Rect band{L, T, L + bandWidth, B};

    plan.offscreen = item.grayed;
    const bool highlighted = item.selected && !item.grayed;

    if (item.separator) {
        steps.push_back(FillStep{rc, xp.body});
        steps.push_back(EdgeStep{framework::Rect{L + bandWidth + padding, T + ((B - T) >> 1), rc.right, B},
                                 EdgeKind::EtchedTop});
        steps.push_back(FillStep{band, xp.band});
        steps.push_back(FrameStep{band, xp.band, xp.band});
        return plan;
    }

    if (highlighted) {
        steps.push_back(FillStep{rc, xp.highlightFill});
        steps.push_back(FrameStep{rc, xp.border, xp.border});
    } else {
        steps.push_back(FillStep{rc, xp.body});
        steps.push_back(FillStep{band, xp.band});
        steps.push_back(FrameStep{rc, xp.body, xp.body});
        steps.push_back(FrameStep{band, xp.band, xp.band});
    }

    if (item.imageSlot >= 0) {
        AddXpImage(steps, item, style, xp, bandWidth);
    } else if (item.checked) {
        const int checkSize = px(kCheckBoxSize);
        const int checkX = L + CentringOffset(bandWidth, checkSize);
        const int checkY = T + CentringOffset(B - T, checkSize);
        const framework::Rect check{checkX, checkY, checkX + checkSize, checkY + checkSize};
        steps.push_back(FillStep{check, xp.checkFill});
        steps.push_back(FrameStep{check, xp.border, xp.border});
        AddCheckMark(steps, check, item.hasCheckBitmap, px(5), colours.menuText, style.dpi);
    }

    if (!item.text.empty()) {
        const TextParts parts = SplitAtTabs(item.text);
        AddTextParts(plan.texts, parts, ItemTextRect(item, style, L + bandWidth + px(8), parts),
                     item.grayed ? colours.grayText : colours.menuText);
    }
    return plan;
}

}  // namespace drovan
