#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "controls/caption_frame_win.h"
#include "framework/dialog.h"
#include "framework/gdi.h"

namespace drovan {
namespace {

// Ids of caption_frame_test.rc.
constexpr int kFramesDialog = 200;
constexpr int kSettingsFrame = 201;
constexpr int kRightFrame = 202;
constexpr int kEmptyFrame = 203;
constexpr int kEdgedFrame = 204;

constexpr UINT kStep = WM_APP + 1;
constexpr COLORREF kBackground = 0x00FFF3E7;
constexpr COLORREF kBlue = 0x00E78629;
constexpr COLORREF kGreen = 0x0000C000;
constexpr COLORREF kRed = 0x000000FF;

// A dialog with four frames on a plain background of its own; the step runs inside its modal loop.
class FramesDialog : public framework::Dialog {
  public:
    explicit FramesDialog(std::function<void(FramesDialog&)> step)
        : Dialog(kFramesDialog), m_step(std::move(step)) {}

    CaptionFrame settings;
    CaptionFrame right;
    CaptionFrame empty;
    CaptionFrame edged;
    int erases = 0;
    int colourRequests = 0;
    const framework::Brush background{CreateSolidBrush(kBackground)};

  protected:
    BOOL OnInitDialog() override {
        Dialog::OnInitDialog();
        settings.SetFrameColors(kBlue, 0, false);
        settings.SetCaptionColor(kRed, false);
        PostMessageW(hwnd(), kStep, 0, 0);
        return TRUE;
    }
    void DoDataExchange(framework::DataExchange& exchange) override {
        exchange.Control(kSettingsFrame, settings);
        exchange.Control(kRightFrame, right);
        exchange.Control(kEmptyFrame, empty);
        exchange.Control(kEdgedFrame, edged);
    }
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == kStep) {
            m_step(*this);
            EndDialog(IDOK);
            return 0;
        }
        if (message == WM_ERASEBKGND) {
            ++erases;
            RECT client;
            GetClientRect(hwnd(), &client);
            FillRect(reinterpret_cast<HDC>(wParam), &client, background.get());
            return 1;
        }
        // As the skinned dialogs do: controls are drawn on the dialog's own colour.
        if (framework::IsControlColourMessage(message)) {
            ++colourRequests;
            SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
            return reinterpret_cast<LRESULT>(background.get());
        }
        return Dialog::WindowProc(message, wParam, lParam);
    }

  private:
    std::function<void(FramesDialog&)> m_step;
};

void RunWithFrames(const std::function<void(FramesDialog&)>& step) {
    FramesDialog dialog(step);
    ASSERT_EQ(dialog.DoModal(), IDOK);
}

void PaintNow(HWND dialog) {
    RedrawWindow(dialog, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

// A window's client area as it is on the screen, colours 0x00BBGGRR.
class Pixels {
  public:
    explicit Pixels(HWND hwnd) {
        RECT client;
        GetClientRect(hwnd, &client);
        width = client.right;
        height = client.bottom;
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        framework::ClientDC window(hwnd);
        framework::MemoryDC memory(CreateCompatibleDC(window.get()));
        void* bits = nullptr;
        framework::Bitmap bitmap(CreateDIBSection(window.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
        {
            framework::SelectGuard select(memory.get(), bitmap.get());
            BitBlt(memory.get(), 0, 0, width, height, window.get(), 0, 0, SRCCOPY);
        }
        GdiFlush();
        const auto* quads = static_cast<const RGBQUAD*>(bits);
        m_pixels.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
        for (int index = 0; index < width * height; ++index) {
            m_pixels.push_back(RGB(quads[index].rgbRed, quads[index].rgbGreen, quads[index].rgbBlue));
        }
    }

    COLORREF at(int x, int y) const { return m_pixels[static_cast<std::size_t>(y * width + x)]; }
    bool operator==(const Pixels& other) const {
        return width == other.width && height == other.height && m_pixels == other.m_pixels;
    }

    int width = 0;
    int height = 0;

  private:
    std::vector<COLORREF> m_pixels;
};

// The frame's own 8-point font, built here as the program describes it.
framework::Font CaptionFont() {
    LOGFONTW font{};
    framework::ClientDC screen(nullptr);
    font.lfHeight = -MulDiv(8, GetDeviceCaps(screen.get(), LOGPIXELSY), 72);
    font.lfWeight = FW_NORMAL;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfOutPrecision = OUT_STROKE_PRECIS;
    font.lfClipPrecision = CLIP_STROKE_PRECIS;
    font.lfQuality = PROOF_QUALITY;
    lstrcpynW(font.lfFaceName, L"MS Sans Serif", LF_FACESIZE);
    return framework::Font(CreateFontIndirectW(&font));
}

SIZE LabelSize(HWND frame, const std::wstring& caption, HFONT font) {
    const std::wstring label = L" " + caption + L" ";
    framework::ClientDC dc(frame);
    framework::SelectGuard select(
        dc.get(), font != nullptr ? static_cast<HGDIOBJ>(font) : GetCurrentObject(dc.get(), OBJ_FONT));
    SIZE size{};
    GetTextExtentPoint32W(dc.get(), label.c_str(), static_cast<int>(label.size()), &size);
    return size;
}

// The row of the top line: half the label's height in the context's own font, less one, below the top.
int LineRow(HWND frame, const std::wstring& caption, int top) {
    return top + LabelSize(frame, caption, nullptr).cy / 2 - 1;
}

struct Gap {
    int start;
    int end;
};

Gap LeftGap(HWND frame, const std::wstring& caption) {
    const framework::Font font = CaptionFont();
    const int width = LabelSize(frame, caption, font.get()).cx;
    return {8, 8 + width};
}

// Checks that the line of colour runs up to the gap on either side and that nothing of it lies inside.
void ExpectGap(const Pixels& pixels, int row, Gap gap, COLORREF line) {
    EXPECT_EQ(pixels.at(gap.start - 1, row), line);
    EXPECT_EQ(pixels.at(gap.end + 1, row), line);
    for (int x = gap.start + 1; x < gap.end; ++x) {
        EXPECT_NE(pixels.at(x, row), line) << "x " << x;
    }
}

// The dark line on the outside of the left, right and bottom sides, the light one inside it, both ending on
// the last pixel column and row.
void ExpectEtchedSides(const Pixels& pixels, COLORREF dark, COLORREF light) {
    const int middle = pixels.height / 2;
    EXPECT_EQ(pixels.at(0, middle), dark);
    EXPECT_EQ(pixels.at(1, middle), light);
    EXPECT_EQ(pixels.at(pixels.width - 2, middle), dark);
    EXPECT_EQ(pixels.at(pixels.width - 1, middle), light);
    EXPECT_EQ(pixels.at(pixels.width / 2, pixels.height - 2), dark);
    EXPECT_EQ(pixels.at(pixels.width / 2, pixels.height - 1), light);
}

struct Ink {
    int top = -1;
    int bottom = -1;
    std::vector<COLORREF> colors;
    bool has(COLORREF color) const { return std::find(colors.begin(), colors.end(), color) != colors.end(); }
};

// What is drawn over the background between the gap's ends in the top half, the two line rows left out.
Ink InkInGap(const Pixels& pixels, Gap gap, int row) {
    Ink ink;
    for (int y = 0; y < pixels.height / 2; ++y) {
        for (int x = gap.start + 1; x < gap.end; ++x) {
            const COLORREF color = pixels.at(x, y);
            if (y != row && y != row + 1 && color != kBackground) {
                ink.top = ink.top < 0 ? y : ink.top;
                ink.bottom = y;
                ink.colors.push_back(color);
            }
        }
    }
    return ink;
}

TEST(CaptionFrameWin, DarkLineInItsColourWithTheLightOneInsideAndTheCaptionCentredInTheGap) {
    RunWithFrames([](FramesDialog& dialog) {
        HWND frame = dialog.settings.hwnd();
        PaintNow(dialog.hwnd());
        const Pixels pixels(frame);
        const COLORREF light = GetSysColor(COLOR_BTNHIGHLIGHT);
        ExpectEtchedSides(pixels, kBlue, light);

        const int row = LineRow(frame, L"设置", 0);
        EXPECT_EQ(pixels.at(3, row), kBlue);
        EXPECT_EQ(pixels.at(3, row + 1), light);
        EXPECT_EQ(pixels.at(pixels.width - 4, row), kBlue);
        const Gap gap = LeftGap(frame, L"设置");
        ExpectGap(pixels, row, gap, kBlue);

        const framework::Font font = CaptionFont();
        const int captionHeight = LabelSize(frame, L"设置", font.get()).cy;
        const Ink ink = InkInGap(pixels, gap, row);
        ASSERT_FALSE(ink.colors.empty());
        EXPECT_TRUE(ink.has(kRed));
        EXPECT_LT(ink.top, row);
        EXPECT_GT(ink.bottom, row + 1);
        EXPECT_GE(ink.top, row - captionHeight / 2);
        EXPECT_LT(ink.bottom, row - captionHeight / 2 + captionHeight);
    });
}

TEST(CaptionFrameWin, DisabledFrameDrawsSystemColoursAndAnEmbossedCaption) {
    RunWithFrames([](FramesDialog& dialog) {
        HWND frame = dialog.settings.hwnd();
        dialog.settings.SetFrameColors(kBlue, kGreen, true);
        EnableWindow(frame, FALSE);
        PaintNow(dialog.hwnd());
        const Pixels pixels(frame);
        const COLORREF shadow = GetSysColor(COLOR_BTNSHADOW);
        const COLORREF highlight = GetSysColor(COLOR_BTNHIGHLIGHT);
        ExpectEtchedSides(pixels, shadow, highlight);

        // The embossed caption crosses the line row in the same colours, so only the line's ends are checked.
        const int row = LineRow(frame, L"设置", 0);
        const Gap gap = LeftGap(frame, L"设置");
        EXPECT_EQ(pixels.at(gap.start - 1, row), shadow);
        EXPECT_EQ(pixels.at(gap.end + 1, row), shadow);
        const Ink ink = InkInGap(pixels, gap, row);
        EXPECT_FALSE(ink.has(kRed));
        EXPECT_TRUE(ink.has(shadow));
        EXPECT_TRUE(ink.has(highlight));
    });
}

TEST(CaptionFrameWin, ZeroColoursGoBackToTheSystemColours) {
    RunWithFrames([](FramesDialog& dialog) {
        HWND frame = dialog.settings.hwnd();
        dialog.settings.SetFrameColors(kBlue, kGreen, true);
        PaintNow(dialog.hwnd());
        const Pixels chosen(frame);
        EXPECT_EQ(chosen.at(0, chosen.height / 2), kBlue);
        EXPECT_EQ(chosen.at(1, chosen.height / 2), kGreen);

        dialog.settings.SetFrameColors(0, 0, true);
        PaintNow(dialog.hwnd());
        ExpectEtchedSides(Pixels(frame), GetSysColor(COLOR_BTNSHADOW), GetSysColor(COLOR_BTNHIGHLIGHT));
    });
}

TEST(CaptionFrameWin, SettersRepaintOnlyWhenAsked) {
    RunWithFrames([](FramesDialog& dialog) {
        HWND frame = dialog.settings.hwnd();
        PaintNow(dialog.hwnd());
        dialog.settings.SetFrameColors(kGreen, kGreen, false);
        dialog.settings.SetCaptionColor(kGreen, false);
        EXPECT_FALSE(GetUpdateRect(frame, nullptr, FALSE));
        dialog.settings.SetCaptionColor(kRed, true);
        EXPECT_TRUE(GetUpdateRect(frame, nullptr, FALSE));
        PaintNow(dialog.hwnd());
        dialog.settings.SetFrameColors(kBlue, 0, true);
        EXPECT_TRUE(GetUpdateRect(frame, nullptr, FALSE));
    });
}

TEST(CaptionFrameWin, ChangedWindowTextLeavesThePaintedCaptionAsItWas) {
    RunWithFrames([](FramesDialog& dialog) {
        HWND frame = dialog.settings.hwnd();
        PaintNow(dialog.hwnd());
        const Pixels before(frame);
        SetWindowTextW(frame, L"A much longer caption");
        PaintNow(dialog.hwnd());
        const Pixels after(frame);
        EXPECT_EQ(framework::WindowText(frame), L"A much longer caption");
        EXPECT_TRUE(after == before);
    });
}

TEST(CaptionFrameWin, ColourRequestGoesOnToTheParentAndRepaintsTheWholeParentWithErase) {
    RunWithFrames([](FramesDialog& dialog) {
        PaintNow(dialog.hwnd());
        // A paint another program's window caused may have asked already; only the request sent here counts.
        dialog.erases = 0;
        dialog.colourRequests = 0;
        LRESULT answer = -1;
        {
            framework::ClientDC dc(dialog.settings.hwnd());
            answer = SendMessageW(dialog.hwnd(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc.get()),
                                  reinterpret_cast<LPARAM>(dialog.settings.hwnd()));
        }
        EXPECT_EQ(answer, reinterpret_cast<LRESULT>(dialog.background.get()));
        EXPECT_EQ(dialog.colourRequests, 1);
        RECT update{};
        RECT client{};
        GetClientRect(dialog.hwnd(), &client);
        EXPECT_TRUE(GetUpdateRect(dialog.hwnd(), &update, FALSE));
        EXPECT_TRUE(EqualRect(&update, &client));
        PaintNow(dialog.hwnd());
        EXPECT_GT(dialog.erases, 0);
    });
}

// A new text makes the button clear its caption box with the brush the parent answers, at once: no grey
// patch may stand over the caption until the next paint (the main window's does not come while it extracts).
TEST(CaptionFrameWin, NewTextClearsTheCaptionWithTheParentsColourNotGrey) {
    RunWithFrames([](FramesDialog& dialog) {
        HWND frame = dialog.settings.hwnd();
        PaintNow(dialog.hwnd());
        const int requests = dialog.colourRequests;
        SetWindowTextW(frame, L"正在提取...");
        const Pixels pixels(frame);
        EXPECT_GT(dialog.colourRequests, requests);
        const framework::Font font = CaptionFont();
        const int band = LabelSize(frame, L"正在提取...", font.get()).cy;
        int grey = 0;
        int background = 0;
        for (int y = 0; y < band; ++y) {
            for (int x = 0; x < pixels.width; ++x) {
                grey += pixels.at(x, y) == GetSysColor(COLOR_BTNFACE) ? 1 : 0;
                background += pixels.at(x, y) == kBackground ? 1 : 0;
            }
        }
        EXPECT_EQ(grey, 0);
        EXPECT_GT(background, 0);
    });
}

TEST(CaptionFrameWin, RightCaptionEndsItsIndentBeforeTheRightLineAndAnEmptyOneLeavesTwoSpaces) {
    RunWithFrames([](FramesDialog& dialog) {
        PaintNow(dialog.hwnd());
        HWND right = dialog.right.hwnd();
        const Pixels rightPixels(right);
        const framework::Font font = CaptionFont();
        const int width = LabelSize(right, L"Right", font.get()).cx;
        const int end = rightPixels.width - 1 - 8;
        ExpectGap(rightPixels, LineRow(right, L"Right", 0), {end - width, end}, GetSysColor(COLOR_BTNSHADOW));

        HWND empty = dialog.empty.hwnd();
        const Gap gap = LeftGap(empty, L"");
        ASSERT_GT(gap.end - gap.start, 2);
        ExpectGap(Pixels(empty), LineRow(empty, L"", 0), gap, GetSysColor(COLOR_BTNSHADOW));
    });
}

TEST(CaptionFrameWin, EdgedFrameLiesInsideItsBorder) {
    RunWithFrames([](FramesDialog& dialog) {
        HWND frame = dialog.edged.hwnd();
        PaintNow(dialog.hwnd());
        const Pixels pixels(frame);
        const COLORREF shadow = GetSysColor(COLOR_BTNSHADOW);
        const COLORREF highlight = GetSysColor(COLOR_BTNHIGHLIGHT);
        ExpectEtchedSides(pixels, shadow, highlight);
        const int row = LineRow(frame, L"Edged", 1);
        EXPECT_EQ(pixels.at(3, row), shadow);
        EXPECT_EQ(pixels.at(3, row + 1), highlight);
    });
}

TEST(CaptionFrameWin, PaintingLeavesNoObjectBehindAndTheFontGoesWithTheFrame) {
    const int fonts = framework::Font::LiveCount();
    {
        CaptionFrame unbound;
        EXPECT_EQ(framework::Font::LiveCount(), fonts + 1);
    }
    EXPECT_EQ(framework::Font::LiveCount(), fonts);

    RunWithFrames([](FramesDialog& dialog) {
        const int pens = framework::Pen::LiveCount();
        const int brushes = framework::Brush::LiveCount();
        const int framesFonts = framework::Font::LiveCount();
        EnableWindow(dialog.settings.hwnd(), FALSE);
        InvalidateRect(dialog.settings.hwnd(), nullptr, TRUE);
        InvalidateRect(dialog.right.hwnd(), nullptr, TRUE);
        UpdateWindow(dialog.settings.hwnd());
        UpdateWindow(dialog.right.hwnd());
        EXPECT_EQ(framework::Pen::LiveCount(), pens);
        EXPECT_EQ(framework::Brush::LiveCount(), brushes);
        EXPECT_EQ(framework::Font::LiveCount(), framesFonts);
    });
}

}  // namespace
}  // namespace drovan
