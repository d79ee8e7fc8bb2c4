#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "controls/skin_button_win.h"
#include "framework/dib_pixels.h"
#include "framework/gdi.h"
#include "live_handles.h"
#include "pixel_surface.h"
#include "res/resource.h"

namespace drovan {
namespace {

constexpr int kButtonsDialog = 300;
constexpr COLORREF kHotBack = RGB(200, 40, 40);
constexpr COLORREF kHotText = RGB(0, 0, 160);
constexpr COLORREF kNormalBack = RGB(40, 200, 40);
constexpr COLORREF kNormalText = RGB(160, 0, 0);
constexpr COLORREF kFocusBack = RGB(40, 40, 200);

void Pump() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

INT_PTR CALLBACK PlainDialogProc(HWND, UINT, WPARAM, LPARAM) {
    return FALSE;
}

// A modeless test dialog whose controls are bound before it is shown, as a dialog's initialisation does.
class ButtonDialog : public framework::Window {
  public:
    ButtonDialog() {
        Subclass(CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kButtonsDialog), nullptr,
                                    &PlainDialogProc, 0));
    }
    ~ButtonDialog() override { DestroyWindow(hwnd()); }

    HWND item(int id) const { return GetDlgItem(hwnd(), id); }
    void Show() {
        ShowWindow(hwnd(), SW_SHOW);
        UpdateWindow(hwnd());
        Pump();
    }
    void SetBackground(COLORREF colour) {
        m_background.reset(CreateSolidBrush(colour));
        RedrawWindow(hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        Pump();
    }
    int clicks(int id) { return m_clicks[id]; }

  protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
            ++m_clicks[LOWORD(wParam)];
        }
        if (message == WM_CTLCOLORDLG && m_background) {
            return reinterpret_cast<LRESULT>(m_background.get());
        }
        return Default(message, wParam, lParam);
    }

  private:
    framework::Brush m_background;
    std::map<int, int> m_clicks;
};

// A surface that starts black, with the box of the pixels of one colour.
class Canvas : public tests::PixelSurface {
  public:
    Canvas(int width, int height) : PixelSurface(width, height, RGB(0, 0, 0)) {}
    // Empty when there are none.
    RECT BoxOf(COLORREF colour) const {
        RECT box{width(), height(), 0, 0};
        for (int y = 0; y < height(); ++y) {
            for (int x = 0; x < width(); ++x) {
                if (At(x, y) == colour) {
                    box = {std::min<LONG>(box.left, x), std::min<LONG>(box.top, y),
                           std::max<LONG>(box.right, x + 1), std::max<LONG>(box.bottom, y + 1)};
                }
            }
        }
        return box;
    }
};

RECT ClientRect(HWND window) {
    RECT rect{};
    GetClientRect(window, &rect);
    return rect;
}

// Has the button draw itself into the canvas as the dialog manager would ask it to.
void Draw(const SkinButton& button, const Canvas& canvas, UINT itemState = 0) {
    DRAWITEMSTRUCT item{};
    item.CtlType = ODT_BUTTON;
    item.CtlID = static_cast<UINT>(GetDlgCtrlID(button.hwnd()));
    item.itemAction = ODA_DRAWENTIRE;
    item.itemState = itemState;
    item.hwndItem = button.hwnd();
    item.hDC = canvas.dc();
    item.rcItem = ClientRect(button.hwnd());
    SendMessageW(GetParent(button.hwnd()), WM_DRAWITEM, item.CtlID, reinterpret_cast<LPARAM>(&item));
}

void SetTestColours(SkinButton& button) {
    button.SetStateColor(HotBack, kHotBack, FALSE);
    button.SetStateColor(HotText, kHotText, FALSE);
    button.SetStateColor(NormalBack, kNormalBack, FALSE);
    button.SetStateColor(NormalText, kNormalText, FALSE);
    button.SetStateColor(FocusBack, kFocusBack, FALSE);
}

void MoveMouse(const SkinButton& button, WPARAM keys, int x, int y) {
    SendMessageW(button.hwnd(), WM_MOUSEMOVE, keys, MAKELPARAM(x, y));
}

bool Hovered(const SkinButton& button) {
    const RECT client = ClientRect(button.hwnd());
    Canvas canvas(client.right, client.bottom);
    Draw(button, canvas);
    return canvas.At(2, 2) == kHotBack;
}

std::vector<std::uint32_t> IconPixels(HICON icon, SIZE& size) {
    ICONINFO info{};
    if (!GetIconInfo(icon, &info)) {
        return {};
    }
    const framework::Bitmap mask(info.hbmMask);
    const framework::Bitmap colour(info.hbmColor);
    const std::optional<framework::DibPixels> pixels = framework::ReadDibPixels(colour.get());
    if (!pixels) {
        return {};
    }
    size = {pixels->width, pixels->height};
    return pixels->quads;
}

TEST(SkinButtonDraw, ColoursBorderAndTextByState) {
    ButtonDialog dialog;
    SkinButton button;
    ASSERT_TRUE(button.Subclass(dialog.item(1001)));
    SetTestColours(button);
    dialog.Show();
    const RECT client = ClientRect(button.hwnd());
    const int right = client.right - 1;
    const int bottom = client.bottom - 1;
    const COLORREF highlight = GetSysColor(COLOR_BTNHIGHLIGHT);
    const COLORREF shadow = GetSysColor(COLOR_BTNSHADOW);

    Canvas normal(client.right, client.bottom);
    Draw(button, normal);
    EXPECT_EQ(normal.At(0, 0), kNormalBack);
    EXPECT_EQ(normal.At(right, bottom), kNormalBack);
    const RECT normalText = normal.BoxOf(kNormalText);
    ASSERT_LT(normalText.left, normalText.right);

    Canvas focused(client.right, client.bottom);
    Draw(button, focused, ODS_FOCUS);
    EXPECT_EQ(focused.At(0, 0), kFocusBack);
    EXPECT_EQ(focused.At(3, 3), kFocusBack);
    EXPECT_EQ(focused.BoxOf(kNormalText).left, normalText.left);

    MoveMouse(button, 0, 4, 4);
    Canvas hovered(client.right, client.bottom);
    Draw(button, hovered);
    EXPECT_EQ(hovered.At(0, 0), highlight);
    EXPECT_EQ(hovered.At(right, bottom), shadow);
    EXPECT_EQ(hovered.At(2, 2), kHotBack);
    EXPECT_EQ(hovered.BoxOf(kHotText).left, normalText.left);

    Canvas pressed(client.right, client.bottom);
    Draw(button, pressed, ODS_SELECTED);
    EXPECT_EQ(pressed.At(0, 0), shadow);
    EXPECT_EQ(pressed.At(right, bottom), highlight);
    const RECT pressedText = pressed.BoxOf(kHotText);
    EXPECT_EQ(pressedText.left, normalText.left + 1);
    EXPECT_EQ(pressedText.top, normalText.top + 1);

    SendMessageW(button.hwnd(), WM_MOUSELEAVE, 0, 0);
    Canvas disabled(client.right, client.bottom);
    Draw(button, disabled, ODS_DISABLED);
    EXPECT_EQ(disabled.At(0, 0), kNormalBack);
    EXPECT_EQ(disabled.BoxOf(kNormalText).right, 0);
    const RECT engravedLight = disabled.BoxOf(highlight);
    const RECT engravedDark = disabled.BoxOf(shadow);
    EXPECT_EQ(engravedLight.right, engravedDark.right + 1);
    EXPECT_EQ(engravedLight.bottom, engravedDark.bottom + 1);

    button.SetHoverBorder(FALSE, FALSE);
    Canvas flat(client.right, client.bottom);
    Draw(button, flat, ODS_SELECTED);
    EXPECT_EQ(flat.At(0, 0), kHotBack);

    button.SetFocusRectWhenFlat(TRUE, FALSE);
    Canvas withFocusRect(client.right, client.bottom);
    Draw(button, withFocusRect, ODS_FOCUS);
    int dotted = 0;
    for (int x = 3; x < client.right - 3; ++x) {
        EXPECT_EQ(withFocusRect.At(x, 2), kFocusBack);
        dotted += withFocusRect.At(x, 3) != kFocusBack ? 1 : 0;
    }
    EXPECT_GT(dotted, 0);
}

TEST(SkinButtonInput, HoverStartsOnlyWithoutTheMouseButtonHeldAndEndsOnLeaveAndFocusLoss) {
    ButtonDialog dialog;
    SkinButton button;
    ASSERT_TRUE(button.Subclass(dialog.item(1001)));
    SetTestColours(button);
    dialog.Show();

    MoveMouse(button, MK_LBUTTON, 4, 4);
    EXPECT_FALSE(Hovered(button));
    MoveMouse(button, 0, 4, 4);
    EXPECT_TRUE(Hovered(button));
    SendMessageW(button.hwnd(), WM_MOUSELEAVE, 0, 0);
    EXPECT_FALSE(Hovered(button));

    MoveMouse(button, 0, 4, 4);
    SendMessageW(button.hwnd(), WM_KILLFOCUS, 0, 0);
    EXPECT_FALSE(Hovered(button));

    MoveMouse(button, 0, 4, 4);
    const RECT client = ClientRect(button.hwnd());
    MoveMouse(button, 0, client.right + 200, 4);
    EXPECT_FALSE(Hovered(button));
}

// Pumps this thread's messages until the condition holds; false when two seconds pass first.
bool PumpUntil(const std::function<bool()>& done) {
    for (int waited = 0; waited < 2000; waited += 20) {
        Pump();
        if (done()) {
            return true;
        }
        Sleep(20);
    }
    return false;
}

// What a user does: the pointer rests on the button, then another window comes up over the dialog and is
// activated. The platform tells top-level windows of the activation, never the button itself.
TEST(SkinButtonInput, HoverEndsWhenAnotherWindowIsActivatedOverTheDialog) {
    ButtonDialog dialog;
    SkinButton button;
    ASSERT_TRUE(button.Subclass(dialog.item(1001)));
    SetTestColours(button);
    dialog.Show();
    SetForegroundWindow(dialog.hwnd());
    RECT onScreen{};
    GetWindowRect(button.hwnd(), &onScreen);
    SetCursorPos(onScreen.left + 4, onScreen.top + 4);
    ASSERT_TRUE(PumpUntil([&] { return Hovered(button); }));

    RECT dialogRect{};
    GetWindowRect(dialog.hwnd(), &dialogRect);
    framework::OwnedWindow other(
        CreateWindowExW(0, L"STATIC", L"other", WS_POPUP | WS_VISIBLE, dialogRect.left, dialogRect.top,
                        dialogRect.right - dialogRect.left, dialogRect.bottom - dialogRect.top, nullptr,
                        nullptr, nullptr, nullptr));
    ASSERT_TRUE(other);
    SetForegroundWindow(other.get());
    SetActiveWindow(other.get());
    EXPECT_TRUE(PumpUntil([&] { return GetActiveWindow() == other.get(); }));
    EXPECT_TRUE(PumpUntil([&] { return !Hovered(button); }));
}

TEST(SkinButtonInput, DoubleClickIsTwoClicks) {
    ButtonDialog dialog;
    SkinButton button;
    ASSERT_TRUE(button.Subclass(dialog.item(1001)));
    dialog.Show();
    const LPARAM inside = MAKELPARAM(4, 4);
    SendMessageW(button.hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, inside);
    SendMessageW(button.hwnd(), WM_LBUTTONUP, 0, inside);
    SendMessageW(button.hwnd(), WM_LBUTTONDBLCLK, MK_LBUTTON, inside);
    SendMessageW(button.hwnd(), WM_LBUTTONUP, 0, inside);
    Pump();
    EXPECT_EQ(dialog.clicks(1001), 2);
    EXPECT_EQ(GetFocus(), button.hwnd());
}

TEST(SkinButtonCheck, ModeFromTemplateStyleAndCheckMessages) {
    ButtonDialog dialog;
    std::map<int, SkinButton> buttons;
    for (int id = 1001; id <= 1007; ++id) {
        ASSERT_TRUE(buttons[id].Subclass(dialog.item(id)));
        EXPECT_EQ(GetWindowLongW(dialog.item(id), GWL_STYLE) & 0x1F, BS_OWNERDRAW) << id;
    }
    dialog.Show();
    const auto checkAfter = [&](int id, WPARAM state) {
        SendMessageW(dialog.item(id), BM_SETCHECK, state, 0);
        return SendMessageW(dialog.item(id), BM_GETCHECK, 0, 0);
    };
    for (const int id : {1003, 1004, 1005}) {
        EXPECT_EQ(checkAfter(id, 1), 1) << id;
        EXPECT_EQ(checkAfter(id, 0), 0) << id;
        EXPECT_EQ(checkAfter(id, 2), 1) << id;
        EXPECT_EQ(checkAfter(id, 3), 0) << id;
    }
    for (const int id : {1001, 1002, 1006, 1007}) {
        EXPECT_EQ(checkAfter(id, 1), 0) << id;
        EXPECT_EQ(checkAfter(id, 2), 0) << id;
    }
    // A click toggles a check box and leaves a push button unchecked.
    SendMessageW(dialog.item(1003), BM_CLICK, 0, 0);
    SendMessageW(dialog.item(1001), BM_CLICK, 0, 0);
    EXPECT_TRUE(buttons[1003].IsChecked());
    EXPECT_FALSE(buttons[1001].IsChecked());
}

TEST(SkinButtonCheck, CheckedCheckBoxLooksPressedWithoutMoving) {
    ButtonDialog dialog;
    SkinButton box;
    SkinButton push;
    ASSERT_TRUE(box.Subclass(dialog.item(1003)));
    ASSERT_TRUE(push.Subclass(dialog.item(1001)));
    SetTestColours(box);
    dialog.Show();
    const RECT client = ClientRect(box.hwnd());
    Canvas plain(client.right, client.bottom);
    Draw(box, plain);
    box.SetChecked(TRUE, FALSE);
    Canvas checked(client.right, client.bottom);
    Draw(box, checked);
    EXPECT_EQ(checked.At(0, 0), GetSysColor(COLOR_BTNSHADOW));
    EXPECT_EQ(checked.At(2, 2), kHotBack);
    EXPECT_EQ(checked.BoxOf(kHotText).left, plain.BoxOf(kNormalText).left);
    EXPECT_EQ(push.SetChecked(TRUE, FALSE), 0u);
    EXPECT_FALSE(push.IsChecked());
}

TEST(SkinButtonDialogCode, DefaultPushButtonUntilTheDialogManagerMovesIt) {
    ButtonDialog dialog;
    SkinButton plain;
    SkinButton byDefault;
    ASSERT_TRUE(plain.Subclass(dialog.item(1001)));
    ASSERT_TRUE(byDefault.Subclass(dialog.item(1002)));
    dialog.Show();
    EXPECT_TRUE(SendMessageW(byDefault.hwnd(), WM_GETDLGCODE, 0, 0) & DLGC_DEFPUSHBUTTON);
    EXPECT_TRUE(SendMessageW(plain.hwnd(), WM_GETDLGCODE, 0, 0) & DLGC_UNDEFPUSHBUTTON);
    SendMessageW(byDefault.hwnd(), BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
    SendMessageW(plain.hwnd(), BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
    EXPECT_TRUE(SendMessageW(byDefault.hwnd(), WM_GETDLGCODE, 0, 0) & DLGC_UNDEFPUSHBUTTON);
    EXPECT_TRUE(SendMessageW(plain.hwnd(), WM_GETDLGCODE, 0, 0) & DLGC_DEFPUSHBUTTON);
    EXPECT_EQ(GetWindowLongW(plain.hwnd(), GWL_STYLE) & 0x1F, BS_OWNERDRAW);
    EXPECT_EQ(GetWindowLongW(byDefault.hwnd(), GWL_STYLE) & 0x1F, BS_OWNERDRAW);
}

TEST(SkinButtonFocus, DisablingMovesTheFocusToTheNextTabStop) {
    ButtonDialog dialog;
    SkinButton first;
    SkinButton second;
    ASSERT_TRUE(first.Subclass(dialog.item(1001)));
    ASSERT_TRUE(second.Subclass(dialog.item(1002)));
    dialog.Show();
    SetFocus(first.hwnd());
    EnableWindow(first.hwnd(), FALSE);
    EXPECT_EQ(GetFocus(), second.hwnd());

    SetFocus(dialog.item(1008));
    EnableWindow(second.hwnd(), FALSE);
    EXPECT_EQ(GetFocus(), dialog.item(1003));
}

TEST(SkinButtonIcons, GreyCopyKeepsSizeAndTransparency) {
    ButtonDialog dialog;
    SkinButton button;
    ASSERT_TRUE(button.Subclass(dialog.item(1009)));
    dialog.Show();
    ASSERT_EQ(button.SetIcons(IDI_EXTRACT_HOT, ICON_GRAY_COPY), 0);
    ASSERT_NE(button.icon(0), nullptr);
    ASSERT_NE(button.icon(1), nullptr);
    EXPECT_EQ(button.iconSize(1).cx, button.iconSize(0).cx);
    EXPECT_EQ(button.iconSize(1).cy, button.iconSize(0).cy);

    SIZE hotSize{};
    SIZE greySize{};
    const std::vector<std::uint32_t> hot = IconPixels(button.icon(0), hotSize);
    const std::vector<std::uint32_t> grey = IconPixels(button.icon(1), greySize);
    ASSERT_EQ(hot.size(), grey.size());
    ASSERT_EQ(hotSize.cx, button.iconSize(0).cx);
    bool colourful = false;
    bool softEdge = false;
    for (size_t i = 0; i < hot.size(); ++i) {
        const std::uint32_t pixel = grey[i];
        EXPECT_EQ(pixel >> 24, hot[i] >> 24) << i;
        EXPECT_EQ((pixel >> 16) & 0xFF, pixel & 0xFF) << i;
        EXPECT_EQ((pixel >> 8) & 0xFF, pixel & 0xFF) << i;
        colourful = colourful || ((hot[i] >> 16) & 0xFF) != (hot[i] & 0xFF);
        softEdge = softEdge || ((hot[i] >> 24) > 0 && (hot[i] >> 24) < 255);
    }
    EXPECT_TRUE(colourful);
    EXPECT_TRUE(softEdge);

    // Drawn over red, the grey copy's transparent corner shows the red.
    Canvas canvas(hotSize.cx, hotSize.cy);
    const framework::Brush red(CreateSolidBrush(RGB(255, 0, 0)));
    const RECT all{0, 0, hotSize.cx, hotSize.cy};
    FillRect(canvas.dc(), &all, red.get());
    DrawIconEx(canvas.dc(), 0, 0, button.icon(1), 0, 0, 0, nullptr, DI_NORMAL);
    EXPECT_EQ(canvas.At(0, 0), RGB(255, 0, 0));
    const COLORREF centre = canvas.At(hotSize.cx / 2, hotSize.cy / 2);
    EXPECT_EQ(GetRValue(centre), GetBValue(centre));
}

TEST(SkinButtonIcons, IconsDrawnByStateAndAMonochromeIconLeavesNone) {
    ButtonDialog dialog;
    SkinButton button;
    ASSERT_TRUE(button.Subclass(dialog.item(1009)));
    SetTestColours(button);
    dialog.Show();
    ASSERT_EQ(button.SetIcons(IDI_EXTRACT_HOT, ICON_GRAY_COPY), 0);
    const RECT client = ClientRect(button.hwnd());
    const int x = client.right / 2;
    const int y = client.bottom / 2;
    Canvas normal(client.right, client.bottom);
    Draw(button, normal);
    const COLORREF normalCentre = normal.At(x, y);
    EXPECT_EQ(GetRValue(normalCentre), GetGValue(normalCentre));
    MoveMouse(button, 0, 4, 4);
    Canvas hovered(client.right, client.bottom);
    Draw(button, hovered);
    EXPECT_NE(hovered.At(x, y), normalCentre);

    const BYTE andBits[32 * 4] = {};
    BYTE xorBits[32 * 4];
    std::fill(std::begin(xorBits), std::end(xorBits), BYTE{0xAA});
    const HICON monochrome = CreateIcon(GetModuleHandleW(nullptr), 32, 32, 1, 1, andBits, xorBits);
    ASSERT_NE(monochrome, nullptr);
    EXPECT_EQ(button.SetIcons(monochrome, reinterpret_cast<HICON>(static_cast<INT_PTR>(ICON_GRAY_COPY))), 1);
    EXPECT_EQ(button.icon(0), nullptr);
    EXPECT_EQ(button.icon(1), nullptr);
    EXPECT_EQ(button.SetIcons(nullptr, nullptr), 0);
}

TEST(SkinButtonTransparent, KeepsTheParentPixelsOfItsFirstDraw) {
    ButtonDialog dialog;
    SkinButton button;
    ASSERT_TRUE(button.Subclass(dialog.item(1009)));
    button.SetTransparent(FALSE);
    dialog.SetBackground(RGB(10, 120, 30));
    dialog.Show();
    const RECT client = ClientRect(button.hwnd());
    Canvas first(client.right, client.bottom);
    Draw(button, first);
    EXPECT_EQ(first.At(client.right / 2, client.bottom / 2), RGB(10, 120, 30));

    dialog.SetBackground(RGB(90, 20, 160));
    Canvas later(client.right, client.bottom);
    Draw(button, later);
    EXPECT_EQ(later.At(client.right / 2, client.bottom / 2), RGB(10, 120, 30));
}

TEST(SkinButtonTip, SecondTextUpdatesTheOneTool) {
    ButtonDialog dialog;
    SkinButton button;
    ASSERT_TRUE(button.Subclass(dialog.item(1001)));
    dialog.Show();
    button.SetTipText(L"first", TRUE);
    const RECT firstRect = ClientRect(button.hwnd());
    SetWindowPos(button.hwnd(), nullptr, 0, 0, 120, 60, SWP_NOMOVE | SWP_NOZORDER);
    button.SetTipText(L"提取缓存文件", TRUE);
    button.SetTipText(nullptr, TRUE);
    const HWND tip = button.tipWindow();
    ASSERT_NE(tip, nullptr);
    EXPECT_EQ(SendMessageW(tip, TTM_GETTOOLCOUNT, 0, 0), 1);
    wchar_t text[80] = {};
    TOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    tool.hwnd = button.hwnd();
    tool.uId = 1;
    tool.lpszText = text;
    SendMessageW(tip, TTM_GETTEXTW, 80, reinterpret_cast<LPARAM>(&tool));
    EXPECT_STREQ(text, L"提取缓存文件");
    tool.lpszText = nullptr;
    ASSERT_TRUE(SendMessageW(tip, TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&tool)));
    EXPECT_EQ(tool.rect.right, firstRect.right);
    EXPECT_EQ(tool.rect.bottom, firstRect.bottom);
}

using tests::LiveHandles;

TEST(SkinButtonLeaks, DrawsAndDialogsLeaveNothingBehind) {
    const LiveHandles before;
    for (int round = 0; round < 3; ++round) {
        ButtonDialog dialog;
        SkinButton withIcons;
        SkinButton transparent;
        SkinButton box;
        withIcons.Subclass(dialog.item(1009));
        transparent.Subclass(dialog.item(1001));
        box.Subclass(dialog.item(1003));
        withIcons.SetIcons(IDI_EXTRACT_HOT, ICON_GRAY_COPY);
        withIcons.SetTipText(L"提取", TRUE);
        transparent.SetTransparent(FALSE);
        dialog.Show();
        const RECT client = ClientRect(withIcons.hwnd());
        Canvas canvas(client.right, client.bottom);
        const LiveHandles beforeDraws;
        for (const UINT state : {0u, UINT{ODS_FOCUS}, UINT{ODS_SELECTED}, UINT{ODS_DISABLED}}) {
            Draw(withIcons, canvas, state);
            Draw(transparent, canvas, state);
            Draw(box, canvas, state);
        }
        ASSERT_TRUE(LiveHandles() == beforeDraws) << round;
    }
    EXPECT_TRUE(LiveHandles() == before);
}

}  // namespace
}  // namespace drovan
