#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "dialogs/about_dialog.h"
#include "dialogs/web_page_opener.h"
#include "gdi_probes.h"
#include "res/resource.h"
#include "ui_driver.h"

namespace drovan {
namespace {

using namespace tests;

constexpr const wchar_t* kTitle = L"关于 Drovan";
constexpr COLORREF kBlue = 0xE78629;
constexpr COLORREF kRed = 0x0000FF;
constexpr COLORREF kBackground = 0xFFF3E7;

// Every tick the About boxes of this process have handled, whether a test sent it or the timer fired it. The
// shared icon index follows it: an even count shows the alternative image next.
std::atomic<int> g_ticks{0};
std::atomic<bool> g_timerRuns{false};

// The box's own timer would tick into the middle of a test, so its ticks are dropped unless a test lets them
// through.
LRESULT CALLBACK FilterTimerTicks(int code, WPARAM wParam, LPARAM lParam) {
    auto* message = reinterpret_cast<MSG*>(lParam);
    if (code == HC_ACTION && wParam == PM_REMOVE && message->message == WM_TIMER &&
        GetDlgItem(message->hwnd, IDC_ABOUT_ICON) != nullptr) {
        if (g_timerRuns) {
            ++g_ticks;
        } else {
            message->message = WM_NULL;
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

HICON ResourceIcon(int id) {
    return LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id));
}

HICON IconForTick(int tick) {
    return ResourceIcon(tick % 2 == 0 ? IDI_APP_ALT : IDI_APP);
}

HICON ShownIcon(HWND about) {
    return reinterpret_cast<HICON>(SendDlgItemMessageW(about, IDC_ABOUT_ICON, STM_GETICON, 0, 0));
}

// Sends one tick; returns what the icon should show and what it shows.
std::pair<HICON, HICON> Tick(HWND about) {
    const HICON expected = IconForTick(g_ticks++);
    SendMessageW(about, WM_TIMER, 1, 0);
    return {expected, ShownIcon(about)};
}

RECT ControlRect(HWND about, int id) {
    RECT rect{};
    GetWindowRect(GetDlgItem(about, id), &rect);
    MapWindowPoints(nullptr, about, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

POINT Centre(const RECT& rect) {
    return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

void MoveMouse(HWND about, POINT point) {
    SendMessageW(about, WM_MOUSEMOVE, 0, MAKELPARAM(point.x, point.y));
}

void PressButton(HWND about, POINT point) {
    SendMessageW(about, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(point.x, point.y));
    SendMessageW(about, WM_LBUTTONUP, 0, MAKELPARAM(point.x, point.y));
}

HCURSOR CurrentCursor() {
    CURSORINFO info{};
    info.cbSize = sizeof(info);
    GetCursorInfo(&info);
    return info.hCursor;
}

// How many pixels of the area, in the dialog's client coordinates, show the colour on the screen.
int CountColour(HWND about, const RECT& area, COLORREF colour) {
    return PixelSurface(about).Count(area.left, area.top, area.right, area.bottom, colour);
}

COLORREF LinkTextColour(HWND about) {
    return AskColours(about, WM_CTLCOLORSTATIC, GetDlgItem(about, IDC_ABOUT_LINK)).text;
}

// Runs the real About box on this thread while a driver thread works it like a user.
class AboutDialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // Hover is driven by the messages the tests send; a real pointer left over the box by an earlier test
        // would send moves of its own.
        SetCursorPos(GetSystemMetrics(SM_CXSCREEN) - 1, GetSystemMetrics(SM_CYSCREEN) - 1);
        m_original = WebPageOpener();
        WebPageOpener() = [this](const std::wstring& address) {
            std::lock_guard<std::mutex> lock(m_openedMutex);
            m_opened.push_back(address);
        };
        m_hook = SetWindowsHookExW(WH_GETMESSAGE, &FilterTimerTicks, nullptr, GetCurrentThreadId());
        ASSERT_NE(m_hook, nullptr);
    }
    void TearDown() override {
        g_timerRuns = false;
        UnhookWindowsHookEx(m_hook);
        WebPageOpener() = m_original;
    }

    INT_PTR Run(const std::function<void(HWND about)>& script) {
        AboutDialog dialog;
        return DriveModal(
            kTitle, [&] { return dialog.DoModal(); }, script);
    }

    std::vector<std::wstring> Opened() {
        std::lock_guard<std::mutex> lock(m_openedMutex);
        return m_opened;
    }

  private:
    std::function<void(const std::wstring&)> m_original;
    HHOOK m_hook = nullptr;
    std::mutex m_openedMutex;
    std::vector<std::wstring> m_opened;
};

TEST_F(AboutDialogTest, TicksAlternateTheTwoIconsAndTheNextOpeningContinues) {
    ASSERT_NE(ResourceIcon(IDI_APP_ALT), nullptr);
    ASSERT_NE(ResourceIcon(IDI_APP_ALT), ResourceIcon(IDI_APP));
    std::vector<HICON> expected;
    std::vector<HICON> shown;
    for (int opening = 0; opening < 2; ++opening) {
        Run([&](HWND about) {
            EXPECT_EQ(ShownIcon(about), ResourceIcon(IDI_APP)) << "opening " << opening;
            for (int tick = 0; tick < 3; ++tick) {
                const auto [should, is] = Tick(about);
                expected.push_back(should);
                shown.push_back(is);
            }
        });
    }
    EXPECT_EQ(shown, expected);
}

TEST_F(AboutDialogTest, TheIconTimerTicksOnItsOwnEvery800Ms) {
    g_timerRuns = true;
    Run([&](HWND about) {
        const int before = g_ticks;
        const HICON first = IconForTick(before);
        ASSERT_TRUE(WaitFor([&] { return g_ticks > before && ShownIcon(about) == first; }, 3000));
        const DWORD firstAt = GetTickCount();
        const HICON second = IconForTick(before + 1);
        ASSERT_TRUE(WaitFor([&] { return g_ticks > before + 1 && ShownIcon(about) == second; }, 3000));
        // A slow machine may deliver late, never early; the wait above bounds it from above.
        EXPECT_GE(GetTickCount() - firstAt, 600u);
        g_timerRuns = false;
    });
}

TEST_F(AboutDialogTest, TheLinkTurnsRedUnderThePointerWithTheHandCursorAndBlueOffIt) {
    Run([&](HWND about) {
        const RECT link = ControlRect(about, IDC_ABOUT_LINK);
        const POINT centre = Centre(link);
        const int area = (link.right - link.left) * (link.bottom - link.top);

        MoveMouse(about, centre);
        EXPECT_GT(CountColour(about, link, kRed), 0);
        EXPECT_EQ(CountColour(about, link, kBlue), 0);
        // The label is filled with the light brush, not the bitmap behind it.
        EXPECT_GT(CountColour(about, link, kBackground), area / 2);
        EXPECT_EQ(CurrentCursor(), LoadCursorW(nullptr, IDC_HAND));

        MoveMouse(about, {link.left - 1, centre.y});
        EXPECT_GT(CountColour(about, link, kBlue), 0);
        EXPECT_EQ(CountColour(about, link, kRed), 0);
    });
}

TEST_F(AboutDialogTest, OnlyAClickOnTheLinkOpensTheMakersPageAndItTurnsBackToBlue) {
    Run([&](HWND about) {
        const RECT link = ControlRect(about, IDC_ABOUT_LINK);
        MoveMouse(about, Centre(link));
        ASSERT_EQ(LinkTextColour(about), kRed);

        PressButton(about, {link.left - 1, link.top});
        PressButton(about, Centre(ControlRect(about, IDC_ABOUT_SEPARATOR)));
        EXPECT_TRUE(Opened().empty());
        EXPECT_EQ(LinkTextColour(about), kRed);

        PressButton(about, Centre(link));
        EXPECT_EQ(Opened(), std::vector<std::wstring>{L"http://www.example.org/velmar/"});
        EXPECT_EQ(LinkTextColour(about), kBlue);
        RedrawWindow(GetDlgItem(about, IDC_ABOUT_LINK), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        EXPECT_TRUE(WaitFor([&] { return CountColour(about, link, kBlue) > 0; }, 2000));
    });
}

TEST_F(AboutDialogTest, LabelsSitOnTheLightBrushWithoutTextBackgroundAndTheBitmapFillsTheRest) {
    Run([&](HWND about) {
        const COLORREF defaultText = GetSysColor(COLOR_WINDOWTEXT);
        const struct {
            int id;
            COLORREF text;
        } labels[] = {{IDC_ABOUT_LINK, kBlue}, {IDC_ABOUT_SEPARATOR, kBlue}, {IDC_AUTHOR_LABEL, defaultText}};
        for (const auto& label : labels) {
            const ControlColours colours = AskColours(about, WM_CTLCOLORSTATIC, GetDlgItem(about, label.id));
            EXPECT_EQ(colours.brush, kBackground) << label.id;
            EXPECT_EQ(colours.text, label.text) << label.id;
            EXPECT_EQ(colours.bkMode, TRANSPARENT) << label.id;
        }
        EXPECT_EQ(AskColours(about, WM_CTLCOLORSTATIC, GetDlgItem(about, IDC_ABOUT_ICON)).brush, kBackground);
        const ControlColours dialog = AskColours(about, WM_CTLCOLORDLG, about);
        EXPECT_EQ(dialog.brush, kBackground);
        EXPECT_EQ(dialog.bkMode, OPAQUE);

        EXPECT_TRUE(
            WaitFor([&] { return CountColour(about, ControlRect(about, IDC_ABOUT_SEPARATOR), kBlue) > 0; }));
        // The frame's dark line runs down its left edge in the link's blue.
        const RECT frame = ControlRect(about, IDC_ABOUT_FRAME);
        const RECT leftEdge{frame.left, frame.top, frame.left + 1, frame.bottom};
        EXPECT_GT(CountColour(about, leftEdge, kBlue), (frame.bottom - frame.top) / 2);
        ExpectStretchedBackground(about, IDB_DIALOG_BACKGROUND);
    });
}

TEST_F(AboutDialogTest, EndsByEscEnterAndTheCloseBox) {
    EXPECT_EQ(Run([](HWND about) { PressKey(GetWindowThreadProcessId(about, nullptr), VK_ESCAPE); }),
              IDCANCEL);
    EXPECT_EQ(Run([](HWND about) { PressKey(GetWindowThreadProcessId(about, nullptr), VK_RETURN); }), IDOK);
    EXPECT_EQ(Run([&](HWND about) { PostMessageW(about, WM_SYSCOMMAND, SC_CLOSE, 0); }), IDCANCEL);
}

TEST_F(AboutDialogTest, RepeatedOpeningsLeaveNoFontBrushOrBitmapBehind) {
    const LiveHandles before;
    for (int opening = 0; opening < 3; ++opening) {
        Run([&](HWND about) {
            MoveMouse(about, Centre(ControlRect(about, IDC_ABOUT_LINK)));
            Tick(about);
            RedrawWindow(about, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
            PostMessageW(about, WM_CLOSE, 0, 0);
        });
    }
    EXPECT_TRUE(LiveHandles() == before);
}

}  // namespace
}  // namespace drovan
