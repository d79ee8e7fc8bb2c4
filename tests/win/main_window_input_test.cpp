#include <gtest/gtest.h>
#include <windows.h>

#include "main_window_fixture.h"

namespace drovan {
namespace {

constexpr UINT kGetMenuHandle = 0x01E1;  // MN_GETHMENU

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

POINT DialogPoint(HWND dialog, int unitsX, int unitsY) {
    RECT units{unitsX, unitsY, 0, 0};
    MapDialogRect(dialog, &units);
    POINT point{units.left, units.top};
    ClientToScreen(dialog, &point);
    return point;
}

// Waits a while for a popup menu; closes whatever opened and says whether it was the program's own.
bool ProgramPopupOpens(DWORD thread) {
    HWND menu = nullptr;
    WaitFor([&] { return (menu = FindPopupMenu(thread)) != nullptr; }, 500);
    if (menu == nullptr) {
        return false;
    }
    const auto handle = reinterpret_cast<HMENU>(SendMessageW(menu, kGetMenuHandle, 0, 0));
    const bool own = GetMenuItemID(handle, 0) == static_cast<UINT>(IDC_SAVE_PATH);
    PressMenuKey(menu, VK_ESCAPE);
    WaitFor([&] { return !IsWindowVisible(menu); });
    return own;
}

TEST_F(ExtractorDialogTest, OnlyTheSurfaceBelowTheDragBandOpensThePopup) {
    Run([&](HWND dialog) {
        SetForegroundWindow(dialog);
        const DWORD ui = uiThread();
        RightClickAt(DialogPoint(dialog, 5, 133));
        EXPECT_TRUE(ProgramPopupOpens(ui)) << "the surface";
        RightClickAt(CentreOf(GetDlgItem(dialog, IDC_SAVE_PATH)));
        EXPECT_FALSE(ProgramPopupOpens(ui)) << "a button";
        RightClickAt(CentreOf(GetDlgItem(dialog, IDC_SAVE_PATH_EDIT)));
        EXPECT_FALSE(ProgramPopupOpens(ui)) << "the edit";
        RightClickAt(DialogPoint(dialog, 20, 65));
        EXPECT_FALSE(ProgramPopupOpens(ui)) << "the combo box";
        RightClickAt(DialogPoint(dialog, 60, 5));
        EXPECT_FALSE(ProgramPopupOpens(ui)) << "the drag band";
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
        const POINT moved = drag(DialogPoint(dialog, 60, 5));
        EXPECT_EQ(moved.x, 40);
        EXPECT_EQ(moved.y, 20);
        const POINT still = drag(DialogPoint(dialog, 5, 133));
        EXPECT_EQ(still.x, 0);
        EXPECT_EQ(still.y, 0);
    });
}

}  // namespace
}  // namespace drovan
