#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "controls/caption_frame_win.h"
#include "framework/dialog.h"
#include "gdi_probes.h"

namespace drovan {
namespace {

using tests::LiveHandles;
using tests::PixelSurface;

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

    CaptionFrame m_settings;
    CaptionFrame m_right;
    CaptionFrame m_empty;
    CaptionFrame m_edged;
    int m_erases = 0;
    int m_colourRequests = 0;
    const framework::Brush m_background{CreateSolidBrush(kBackground)};

  protected:
    BOOL OnInitDialog() override {
        Dialog::OnInitDialog();
        m_settings.SetFrameColors(kBlue, 0, false);
        m_settings.SetCaptionColor(kRed, false);
        PostMessageW(hwnd(), kStep, 0, 0);
        return TRUE;
    }
    void DoDataExchange(framework::DataExchange& exchange) override {
        exchange.Control(kSettingsFrame, m_settings);
        exchange.Control(kRightFrame, m_right);
        exchange.Control(kEmptyFrame, m_empty);
        exchange.Control(kEdgedFrame, m_edged);
    }
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == kStep) {
            RedrawWindow(hwnd(), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
            m_step(*this);
            EndDialog(IDOK);
            return 0;
        }
        if (message == WM_ERASEBKGND) {
            ++m_erases;
            RECT client;
            GetClientRect(hwnd(), &client);
            FillRect(reinterpret_cast<HDC>(wParam), &client, m_background.get());
            return 1;
        }
        // As the skinned dialogs do: controls are drawn on the dialog's own colour.
        if (framework::IsControlColourMessage(message)) {
            ++m_colourRequests;
            SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
            return reinterpret_cast<LRESULT>(m_background.get());
        }
        return Dialog::WindowProc(message, wParam, lParam);
    }

  private:
    std::function<void(FramesDialog&)> m_step;
};

// Runs the step once the frames have painted.
void RunWithFrames(const std::function<void(FramesDialog&)>& step) {
    FramesDialog dialog(step);
    ASSERT_EQ(dialog.DoModal(), IDOK);
}

void PaintNow(HWND dialog) {
    RedrawWindow(dialog, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

// The label " caption " in the context's own font, or in the frame's 8-point font as the program describes
// it.
SIZE LabelSize(HWND frame, const std::wstring& caption, bool captionFont) {
    LOGFONTW description{};
    description.lfHeight = -MulDiv(8, GetDeviceCaps(framework::ClientDC(nullptr).get(), LOGPIXELSY), 72);
    description.lfWeight = FW_NORMAL;
    description.lfCharSet = DEFAULT_CHARSET;
    description.lfOutPrecision = OUT_STROKE_PRECIS;
    description.lfClipPrecision = CLIP_STROKE_PRECIS;
    description.lfQuality = PROOF_QUALITY;
    lstrcpynW(description.lfFaceName, L"MS Sans Serif", LF_FACESIZE);
    const framework::Font font(CreateFontIndirectW(&description));
    const std::wstring label = L" " + caption + L" ";
    const framework::ClientDC dc(frame);
    const framework::SelectGuard select(
        dc.get(), captionFont ? static_cast<HGDIOBJ>(font.get()) : GetCurrentObject(dc.get(), OBJ_FONT));
    SIZE size{};
    GetTextExtentPoint32W(dc.get(), label.c_str(), static_cast<int>(label.size()), &size);
    return size;
}

// The row of the top line: half the label's height in the context's own font, less one, below the top.
int LineRow(HWND frame, const std::wstring& caption, int top) {
    return top + LabelSize(frame, caption, false).cy / 2 - 1;
}

struct Gap {
    int start;
    int end;
};

Gap LeftGap(HWND frame, const std::wstring& caption) {
    return {8, 8 + LabelSize(frame, caption, true).cx};
}

// The line of colour runs up to the gap on either side and nothing of it lies inside.
void ExpectGap(const PixelSurface& pixels, int row, Gap gap, COLORREF line) {
    EXPECT_EQ(pixels.At(gap.start - 1, row), line);
    EXPECT_EQ(pixels.At(gap.end + 1, row), line);
    for (int x = gap.start + 1; x < gap.end; ++x) {
        EXPECT_NE(pixels.At(x, row), line) << "x " << x;
    }
}

// The dark line on the outside of the left, right and bottom sides, the light one inside it, both ending on
// the last pixel column and row.
void ExpectEtchedSides(const PixelSurface& pixels, COLORREF dark, COLORREF light) {
    const int middle = pixels.height() / 2;
    EXPECT_EQ(pixels.At(0, middle), dark);
    EXPECT_EQ(pixels.At(1, middle), light);
    EXPECT_EQ(pixels.At(pixels.width() - 2, middle), dark);
    EXPECT_EQ(pixels.At(pixels.width() - 1, middle), light);
    EXPECT_EQ(pixels.At(pixels.width() / 2, pixels.height() - 2), dark);
    EXPECT_EQ(pixels.At(pixels.width() / 2, pixels.height() - 1), light);
}

struct Ink {
    int top = -1;
    int bottom = -1;
    std::vector<COLORREF> colors;
    bool has(COLORREF color) const { return std::find(colors.begin(), colors.end(), color) != colors.end(); }
};

// What is drawn over the background between the gap's ends in the top half, the two line rows left out.
Ink InkInGap(const PixelSurface& pixels, Gap gap, int row) {
    Ink ink;
    for (int y = 0; y < pixels.height() / 2; ++y) {
        for (int x = gap.start + 1; x < gap.end; ++x) {
            const COLORREF color = pixels.At(x, y);
            if (y != row && y != row + 1 && color != kBackground) {
                ink.top = ink.top < 0 ? y : ink.top;
                ink.bottom = y;
                ink.colors.push_back(color);
            }
        }
    }
    return ink;
}

// Each frame's etched lines run round it and stop at the gap its caption leaves in the top line: after the
// indent on the left, before it on the right, two spaces wide for no caption, inside a border.
TEST(CaptionFrameWin, TheLinesRunRoundEachFrameAndLeaveTheCaptionsGap) {
    RunWithFrames([](FramesDialog& dialog) {
        const COLORREF shadow = GetSysColor(COLOR_BTNSHADOW);
        const COLORREF light = GetSysColor(COLOR_BTNHIGHLIGHT);
        const struct {
            const CaptionFrame& frame;
            const wchar_t* caption;
            int top;
            bool right;
            COLORREF dark;
        } frames[] = {
            {dialog.m_settings, L"设置", 0, false, kBlue},
            {dialog.m_right, L"Right", 0, true, shadow},
            {dialog.m_empty, L"", 0, false, shadow},
            {dialog.m_edged, L"Edged", 1, false, shadow},
        };
        for (const auto& f : frames) {
            SCOPED_TRACE(testing::PrintToString(std::wstring(f.caption)));
            HWND frame = f.frame.hwnd();
            const PixelSurface pixels(frame);
            ExpectEtchedSides(pixels, f.dark, light);
            const int row = LineRow(frame, f.caption, f.top);
            EXPECT_EQ(pixels.At(3, row), f.dark);
            EXPECT_EQ(pixels.At(3, row + 1), light);
            EXPECT_EQ(pixels.At(pixels.width() - 4, row), f.dark);
            Gap gap = LeftGap(frame, f.caption);
            if (f.right) {
                const int end = pixels.width() - 1 - 8;
                gap = {end - (gap.end - gap.start), end};
            }
            ASSERT_GT(gap.end - gap.start, 2);
            ExpectGap(pixels, row, gap, f.dark);
        }
    });
}

TEST(CaptionFrameWin, TheCaptionIsCentredOnTheLineInItsColour) {
    RunWithFrames([](FramesDialog& dialog) {
        HWND frame = dialog.m_settings.hwnd();
        const int row = LineRow(frame, L"设置", 0);
        const int captionHeight = LabelSize(frame, L"设置", true).cy;
        const Ink ink = InkInGap(PixelSurface(frame), LeftGap(frame, L"设置"), row);
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
        HWND frame = dialog.m_settings.hwnd();
        dialog.m_settings.SetFrameColors(kBlue, kGreen, true);
        EnableWindow(frame, FALSE);
        PaintNow(dialog.hwnd());
        const PixelSurface pixels(frame);
        const COLORREF shadow = GetSysColor(COLOR_BTNSHADOW);
        const COLORREF highlight = GetSysColor(COLOR_BTNHIGHLIGHT);
        ExpectEtchedSides(pixels, shadow, highlight);

        // The embossed caption crosses the line row in the same colours, so only the line's ends are checked.
        const int row = LineRow(frame, L"设置", 0);
        const Gap gap = LeftGap(frame, L"设置");
        EXPECT_EQ(pixels.At(gap.start - 1, row), shadow);
        EXPECT_EQ(pixels.At(gap.end + 1, row), shadow);
        const Ink ink = InkInGap(pixels, gap, row);
        EXPECT_FALSE(ink.has(kRed));
        EXPECT_TRUE(ink.has(shadow));
        EXPECT_TRUE(ink.has(highlight));
    });
}

TEST(CaptionFrameWin, ChosenColoursShowAndZeroColoursGoBackToTheSystemColours) {
    RunWithFrames([](FramesDialog& dialog) {
        HWND frame = dialog.m_settings.hwnd();
        dialog.m_settings.SetFrameColors(kBlue, kGreen, true);
        PaintNow(dialog.hwnd());
        const PixelSurface chosen(frame);
        EXPECT_EQ(chosen.At(0, chosen.height() / 2), kBlue);
        EXPECT_EQ(chosen.At(1, chosen.height() / 2), kGreen);

        dialog.m_settings.SetFrameColors(0, 0, true);
        PaintNow(dialog.hwnd());
        ExpectEtchedSides(PixelSurface(frame), GetSysColor(COLOR_BTNSHADOW), GetSysColor(COLOR_BTNHIGHLIGHT));
    });
}

TEST(CaptionFrameWin, SettersRepaintOnlyWhenAsked) {
    RunWithFrames([](FramesDialog& dialog) {
        HWND frame = dialog.m_settings.hwnd();
        dialog.m_settings.SetFrameColors(kGreen, kGreen, false);
        dialog.m_settings.SetCaptionColor(kGreen, false);
        EXPECT_FALSE(GetUpdateRect(frame, nullptr, FALSE));
        dialog.m_settings.SetCaptionColor(kRed, true);
        EXPECT_TRUE(GetUpdateRect(frame, nullptr, FALSE));
        PaintNow(dialog.hwnd());
        dialog.m_settings.SetFrameColors(kBlue, 0, true);
        EXPECT_TRUE(GetUpdateRect(frame, nullptr, FALSE));
    });
}

// A new text makes the frame clear its caption box with the brush the parent answers, at once: no grey patch
// may stand over the caption until the next paint (the main window's does not come while it extracts). The
// painted caption stays the one the frame was made with.
TEST(CaptionFrameWin, ANewTextClearsWithTheParentsColourAndLeavesThePaintedCaption) {
    RunWithFrames([](FramesDialog& dialog) {
        HWND frame = dialog.m_settings.hwnd();
        const PixelSurface before(frame);
        const int requests = dialog.m_colourRequests;
        SetWindowTextW(frame, L"正在提取...");
        const PixelSurface cleared(frame);
        EXPECT_GT(dialog.m_colourRequests, requests);
        const int band = LabelSize(frame, L"正在提取...", true).cy;
        EXPECT_EQ(cleared.Count(0, 0, cleared.width(), band, GetSysColor(COLOR_BTNFACE)), 0);
        EXPECT_GT(cleared.Count(0, 0, cleared.width(), band, kBackground), 0);

        PaintNow(dialog.hwnd());
        EXPECT_EQ(framework::WindowText(frame), L"正在提取...");
        EXPECT_TRUE(PixelSurface(frame) == before);
    });
}

TEST(CaptionFrameWin, ColourRequestGoesOnToTheParentAndRepaintsTheWholeParentWithErase) {
    RunWithFrames([](FramesDialog& dialog) {
        // A paint another program's window caused may have asked already; only the request sent here counts.
        dialog.m_erases = 0;
        dialog.m_colourRequests = 0;
        LRESULT answer = -1;
        {
            framework::ClientDC dc(dialog.m_settings.hwnd());
            answer = SendMessageW(dialog.hwnd(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc.get()),
                                  reinterpret_cast<LPARAM>(dialog.m_settings.hwnd()));
        }
        EXPECT_EQ(answer, reinterpret_cast<LRESULT>(dialog.m_background.get()));
        EXPECT_EQ(dialog.m_colourRequests, 1);
        RECT update{};
        RECT client{};
        GetClientRect(dialog.hwnd(), &client);
        EXPECT_TRUE(GetUpdateRect(dialog.hwnd(), &update, FALSE));
        EXPECT_TRUE(EqualRect(&update, &client));
        PaintNow(dialog.hwnd());
        EXPECT_GT(dialog.m_erases, 0);
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
        const LiveHandles before;
        EnableWindow(dialog.m_settings.hwnd(), FALSE);
        InvalidateRect(dialog.m_settings.hwnd(), nullptr, TRUE);
        InvalidateRect(dialog.m_right.hwnd(), nullptr, TRUE);
        UpdateWindow(dialog.m_settings.hwnd());
        UpdateWindow(dialog.m_right.hwnd());
        EXPECT_TRUE(LiveHandles() == before);
    });
}

}  // namespace
}  // namespace drovan
