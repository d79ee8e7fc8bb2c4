#include <gtest/gtest.h>
#include <windows.h>

#include "main_window_fixture.h"

namespace drovan {
namespace {

void SendButton(DWORD flags) {
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = flags;
    SendInput(1, &input, sizeof input);
}

void RightClickAt(POINT screen) {
    SetCursorPos(screen.x, screen.y);
    Sleep(50);
    SendButton(MOUSEEVENTF_RIGHTDOWN);
    SendButton(MOUSEEVENTF_RIGHTUP);
}

POINT CentreOf(HWND window) {
    RECT rect{};
    GetWindowRect(window, &rect);
    return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

POINT ScreenPoint(HWND dialog, int unitsX, int unitsY) {
    POINT point = DialogPoint(dialog, unitsX, unitsY);
    ClientToScreen(dialog, &point);
    return point;
}

// Waits for a popup menu, long when one is expected (a loaded machine may take seconds to show it, and a late
// one would be taken for the next click's), briefly when not; closes whatever opened and says whether it was
// the program's own.
bool ProgramPopupOpens(DWORD thread, bool expected) {
    HWND menu = nullptr;
    WaitFor([&] { return (menu = FindPopupMenu(thread)) != nullptr; }, expected ? 5000 : 500);
    if (menu == nullptr) {
        return false;
    }
    const bool own = GetMenuItemID(MenuOf(menu), 0) == static_cast<UINT>(IDC_SAVE_PATH);
    PressMenuKey(menu, VK_ESCAPE);
    WaitFor([&] { return !IsWindowVisible(menu); });
    return own;
}

TEST_F(ExtractorDialogTest, OnlyTheSurfaceBelowTheDragBandOpensThePopup) {
    Run([&](HWND dialog) {
        SetForegroundWindow(dialog);
        const struct {
            const char* what;
            POINT at;
            bool opens;
        } clicks[] = {
            {"the surface", ScreenPoint(dialog, 5, 133), true},
            {"a button", CentreOf(GetDlgItem(dialog, IDC_SAVE_PATH)), false},
            {"the edit", CentreOf(GetDlgItem(dialog, IDC_SAVE_PATH_EDIT)), false},
            {"the combo box", ScreenPoint(dialog, 20, 65), false},
            {"the drag band", ScreenPoint(dialog, 60, 5), false},
        };
        for (const auto& click : clicks) {
            RightClickAt(click.at);
            EXPECT_EQ(ProgramPopupOpens(uiThread(), click.opens), click.opens) << click.what;
        }
    });
}

TEST_F(ExtractorDialogTest, DraggingTheBandMovesTheWindowAndDraggingBelowItDoesNot) {
    Run([&](HWND dialog) {
        SetForegroundWindow(dialog);
        auto drag = [&](POINT from) {
            RECT before{};
            GetWindowRect(dialog, &before);
            SetCursorPos(from.x, from.y);
            Sleep(50);
            SendButton(MOUSEEVENTF_LEFTDOWN);
            Sleep(50);
            for (int step = 1; step <= 4; ++step) {
                SetCursorPos(from.x + 10 * step, from.y + 5 * step);
                Sleep(30);
            }
            SendButton(MOUSEEVENTF_LEFTUP);
            Sleep(200);
            RECT after{};
            GetWindowRect(dialog, &after);
            return POINT{after.left - before.left, after.top - before.top};
        };
        const POINT moved = drag(ScreenPoint(dialog, 60, 5));
        EXPECT_EQ(moved.x, 40);
        EXPECT_EQ(moved.y, 20);
        const POINT still = drag(ScreenPoint(dialog, 5, 133));
        EXPECT_EQ(still.x, 0);
        EXPECT_EQ(still.y, 0);
    });
}

}  // namespace
}  // namespace drovan
