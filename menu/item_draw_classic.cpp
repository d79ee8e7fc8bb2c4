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

void AddTextParts(std::vector<TextStep>& texts, const TextParts& parts, const Rect& rect,
                  std::uint32_t colour) {
    texts.push_back(TextStep{rect, parts.label, colour, TextAlign::Left});
    if (parts.hasAccelerator) {
        texts.push_back(TextStep{rect, parts.accelerator, colour, TextAlign::Right});
    }
}

void AddTick(std::vector<PaintStep>& steps, int x, int y, std::uint32_t colour, int dpi) {
    static constexpr int kStrokeTops[] = {2, 3, 4, 3, 2, 1, 0};
    const int length = ScaleToDpi(3, dpi);
    int stroke = 0;
    for (const int top : kStrokeTops) {
        // One stroke a column at 96 DPI; a scaled stroke covers the columns its scaled cell spans.
        const int strokeTop = y + ScaleToDpi(top, dpi);
        for (int column = x + ScaleToDpi(stroke, dpi); column < x + ScaleToDpi(stroke + 1, dpi); ++column) {
            steps.push_back(LineStep{column, strokeTop, column, strokeTop + length, colour});
        }
        ++stroke;
    }
}

void AddRadioDot(std::vector<PaintStep>& steps, int x, int y, std::uint32_t colour, int dpi) {
    const int size = ScaleToDpi(6, dpi);
    steps.push_back(DotStep{Rect{x, y, x + size, y + size}, colour});
}

ItemPlan PlanClassicItem(const ItemFacts& item, const StyleFacts& style, const MenuColours& colours) {
    ItemPlan plan;
    std::vector<PaintStep>& steps = plan.steps;
    const Rect& rc = item.rect;
    const int L = rc.left;
    const int T = rc.top;
    const int R = rc.right;
    const int B = rc.bottom;
    const int W = style.imageWidth;
    const int H = style.imageHeight;
    const std::uint32_t bg = style.xpThemeActive ? colours.face : colours.menu;
    const auto px = [&style](int pixels) { return ScaleToDpi(pixels, style.dpi); };
    // The image's box: a one-pixel frame and a one-pixel gap round it at 96 DPI.
    const int frame = px(1);
    const int margin = px(2);

    if (item.separator) {
        steps.push_back(FillStep{rc, bg});
        steps.push_back(EdgeStep{Rect{L, T + ((B - T) >> 1), R, B}, EdgeKind::EtchedTop});
        return plan;
    }

    const bool hasImage = item.imageSlot >= 0;
    const bool highlighted = item.selected;
    std::uint32_t textColour = colours.menuText;
    if (highlighted) {
        const Rect bar = hasImage || item.checked ? Rect{L + W + px(5), T, R, B} : rc;
        steps.push_back(FillStep{bar, colours.highlight});
        textColour = colours.highlightText;
    } else {
        steps.push_back(FillStep{rc, bg});
        steps.push_back(FrameStep{rc, bg, bg});
    }

    const int dy = std::max(0, (B - T - H - 2 * margin) / 2);
    const Rect inner{L + frame, T + dy + frame, L + W + 2 * margin - frame, T + dy + H + 2 * margin - frame};
    const Rect box{L, T + dy, L + W + 2 * margin, T + dy + H + 2 * margin};
    const int imageX = L + margin;
    const int imageY = T + dy + margin;
    const FrameStep raised{box, colours.buttonHighlight, colours.shadow};
    const FrameStep sunken{box, colours.shadow, colours.buttonHighlight};

    if (hasImage) {
        steps.push_back(FrameStep{inner, bg, bg});
        if (item.grayed) {
            steps.push_back(FrameStep{box, bg, bg});
            steps.push_back(DisabledImageStep{item.imageSlot, imageX, imageY, W, H, bg});
        } else if (item.selected) {
            steps.push_back(FillStep{inner, bg});
            if (style.recognisedOs) {
                steps.push_back(item.checked ? sunken : raised);
            }
            steps.push_back(ImageStep{item.imageSlot, imageX, imageY});
        } else {
            if (item.checked) {
                steps.push_back(FillStep{inner, BlendTowardWhite(bg, kCheckedFillFactor)});
                if (style.recognisedOs) {
                    steps.push_back(sunken);
                }
            } else {
                steps.push_back(FillStep{inner, bg});
                steps.push_back(FrameStep{box, bg, bg});
            }
            steps.push_back(ImageStep{item.imageSlot, imageX, imageY});
        }
    } else if (item.checked) {
        const Rect check{L + frame, T + dy + margin, L + W + frame, T + dy + H + margin};
        steps.push_back(FillStep{check, highlighted ? bg : BlendTowardWhite(bg, kCheckedFillFactor)});
        if (style.recognisedOs) {
            steps.push_back(EdgeStep{check, EdgeKind::SunkenOuter});
        }
        if (item.hasCheckBitmap) {
            AddRadioDot(steps, check.left + px(5), check.top + px(4), colours.menuText, style.dpi);
        } else {
            AddTick(steps, check.left + px(4), check.top + px(4), colours.menuText, style.dpi);
        }
    }

    if (item.text.empty()) {
        return plan;
    }
    const TextParts parts = SplitAtTabs(item.text);
    Rect textRect{L + W + px(9), T - px(1), R, B - px(1)};
    if (parts.hasAccelerator) {
        textRect.right -= W;
    }
    if (!item.grayed) {
        AddTextParts(plan.texts, parts, textRect, textColour);
    } else if (!highlighted) {
        const Rect engraved = textRect.Offset(px(1), px(1));
        AddTextParts(plan.texts, parts, engraved, colours.buttonHighlight);
        AddTextParts(plan.texts, parts, textRect, colours.grayText);
    } else {
        AddTextParts(plan.texts, parts, textRect, bg);
    }
    return plan;
}

}  // namespace drovan
