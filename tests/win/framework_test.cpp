#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <vector>

#include "framework/app.h"
#include "framework/dialog.h"
#include "framework/dib_pixels.h"
#include "framework/gdi.h"
#include "res/resource.h"

namespace drovan::framework {
namespace {

constexpr UINT kStep = WM_APP + 1;

// The main window's template, with a step that runs once the modal loop has started.
class ScriptedDialog : public Dialog {
  public:
    explicit ScriptedDialog(std::function<void(ScriptedDialog&)> step, HWND parent = nullptr)
        : Dialog(IDD_MAIN, parent), m_step(std::move(step)) {}

    std::vector<UINT> commands;
    ComboBox combo;
    std::wstring comboText;

  protected:
    BOOL OnInitDialog() override {
        Dialog::OnInitDialog();
        PostMessageW(hwnd(), kStep, 0, 0);
        return TRUE;
    }
    void DoDataExchange(DataExchange& exchange) override {
        exchange.Control(IDC_TYPE_COMBO, combo);
        exchange.ComboText(IDC_TYPE_COMBO, comboText);
    }
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == kStep) {
            m_step(*this);
            return 0;
        }
        if (message == WM_COMMAND) {
            commands.push_back(LOWORD(wParam));
        }
        return Dialog::WindowProc(message, wParam, lParam);
    }

  private:
    std::function<void(ScriptedDialog&)> m_step;
};

class CountingButton : public Window {
  public:
    int reflectedClicks = 0;
    std::vector<UINT> pretranslated;

    bool PreTranslateMessage(MSG& message) override {
        pretranslated.push_back(message.message);
        return message.message == WM_APP + 7;
    }

  protected:
    bool OnReflectedMessage(UINT message, WPARAM wParam, LPARAM, LRESULT& result) override {
        if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
            ++reflectedClicks;
            result = 0;
            return true;
        }
        return false;
    }
};

TEST(Gdi, SelectGuardsRestoreInReverseOrderAndOwnersDelete) {
    MemoryDC dc(CreateCompatibleDC(nullptr));
    const HGDIOBJ original = GetCurrentObject(dc.get(), OBJ_PEN);
    HPEN outerHandle;
    HPEN innerHandle;
    {
        Pen outer(CreatePen(PS_SOLID, 1, RGB(255, 0, 0)));
        Pen inner(CreatePen(PS_SOLID, 1, RGB(0, 255, 0)));
        outerHandle = outer.get();
        innerHandle = inner.get();
        SelectGuard first(dc.get(), outer.get());
        {
            SelectGuard second(dc.get(), inner.get());
            EXPECT_EQ(GetCurrentObject(dc.get(), OBJ_PEN), innerHandle);
        }
        EXPECT_EQ(GetCurrentObject(dc.get(), OBJ_PEN), outerHandle);
    }
    EXPECT_EQ(GetCurrentObject(dc.get(), OBJ_PEN), original);
    EXPECT_EQ(GetObjectType(outerHandle), 0u);
    EXPECT_EQ(GetObjectType(innerHandle), 0u);
}

TEST(Gdi, MovedOwnersDeleteOnceAndCountEachHandleOnce) {
    const int before = Brush::LiveCount();
    {
        Brush first(CreateSolidBrush(RGB(1, 2, 3)));
        const HBRUSH handle = first.get();
        Brush second(std::move(first));
        EXPECT_FALSE(first);
        EXPECT_EQ(second.get(), handle);
        EXPECT_EQ(Brush::LiveCount(), before + 1);
        second = Brush(CreateSolidBrush(RGB(4, 5, 6)));
        EXPECT_EQ(GetObjectType(handle), 0u);
        EXPECT_EQ(Brush::LiveCount(), before + 1);
        Brush empty;
        second = std::move(empty);
        EXPECT_FALSE(second);
        EXPECT_EQ(Brush::LiveCount(), before);
        Brush third(CreateSolidBrush(RGB(7, 8, 9)));
        Brush& alias = third;
        third = std::move(alias);
        EXPECT_TRUE(third);
        EXPECT_EQ(Brush::LiveCount(), before + 1);
    }
    EXPECT_EQ(Brush::LiveCount(), before);
}

// A 32-bit section keeps every byte, alpha included; a screen-compatible bitmap keeps the colours; a bitmap
// that is not one reads as nothing.
TEST(DibPixels, ReadBackWhatWasWrittenRowByRowFromTheTop) {
    const DibPixels written{3, 2, {0x80FF0000, 0x0000FF00, 0xFF0000FF, 0x00102030, 0x40FFFFFF, 0x00000000}};
    BITMAPINFO info = TopDown32(3, 2);
    void* bits = nullptr;
    const Bitmap section(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    ASSERT_TRUE(WriteDibPixels(section.get(), written));
    const std::optional<DibPixels> sectionRead = ReadDibPixels(section.get());
    ASSERT_TRUE(sectionRead);
    EXPECT_EQ(sectionRead->width, 3);
    EXPECT_EQ(sectionRead->height, 2);
    EXPECT_EQ(sectionRead->quads, written.quads);

    const ClientDC screen(nullptr);
    const Bitmap compatible(CreateCompatibleBitmap(screen.get(), 3, 2));
    ASSERT_TRUE(WriteDibPixels(compatible.get(), written));
    const std::optional<DibPixels> compatibleRead = ReadDibPixels(compatible.get());
    ASSERT_TRUE(compatibleRead);
    for (std::size_t index = 0; index < written.quads.size(); ++index) {
        EXPECT_EQ(compatibleRead->quads[index] & 0xFFFFFF, written.quads[index] & 0xFFFFFF) << index;
    }

    EXPECT_FALSE(ReadDibPixels(nullptr));
    const Brush notABitmap(CreateSolidBrush(RGB(1, 2, 3)));
    EXPECT_FALSE(ReadDibPixels(reinterpret_cast<HBITMAP>(notABitmap.get())));
}

TEST(Dialog, ModalLoopPassesAQuitRequestOnAndEndsTheDialog) {
    ScriptedDialog dialog([](ScriptedDialog&) { PostQuitMessage(7); });
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    MSG message;
    ASSERT_TRUE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(message.wParam, 7u);
    EXPECT_EQ(dialog.hwnd(), nullptr);
}

TEST(Dialog, OwnerIsDisabledWhileModalAndEnabledAfter) {
    HWND owner = CreateWindowExW(0, L"STATIC", L"owner", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr,
                                 nullptr, nullptr, nullptr);
    BOOL enabledDuring = TRUE;
    HWND ownerDuring = nullptr;
    ScriptedDialog dialog(
        [&](ScriptedDialog& self) {
            enabledDuring = IsWindowEnabled(owner);
            ownerDuring = GetWindow(self.hwnd(), GW_OWNER);
            self.EndDialog(IDOK);
        },
        owner);
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_FALSE(enabledDuring);
    EXPECT_EQ(ownerDuring, owner);
    EXPECT_TRUE(IsWindowEnabled(owner));
    DestroyWindow(owner);
}

TEST(Dialog, TheMainWindowOwnsDialogsOpenedWithoutAParent) {
    struct TestApp : App {
        void InitInstance() override {}
    } app;
    Window main;
    HWND mainHandle = CreateWindowExW(0, L"STATIC", L"main", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr,
                                      nullptr, nullptr, nullptr);
    main.Subclass(mainHandle);
    app.mainWindow = &main;
    HWND ownerDuring = nullptr;
    ScriptedDialog dialog([&](ScriptedDialog& self) {
        ownerDuring = GetWindow(self.hwnd(), GW_OWNER);
        self.EndDialog(IDOK);
    });
    dialog.DoModal();
    EXPECT_EQ(ownerDuring, mainHandle);
    DestroyWindow(mainHandle);
    EXPECT_EQ(main.hwnd(), nullptr);
}

TEST(Dialog, ControlNotificationsReachTheControlObjectFirst) {
    CountingButton button;
    ScriptedDialog dialog([&](ScriptedDialog& self) {
        button.Subclass(GetDlgItem(self.hwnd(), IDC_SAVE_PATH));
        SendMessageW(button.hwnd(), BM_CLICK, 0, 0);
        PostMessageW(button.hwnd(), WM_APP + 7, 0, 0);
        PostMessageW(button.hwnd(), WM_APP + 8, 0, 0);
        PostMessageW(self.hwnd(), WM_CLOSE, 0, 0);
    });
    dialog.DoModal();
    EXPECT_EQ(button.reflectedClicks, 1);
    EXPECT_EQ(std::count(dialog.commands.begin(), dialog.commands.end(), IDC_SAVE_PATH), 0);
    EXPECT_NE(std::find(button.pretranslated.begin(), button.pretranslated.end(), WM_APP + 7u),
              button.pretranslated.end());
    EXPECT_NE(std::find(button.pretranslated.begin(), button.pretranslated.end(), WM_APP + 8u),
              button.pretranslated.end());
    EXPECT_EQ(button.hwnd(), nullptr);
}

TEST(DataExchange, ComboTextShowsExactlyTheValue) {
    std::wstring shown;
    std::wstring read;
    int selection = -1;
    ScriptedDialog dialog([&](ScriptedDialog& self) {
        for (const wchar_t* type : {L"swf", L"rmvb", L"rm"}) {
            self.combo.AddString(type);
        }
        self.comboText = L"rm";
        self.UpdateData(false);
        selection = static_cast<int>(SendMessageW(self.combo.hwnd(), CB_GETCURSEL, 0, 0));
        shown = WindowText(self.combo.hwnd());
        self.comboText = L"gif";
        self.UpdateData(false);
        self.UpdateData(true);
        read = self.comboText;
        self.EndDialog(IDOK);
    });
    dialog.DoModal();
    EXPECT_EQ(selection, 2);
    EXPECT_EQ(shown, L"rm");
    EXPECT_EQ(read, L"gif");
}

}  // namespace
}  // namespace drovan::framework
