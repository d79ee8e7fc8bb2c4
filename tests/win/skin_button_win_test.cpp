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
#include "gdi_probes.h"
#include "res/resource.h"

namespace drovan {
namespace {

using tests::LiveHandles;

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

// The button as it draws itself, asked as the dialog manager would, on a black surface.
class Drawn : public tests::PixelSurface {
  public:
    explicit Drawn(const SkinButton& button, UINT itemState = 0)
        : PixelSurface(ClientSize(button).cx, ClientSize(button).cy, RGB(0, 0, 0)) {
        DRAWITEMSTRUCT item{};
        item.CtlType = ODT_BUTTON;
        item.CtlID = static_cast<UINT>(GetDlgCtrlID(button.hwnd()));
        item.itemAction = ODA_DRAWENTIRE;
        item.itemState = itemState;
        item.hwndItem = button.hwnd();
        item.hDC = dc();
        item.rcItem = {0, 0, width(), height()};
        SendMessageW(GetParent(button.hwnd()), WM_DRAWITEM, item.CtlID, reinterpret_cast<LPARAM>(&item));
    }
    // The box of the pixels of one colour; empty when there are none.
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
    static SIZE ClientSize(const SkinButton& button) {
        RECT client{};
        GetClientRect(button.hwnd(), &client);
        return {client.right, client.bottom};
    }
};

void MoveMouse(const SkinButton& button, WPARAM keys, int x, int y) {
    SendMessageW(button.hwnd(), WM_MOUSEMOVE, keys, MAKELPARAM(x, y));
}

bool Hovered(const SkinButton& button) {
    return Drawn(button).At(2, 2) == kHotBack;
}

// The test dialog and a button of it, bound, in the test colours when asked, and shown.
class SkinButtonWin : public ::testing::Test {
  protected:
    void Show(int id = 1001, bool colours = true) {
        ASSERT_TRUE(m_button.Subclass(m_dialog.item(id)));
        if (colours) {
            const std::pair<BYTE, COLORREF> states[] = {{HotBack, kHotBack},
                                                        {HotText, kHotText},
                                                        {NormalBack, kNormalBack},
                                                        {NormalText, kNormalText},
                                                        {FocusBack, kFocusBack}};
            for (const auto& [index, colour] : states) {
                m_button.SetStateColor(index, colour, FALSE);
            }
        }
        m_dialog.Show();
    }

    ButtonDialog m_dialog;
    SkinButton m_button;
};

TEST_F(SkinButtonWin, ColoursBorderAndTextByState) {
    Show();
    const RECT normalText = Drawn(m_button).BoxOf(kNormalText);
    ASSERT_LT(normalText.left, normalText.right);
    const COLORREF light = GetSysColor(COLOR_BTNHIGHLIGHT);
    const COLORREF shadow = GetSysColor(COLOR_BTNSHADOW);
    const struct {
        const char* name;
        bool hover;
        UINT itemState;
        COLORREF topLeft, bottomRight, inside, text;
        int textShift;
    } states[] = {
        {"normal", false, 0, kNormalBack, kNormalBack, kNormalBack, kNormalText, 0},
        {"focused", false, ODS_FOCUS, kFocusBack, kFocusBack, kFocusBack, kNormalText, 0},
        {"hovered", true, 0, light, shadow, kHotBack, kHotText, 0},
        {"pressed", true, ODS_SELECTED, shadow, light, kHotBack, kHotText, 1},
    };
    for (const auto& state : states) {
        SCOPED_TRACE(state.name);
        if (state.hover) {
            MoveMouse(m_button, 0, 4, 4);
        } else {
            SendMessageW(m_button.hwnd(), WM_MOUSELEAVE, 0, 0);
        }
        const Drawn drawn(m_button, state.itemState);
        EXPECT_EQ(drawn.At(0, 0), state.topLeft);
        EXPECT_EQ(drawn.At(drawn.width() - 1, drawn.height() - 1), state.bottomRight);
        EXPECT_EQ(drawn.At(2, 2), state.inside);
        const RECT text = drawn.BoxOf(state.text);
        EXPECT_EQ(text.left, normalText.left + state.textShift);
        EXPECT_EQ(text.top, normalText.top + state.textShift);
    }

    SendMessageW(m_button.hwnd(), WM_MOUSELEAVE, 0, 0);
    const Drawn disabled(m_button, ODS_DISABLED);
    EXPECT_EQ(disabled.At(0, 0), kNormalBack);
    EXPECT_EQ(disabled.BoxOf(kNormalText).right, 0);
    const RECT engravedLight = disabled.BoxOf(light);
    const RECT engravedDark = disabled.BoxOf(shadow);
    EXPECT_EQ(engravedLight.right, engravedDark.right + 1);
    EXPECT_EQ(engravedLight.bottom, engravedDark.bottom + 1);

    m_button.SetHoverBorder(FALSE, FALSE);
    EXPECT_EQ(Drawn(m_button, ODS_SELECTED).At(0, 0), kHotBack);

    m_button.SetFocusRectWhenFlat(TRUE, FALSE);
    const Drawn withFocusRect(m_button, ODS_FOCUS);
    int dotted = 0;
    for (int x = 3; x < withFocusRect.width() - 3; ++x) {
        EXPECT_EQ(withFocusRect.At(x, 2), kFocusBack);
        dotted += withFocusRect.At(x, 3) != kFocusBack ? 1 : 0;
    }
    EXPECT_GT(dotted, 0);
}

TEST_F(SkinButtonWin, HoverStartsOnlyWithoutTheMouseButtonHeldAndEndsOnLeaveAndFocusLoss) {
    Show();
    MoveMouse(m_button, MK_LBUTTON, 4, 4);
    EXPECT_FALSE(Hovered(m_button));
    MoveMouse(m_button, 0, 4, 4);
    EXPECT_TRUE(Hovered(m_button));
    SendMessageW(m_button.hwnd(), WM_MOUSELEAVE, 0, 0);
    EXPECT_FALSE(Hovered(m_button));

    MoveMouse(m_button, 0, 4, 4);
    SendMessageW(m_button.hwnd(), WM_KILLFOCUS, 0, 0);
    EXPECT_FALSE(Hovered(m_button));

    MoveMouse(m_button, 0, 4, 4);
    MoveMouse(m_button, 0, Drawn::ClientSize(m_button).cx + 200, 4);
    EXPECT_FALSE(Hovered(m_button));
}

// What a user does: the pointer rests on the button, then another window comes up over the dialog and is
// activated. The platform tells top-level windows of the activation, never the button itself.
TEST_F(SkinButtonWin, HoverEndsWhenAnotherWindowIsActivatedOverTheDialog) {
    Show();
    SetForegroundWindow(m_dialog.hwnd());
    RECT onScreen{};
    GetWindowRect(m_button.hwnd(), &onScreen);
    SetCursorPos(onScreen.left + 4, onScreen.top + 4);
    ASSERT_TRUE(PumpUntil([&] { return Hovered(m_button); }));

    RECT dialogRect{};
    GetWindowRect(m_dialog.hwnd(), &dialogRect);
    framework::OwnedWindow other(
        CreateWindowExW(0, L"STATIC", L"other", WS_POPUP | WS_VISIBLE, dialogRect.left, dialogRect.top,
                        dialogRect.right - dialogRect.left, dialogRect.bottom - dialogRect.top, nullptr,
                        nullptr, nullptr, nullptr));
    ASSERT_TRUE(other);
    SetForegroundWindow(other.get());
    SetActiveWindow(other.get());
    EXPECT_TRUE(PumpUntil([&] { return GetActiveWindow() == other.get(); }));
    EXPECT_TRUE(PumpUntil([&] { return !Hovered(m_button); }));
}

TEST_F(SkinButtonWin, DoubleClickIsTwoClicks) {
    Show(1001, false);
    const LPARAM inside = MAKELPARAM(4, 4);
    SendMessageW(m_button.hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, inside);
    SendMessageW(m_button.hwnd(), WM_LBUTTONUP, 0, inside);
    SendMessageW(m_button.hwnd(), WM_LBUTTONDBLCLK, MK_LBUTTON, inside);
    SendMessageW(m_button.hwnd(), WM_LBUTTONUP, 0, inside);
    Pump();
    EXPECT_EQ(m_dialog.clicks(1001), 2);
    EXPECT_EQ(GetFocus(), m_button.hwnd());
}

// The mode comes from the template's button type, read before the button turns owner-drawn.
TEST_F(SkinButtonWin, CheckBoxModeFromTheTemplateTypeAndChecksByMessageAndClick) {
    std::map<int, SkinButton> buttons;
    const std::pair<int, bool> checkable[] = {{1001, false}, {1002, false}, {1003, true}, {1004, true},
                                              {1005, true},  {1006, false}, {1007, false}};
    for (const auto& [id, checks] : checkable) {
        ASSERT_TRUE(buttons[id].Subclass(m_dialog.item(id)));
        EXPECT_EQ(GetWindowLongW(m_dialog.item(id), GWL_STYLE) & 0x1F, BS_OWNERDRAW) << id;
    }
    m_dialog.Show();
    for (const auto& [id, checks] : checkable) {
        SendMessageW(m_dialog.item(id), BM_SETCHECK, BST_CHECKED, 0);
        EXPECT_EQ(SendMessageW(m_dialog.item(id), BM_GETCHECK, 0, 0), checks ? 1 : 0) << id;
        SendMessageW(m_dialog.item(id), BM_SETCHECK, BST_UNCHECKED, 0);
    }
    // A click toggles a check box and leaves a push button unchecked.
    SendMessageW(m_dialog.item(1003), BM_CLICK, 0, 0);
    SendMessageW(m_dialog.item(1001), BM_CLICK, 0, 0);
    EXPECT_TRUE(buttons[1003].IsChecked());
    EXPECT_FALSE(buttons[1001].IsChecked());
}

TEST_F(SkinButtonWin, CheckedCheckBoxLooksPressedWithoutMoving) {
    SkinButton push;
    ASSERT_TRUE(push.Subclass(m_dialog.item(1001)));
    Show(1003);
    const RECT plainText = Drawn(m_button).BoxOf(kNormalText);
    m_button.SetChecked(TRUE, FALSE);
    const Drawn checked(m_button);
    EXPECT_EQ(checked.At(0, 0), GetSysColor(COLOR_BTNSHADOW));
    EXPECT_EQ(checked.At(2, 2), kHotBack);
    EXPECT_EQ(checked.BoxOf(kHotText).left, plainText.left);
    EXPECT_EQ(push.SetChecked(TRUE, FALSE), 0u);
    EXPECT_FALSE(push.IsChecked());
}

TEST_F(SkinButtonWin, DefaultPushButtonUntilTheDialogManagerMovesIt) {
    SkinButton plain;
    ASSERT_TRUE(plain.Subclass(m_dialog.item(1001)));
    Show(1002, false);
    const auto isDefault = [](const SkinButton& button) {
        const LRESULT code = SendMessageW(button.hwnd(), WM_GETDLGCODE, 0, 0);
        EXPECT_NE(code & (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON), 0);
        return (code & DLGC_DEFPUSHBUTTON) != 0;
    };
    EXPECT_TRUE(isDefault(m_button));
    EXPECT_FALSE(isDefault(plain));
    SendMessageW(m_button.hwnd(), BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
    SendMessageW(plain.hwnd(), BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
    EXPECT_FALSE(isDefault(m_button));
    EXPECT_TRUE(isDefault(plain));
    EXPECT_EQ(GetWindowLongW(plain.hwnd(), GWL_STYLE) & 0x1F, BS_OWNERDRAW);
    EXPECT_EQ(GetWindowLongW(m_button.hwnd(), GWL_STYLE) & 0x1F, BS_OWNERDRAW);
}

TEST_F(SkinButtonWin, DisablingMovesTheFocusToTheNextTabStop) {
    SkinButton second;
    ASSERT_TRUE(second.Subclass(m_dialog.item(1002)));
    Show(1001, false);
    SetFocus(m_button.hwnd());
    EnableWindow(m_button.hwnd(), FALSE);
    EXPECT_EQ(GetFocus(), second.hwnd());

    SetFocus(m_dialog.item(1008));
    EnableWindow(second.hwnd(), FALSE);
    EXPECT_EQ(GetFocus(), m_dialog.item(1003));
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

TEST_F(SkinButtonWin, GreyCopyKeepsSizeAndTransparency) {
    Show(1009, false);
    ASSERT_EQ(m_button.SetIcons(IDI_EXTRACT_HOT, ICON_GRAY_COPY), 0);
    ASSERT_NE(m_button.icon(0), nullptr);
    ASSERT_NE(m_button.icon(1), nullptr);
    EXPECT_EQ(m_button.iconSize(1).cx, m_button.iconSize(0).cx);
    EXPECT_EQ(m_button.iconSize(1).cy, m_button.iconSize(0).cy);

    SIZE hotSize{};
    SIZE greySize{};
    const std::vector<std::uint32_t> hot = IconPixels(m_button.icon(0), hotSize);
    const std::vector<std::uint32_t> grey = IconPixels(m_button.icon(1), greySize);
    ASSERT_EQ(hot.size(), grey.size());
    ASSERT_EQ(hotSize.cx, m_button.iconSize(0).cx);
    bool colourful = false;
    bool softEdge = false;
    for (size_t i = 0; i < hot.size(); ++i) {
        EXPECT_EQ(grey[i] >> 24, hot[i] >> 24) << i;
        EXPECT_EQ((grey[i] >> 16) & 0xFF, grey[i] & 0xFF) << i;
        EXPECT_EQ((grey[i] >> 8) & 0xFF, grey[i] & 0xFF) << i;
        colourful = colourful || ((hot[i] >> 16) & 0xFF) != (hot[i] & 0xFF);
        softEdge = softEdge || ((hot[i] >> 24) > 0 && (hot[i] >> 24) < 255);
    }
    EXPECT_TRUE(colourful);
    EXPECT_TRUE(softEdge);

    // Drawn over red, the grey copy's transparent corner shows the red.
    tests::PixelSurface canvas(hotSize.cx, hotSize.cy, RGB(255, 0, 0));
    DrawIconEx(canvas.dc(), 0, 0, m_button.icon(1), 0, 0, 0, nullptr, DI_NORMAL);
    EXPECT_EQ(canvas.At(0, 0), RGB(255, 0, 0));
    const COLORREF centre = canvas.At(hotSize.cx / 2, hotSize.cy / 2);
    EXPECT_EQ(GetRValue(centre), GetBValue(centre));
}

TEST_F(SkinButtonWin, IconsDrawnByStateAndAMonochromeIconLeavesNone) {
    Show(1009);
    ASSERT_EQ(m_button.SetIcons(IDI_EXTRACT_HOT, ICON_GRAY_COPY), 0);
    const Drawn normal(m_button);
    const int x = normal.width() / 2;
    const int y = normal.height() / 2;
    EXPECT_EQ(GetRValue(normal.At(x, y)), GetGValue(normal.At(x, y)));
    MoveMouse(m_button, 0, 4, 4);
    EXPECT_NE(Drawn(m_button).At(x, y), normal.At(x, y));

    const BYTE andBits[32 * 4] = {};
    BYTE xorBits[32 * 4];
    std::fill(std::begin(xorBits), std::end(xorBits), BYTE{0xAA});
    const HICON monochrome = CreateIcon(GetModuleHandleW(nullptr), 32, 32, 1, 1, andBits, xorBits);
    ASSERT_NE(monochrome, nullptr);
    EXPECT_EQ(m_button.SetIcons(monochrome, reinterpret_cast<HICON>(static_cast<INT_PTR>(ICON_GRAY_COPY))),
              1);
    EXPECT_EQ(m_button.icon(0), nullptr);
    EXPECT_EQ(m_button.icon(1), nullptr);
    EXPECT_EQ(m_button.SetIcons(nullptr, nullptr), 0);
}

TEST_F(SkinButtonWin, ATransparentButtonKeepsTheParentPixelsOfItsFirstDraw) {
    ASSERT_TRUE(m_button.Subclass(m_dialog.item(1009)));
    m_button.SetTransparent(FALSE);
    m_dialog.SetBackground(RGB(10, 120, 30));
    m_dialog.Show();
    const Drawn first(m_button);
    EXPECT_EQ(first.At(first.width() / 2, first.height() / 2), RGB(10, 120, 30));
    m_dialog.SetBackground(RGB(90, 20, 160));
    const Drawn later(m_button);
    EXPECT_EQ(later.At(later.width() / 2, later.height() / 2), RGB(10, 120, 30));
}

TEST_F(SkinButtonWin, ASecondTipTextUpdatesTheOneTool) {
    Show(1001, false);
    m_button.SetTipText(L"first", TRUE);
    const SIZE firstSize = Drawn::ClientSize(m_button);
    SetWindowPos(m_button.hwnd(), nullptr, 0, 0, 120, 60, SWP_NOMOVE | SWP_NOZORDER);
    m_button.SetTipText(L"提取缓存文件", TRUE);
    m_button.SetTipText(nullptr, TRUE);
    const HWND tip = m_button.tipWindow();
    ASSERT_NE(tip, nullptr);
    EXPECT_EQ(SendMessageW(tip, TTM_GETTOOLCOUNT, 0, 0), 1);
    wchar_t text[80] = {};
    TOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    tool.hwnd = m_button.hwnd();
    tool.uId = 1;
    tool.lpszText = text;
    SendMessageW(tip, TTM_GETTEXTW, 80, reinterpret_cast<LPARAM>(&tool));
    EXPECT_STREQ(text, L"提取缓存文件");
    tool.lpszText = nullptr;
    ASSERT_TRUE(SendMessageW(tip, TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&tool)));
    EXPECT_EQ(tool.rect.right, firstSize.cx);
    EXPECT_EQ(tool.rect.bottom, firstSize.cy);
}

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
        const LiveHandles beforeDraws;
        for (const UINT state : {0u, UINT{ODS_FOCUS}, UINT{ODS_SELECTED}, UINT{ODS_DISABLED}}) {
            for (const SkinButton* button : {&withIcons, &transparent, &box}) {
                const Drawn drawn(*button, state);
            }
        }
        ASSERT_TRUE(LiveHandles() == beforeDraws) << round;
    }
    EXPECT_TRUE(LiveHandles() == before);
}

}  // namespace
}  // namespace drovan
