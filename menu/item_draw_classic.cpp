#include "menu/item_draw_classic.h"

#include <algorithm>

#include "menu/render_settings.h"

namespace drovan {
namespace {

constexpr double kCheckedFillFactor = 0.6;

}  // namespace

TextParts SplitAtTabs(const std::u16string& text) {
    const std::size_t first = text.find(u'\t');
    if (first == std::u16string::npos) {
        return TextParts{text, std::u16string(), false};
    }
    const std::size_t last = text.rfind(u'\t');
    return TextParts{text.substr(0, first), text.substr(last + 1), true};
}

void AddTextParts(std::vector<TextStep>& texts, const TextParts& parts, const framework::Rect& rect,
                  std::uint32_t colour) {
    texts.push_back(TextStep{rect, parts.label, colour, TextAlign::Left});
    if (parts.hasAccelerator) {
        texts.push_back(TextStep{rect, parts.accelerator, colour, TextAlign::Right});
    }
}

void AddTick(std::vector<PaintStep>& steps, int x, int y, std::uint32_t colour, int dpi) {
    static constexpr int kStrokeTops[] = {2, 3, 4, 3, 2, 1, 0};
    const int length = framework::ScaleToDpi(3, dpi);
    int stroke = 0;
    for (const int top : kStrokeTops) {
        // One stroke a column at 96 DPI; a scaled stroke covers the columns its scaled cell spans.
        const int strokeTop = y + framework::ScaleToDpi(top, dpi);
        for (int column = x + framework::ScaleToDpi(stroke, dpi);
             column < x + framework::ScaleToDpi(stroke + 1, dpi); ++column) {
            steps.push_back(LineStep{column, strokeTop, column, strokeTop + length, colour});
        }
        ++stroke;
    }
}

void AddRadioDot(std::vector<PaintStep>& steps, int x, int y, std::uint32_t colour, int dpi) {
    const int size = framework::ScaleToDpi(6, dpi);
    steps.push_back(DotStep{framework::Rect{x, y, x + size, y + size}, colour});
}

void AddCheckMark(std::vector<PaintStep>& steps, const framework::Rect& box, bool radio, int tickInset,
                  std::uint32_t colour, int dpi) {
    const int top = box.top + framework::ScaleToDpi(4, dpi);
    if (radio) {
        AddRadioDot(steps, box.left + framework::ScaleToDpi(5, dpi), top, colour, dpi);
    } else {
        AddTick(steps, box.left + tickInset, top, colour, dpi);
    }
}

framework::Rect ItemTextRect(const ItemFacts& item, const StyleFacts& style, int left,
                             const TextParts& parts) {
    const int lift = framework::ScaleToDpi(1, style.dpi);
    const framework::Rect& rc = item.rect;
    return framework::Rect{left, rc.top - lift, rc.right - (parts.hasAccelerator ? style.imageWidth : 0),
                           rc.bottom - lift};
}

namespace {

// The image's box: a one-pixel frame and a one-pixel gap round it at 96 DPI, centred in the item's height.
struct ClassicImageBox {
    framework::Rect inner;
    framework::Rect box;
    int imageX;
    int imageY;
};

ClassicImageBox ClassicImageBoxOf(const ItemFacts& item, const StyleFacts& style) {
    const framework::Rect& rc = item.rect;
    const int frame = framework::ScaleToDpi(1, style.dpi);
    const int margin = framework::ScaleToDpi(2, style.dpi);
    const int W = style.imageWidth;
    const int H = style.imageHeight;
    const int dy = std::max(0, (rc.bottom - rc.top - H - 2 * margin) / 2);
    return {framework::Rect{rc.left + frame, rc.top + dy + frame, rc.left + W + 2 * margin - frame,
                            rc.top + dy + H + 2 * margin - frame},
            framework::Rect{rc.left, rc.top + dy, rc.left + W + 2 * margin, rc.top + dy + H + 2 * margin},
            rc.left + margin, rc.top + dy + margin};
}

// The image in a 3-D box: raised under the pointer, sunken when checked, flat otherwise.
void AddClassicImage(std::vector<PaintStep>& steps, const ItemFacts& item, const StyleFacts& style,
                     const MenuColours& colours, std::uint32_t bg) {
    const ClassicImageBox at = ClassicImageBoxOf(item, style);
    const FrameStep raised{at.box, colours.buttonHighlight, colours.shadow};
    const FrameStep sunken{at.box, colours.shadow, colours.buttonHighlight};
    steps.push_back(FrameStep{at.inner, bg, bg});
    if (item.grayed) {
        steps.push_back(FrameStep{at.box, bg, bg});
        steps.push_back(
            DisabledImageStep{item.imageSlot, at.imageX, at.imageY, style.imageWidth, style.imageHeight, bg});
        return;
    }
    if (item.selected) {
        steps.push_back(FillStep{at.inner, bg});
        if (style.recognisedOs) {
            steps.push_back(item.checked ? sunken : raised);
        }
    } else if (item.checked) {
        steps.push_back(FillStep{at.inner, BlendTowardWhite(bg, kCheckedFillFactor)});
        if (style.recognisedOs) {
            steps.push_back(sunken);
        }
    } else {
        steps.push_back(FillStep{at.inner, bg});
        steps.push_back(FrameStep{at.box, bg, bg});
    }
    steps.push_back(ImageStep{item.imageSlot, at.imageX, at.imageY});
}

// Disabled text is engraved, unless the highlight bar is under it.
void AddClassicText(ItemPlan& plan, const ItemFacts& item, const StyleFacts& style,
                    const MenuColours& colours, std::uint32_t bg) {
    const auto px = [&style](int pixels) { return framework::ScaleToDpi(pixels, style.dpi); };
    const TextParts parts = SplitAtTabs(item.text);
    const framework::Rect textRect =
        ItemTextRect(item, style, item.rect.left + style.imageWidth + px(9), parts);
    if (!item.grayed) {
        AddTextParts(plan.texts, parts, textRect, item.selected ? colours.highlightText : colours.menuText);
    } else if (!item.selected) {
        AddTextParts(plan.texts, parts, textRect.Offset(px(1), px(1)), colours.buttonHighlight);
        AddTextParts(plan.texts, parts, textRect, colours.grayText);
    } else {
        AddTextParts(plan.texts, parts, textRect, bg);
    }
}

}  // namespace

ItemPlan PlanClassicItem(const ItemFacts& item, const StyleFacts& style, const MenuColours& colours) {
    ItemPlan plan;
    std::vector<PaintStep>& steps = plan.steps;
    const framework::Rect& rc = item.rect;
    const int L = rc.left;
    const int T = rc.top;
    const int B = rc.bottom;
    const int W = style.imageWidth;
    const std::uint32_t bg = style.xpThemeActive ? colours.face : colours.menu;
    const auto px = [&style](int pixels) { return framework::ScaleToDpi(pixels, style.dpi); };

    if (item.separator) {
        steps.push_back(FillStep{rc, bg});
        steps.push_back(EdgeStep{framework::Rect{L, T + ((B - T) >> 1), rc.right, B}, EdgeKind::EtchedTop});
        return plan;
    }

    const bool hasImage = item.imageSlot >= 0;
    if (item.selected) {
        const framework::Rect bar =
            hasImage || item.checked ? framework::Rect{L + W + px(5), T, rc.right, B} : rc;
        steps.push_back(FillStep{bar, colours.highlight});
    } else {
        steps.push_back(FillStep{rc, bg});
        steps.push_back(FrameStep{rc, bg, bg});
    }

    if (hasImage) {
        AddClassicImage(steps, item, style, colours, bg);
    } else if (item.checked) {
        const ClassicImageBox at = ClassicImageBoxOf(item, style);
        const int frame = px(1);
        const framework::Rect check{L + frame, at.imageY, L + W + frame, at.imageY + style.imageHeight};
        steps.push_back(FillStep{check, item.selected ? bg : BlendTowardWhite(bg, kCheckedFillFactor)});
        if (style.recognisedOs) {
            steps.push_back(EdgeStep{check, EdgeKind::SunkenOuter});
        }
        AddCheckMark(steps, check, item.hasCheckBitmap, px(4), colours.menuText, style.dpi);
    }

    if (!item.text.empty()) {
        AddClassicText(plan, item, style, colours, bg);
    }
    return plan;
}

}  // namespace drovan
