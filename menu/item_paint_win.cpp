#include "menu/item_paint_win.h"

#include <optional>
#include <string>

#include "framework/app.h"
#include "framework/dpi_win.h"
#include "framework/gdi.h"
#include "framework/rect_win.h"
#include "menu/image_pixels_win.h"
#include "menu/item_draw_classic.h"
#include "menu/item_draw_xp.h"
#include "menu/menu_item_data.h"
#include "menu/offscreen_dc.h"
#include "menu/render_settings_win.h"
#include "menu/shared_images_win.h"

namespace drovan {
namespace {

void FillSolid(HDC dc, int left, int top, int right, int bottom, COLORREF colour) {
    const RECT rect{left, top, right, bottom};
    framework::Brush brush(CreateSolidBrush(colour));
    FillRect(dc, &rect, brush.get());
}

framework::Font CreateMenuFont(int dpi) {
    const NONCLIENTMETRICSW metrics = framework::NonClientMetricsForDpi(dpi);
    return framework::Font(CreateFontIndirectW(&metrics.lfMenuFont));
}

std::u16string TextOf(const MenuItemData& record) {
    const wchar_t* text = record.Text();
    return text != nullptr ? std::u16string(text, text + wcslen(text)) : std::u16string();
}

bool HoldsImage(HIMAGELIST images, int slot) {
    return images != nullptr && slot >= 0 && slot < ImageList_GetImageCount(images);
}

bool HasOwnCheckBitmap(HMENU menu, UINT itemId) {
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_CHECKMARKS;
    return GetMenuItemInfoW(menu, itemId, FALSE, &info) && info.hbmpChecked != nullptr;
}

class StepPainter {
  public:
    StepPainter(HDC dc, HIMAGELIST images) : m_dc(dc), m_images(images) {}

    void operator()(const FillStep& step) const {
        FillSolid(m_dc, step.rect.left, step.rect.top, step.rect.right, step.rect.bottom, step.colour);
    }
    void operator()(const FrameStep& step) const {
        const framework::Rect& r = step.rect;
        if (r.right <= r.left || r.bottom <= r.top) {
            return;
        }
        FillSolid(m_dc, r.left, r.top, r.right - 1, r.top + 1, step.topLeft);
        FillSolid(m_dc, r.left, r.top, r.left + 1, r.bottom - 1, step.topLeft);
        FillSolid(m_dc, r.right - 1, r.top, r.right, r.bottom, step.bottomRight);
        FillSolid(m_dc, r.left, r.bottom - 1, r.right, r.bottom, step.bottomRight);
    }
    void operator()(const EdgeStep& step) const {
        RECT rect = framework::ToRECT(step.rect);
        if (step.kind == EdgeKind::EtchedTop) {
            DrawEdge(m_dc, &rect, EDGE_ETCHED, BF_TOP);
        } else {
            DrawEdge(m_dc, &rect, BDR_SUNKENOUTER, BF_RECT);
        }
    }
    void operator()(const LineStep& step) const {
        framework::Pen pen(CreatePen(PS_SOLID, 0, step.colour));
        framework::SelectGuard select(m_dc, pen.get());
        MoveToEx(m_dc, step.x1, step.y1, nullptr);
        LineTo(m_dc, step.x2, step.y2);
    }
    void operator()(const DotStep& step) const {
        framework::Pen pen(CreatePen(PS_SOLID, 0, step.colour));
        framework::Brush brush(CreateSolidBrush(step.colour));
        framework::SelectGuard selectPen(m_dc, pen.get());
        framework::SelectGuard selectBrush(m_dc, brush.get());
        Ellipse(m_dc, step.rect.left, step.rect.top, step.rect.right, step.rect.bottom);
    }
    void operator()(const ImageStep& step) const {
        if (HoldsImage(m_images, step.slot)) {
            ImageList_Draw(m_images, step.slot, m_dc, step.x, step.y, ILD_TRANSPARENT);
        }
    }
    void operator()(const DisabledImageStep& step) const {
        // An empty slot would render as a black square.
        if (!HoldsImage(m_images, step.slot)) {
            return;
        }
        const framework::Bitmap image =
            RenderImageToBitmap(m_dc, m_images, step.slot, step.width, step.height);
        DrawDisabledImage(m_dc, step.x, step.y, step.width, step.height, image.get(), 0, 0, step.background);
    }

  private:
    HDC m_dc;
    HIMAGELIST m_images;
};

}  // namespace

MenuColours CurrentMenuColours() {
    MenuColours colours;
    colours.menu = GetSysColor(COLOR_MENU);
    colours.window = GetSysColor(COLOR_WINDOW);
    colours.menuText = GetSysColor(COLOR_MENUTEXT);
    colours.highlight = GetSysColor(COLOR_HIGHLIGHT);
    colours.highlightText = GetSysColor(COLOR_HIGHLIGHTTEXT);
    colours.face = GetSysColor(COLOR_3DFACE);
    colours.shadow = GetSysColor(COLOR_BTNSHADOW);
    colours.grayText = GetSysColor(COLOR_GRAYTEXT);
    colours.buttonHighlight = GetSysColor(COLOR_BTNHIGHLIGHT);
    return colours;
}

ItemSize MeasureMenuEntry(const MenuItemData& record, int imageWidth, int imageHeight, int dpi) {
    MeasureFacts facts;
    facts.imageWidth = imageWidth;
    facts.imageHeight = imageHeight;
    facts.menuBarHeight = framework::SystemMetricForDpi(SM_CYMENU, dpi);
    facts.xpStyle = IsXpStyle();
    facts.dpi = dpi;
    if (record.m_flags & MF_SEPARATOR) {
        return MeasureSeparator(facts);
    }
    const int osClass = CurrentOsClass();
    const framework::Font font = CreateMenuFont(dpi);
    const framework::ClientDC dc(framework::MainWindowOrDesktop());
    std::optional<framework::SelectGuard> select;
    if (MeasuresWithMenuFont(osClass) && font) {
        select.emplace(dc.get(), font.get());
    }
    const wchar_t* text = record.Text() != nullptr ? record.Text() : L"";
    const int length = static_cast<int>(wcslen(text));
    int textWidth = 0;
    if (MeasuresByCalculatedRect(osClass)) {
        RECT calculated{0, 0, 0, 0};
        DrawTextW(dc.get(), text, length, &calculated, DT_CALCRECT | DT_SINGLELINE | DT_VCENTER);
        textWidth =
            WidenCalculatedWidth(calculated.right - calculated.left, static_cast<std::size_t>(length));
    } else {
        SIZE extent{};
        GetTextExtentPoint32W(dc.get(), text, length, &extent);
        textWidth = extent.cx;
    }
    return MeasureTextItem(facts, textWidth);
}

void ExecuteItemPlan(HDC dc, const ItemPlan& plan, HIMAGELIST images) {
    const StepPainter painter(dc, images);
    for (const PaintStep& step : plan.steps) {
        std::visit(painter, step);
    }
    if (plan.texts.empty()) {
        return;
    }
    const int oldMode = SetBkMode(dc, TRANSPARENT);
    const COLORREF oldColour = GetTextColor(dc);
    for (const TextStep& text : plan.texts) {
        const std::wstring wide(text.text.begin(), text.text.end());
        RECT rect = framework::ToRECT(text.rect);
        const UINT align = text.align == TextAlign::Right ? DT_RIGHT : DT_LEFT;
        SetTextColor(dc, text.colour);
        DrawTextW(dc, wide.c_str(), static_cast<int>(wide.size()), &rect, align | DT_VCENTER | DT_SINGLELINE);
    }
    SetTextColor(dc, oldColour);
    SetBkMode(dc, oldMode);
}

void PaintMenuEntry(const DRAWITEMSTRUCT& request, const MenuItemData& record, int imageWidth,
                    int imageHeight, int dpi) {
    ItemFacts item;
    item.rect = framework::FromRECT(request.rcItem);
    item.separator = (record.m_flags & MF_SEPARATOR) != 0;
    item.selected = (request.itemState & ODS_SELECTED) != 0;
    item.grayed = (request.itemState & ODS_GRAYED) != 0;
    item.checked = (request.itemState & ODS_CHECKED) != 0;
    item.imageSlot = record.m_sharedImageIndex;
    item.hasVariants = item.imageSlot >= 0 && HasImageVariants(item.imageSlot);
    if (item.checked && item.imageSlot < 0) {
        item.hasCheckBitmap = HasOwnCheckBitmap(reinterpret_cast<HMENU>(request.hwndItem), request.itemID);
    }
    item.text = TextOf(record);

    StyleFacts style;
    style.imageWidth = imageWidth;
    style.imageHeight = imageHeight;
    style.xpThemeActive = IsXpThemeActive();
    style.recognisedOs = IsRecognisedOs();
    style.dpi = dpi;

    HDC dc = request.hDC;
    const bool palette = (GetDeviceCaps(dc, RASTERCAPS) & RC_PALETTE) != 0;
    const MenuColours colours = CurrentMenuColours();
    const ItemPlan plan = ChooseItemStyle(palette, style.xpThemeActive) == ItemStyle::Xp
                              ? PlanXpItem(item, style, colours)
                              : PlanClassicItem(item, style, colours);
    HIMAGELIST images = SharedImages();
    if (!plan.offscreen) {
        ExecuteItemPlan(dc, plan, images);
        return;
    }
    const OffscreenDC surface(dc, request.rcItem);
    const framework::Font font = CreateMenuFont(dpi);
    const framework::SelectGuard select(surface.get(), font.get());
    ExecuteItemPlan(surface.get(), plan, images);
}

}  // namespace drovan
