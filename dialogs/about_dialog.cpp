#include "dialogs/about_dialog.h"

#include <windowsx.h>

#include <string>
#include <utility>

#include "dialogs/about_link.h"
#include "controls/skin_palette.h"
#include "dialogs/web_page_opener.h"
#include "framework/dpi.h"
#include "framework/dpi_win.h"
#include "framework/rect_win.h"
#include "res/resource.h"

namespace drovan {
namespace {

constexpr UINT_PTR kIconTimer = 1;
constexpr UINT kIconPeriodMs = 800;

// The link's text height at 96 DPI.
constexpr int kLinkFontHeight = 15;

HFONT CreateLinkFont(int dpi) {
    // The default character set lets the platform link in a face with the link's Chinese glyphs; the Western
    // set draws them as boxes where no font is linked in.
    return CreateFontW(framework::ScaleToDpi(kLinkFontHeight, dpi), 0, 0, 0, FW_DONTCARE, FALSE, TRUE, FALSE,
                       DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_SWISS, L"Arial");
}

bool IsTextLabel(HWND control) {
    wchar_t className[16]{};
    GetClassNameW(control, className, 16);
    const LONG style = GetWindowLongW(control, GWL_STYLE);
    return lstrcmpiW(className, L"Static") == 0 && (style & SS_TYPEMASK) == SS_LEFT;
}

// Dialog units can grow slower than the fonts at high DPI, leaving one-line labels too small for their text.
void FitLabelsToText(HWND dialog) {
    RECT client{};
    GetClientRect(dialog, &client);
    for (HWND control = GetWindow(dialog, GW_CHILD); control != nullptr;
         control = GetWindow(control, GW_HWNDNEXT)) {
        if (!IsTextLabel(control)) {
            continue;
        }
        std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
        text.resize(
            static_cast<std::size_t>(GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
        auto font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
        RECT extent{};
        {
            const framework::ClientDC dc(control);
            const framework::SelectGuard select(dc.get(),
                                                font != nullptr ? font : GetStockObject(SYSTEM_FONT));
            DrawTextW(dc.get(), text.c_str(), static_cast<int>(text.size()), &extent,
                      DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
        }
        RECT window{};
        GetWindowRect(control, &window);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&window), 2);
        const framework::Rect label = framework::FromRECT(window);
        const framework::Rect fitted =
            LabelFittingText(label, extent.right, extent.bottom, framework::FromRECT(client));
        if (fitted != label) {
            SetWindowPos(control, nullptr, fitted.left, fitted.top, fitted.width(), fitted.height(),
                         SWP_NOZORDER | SWP_NOACTIVATE);
        }
    }
}

framework::SharedIcon LoadSharedIcon(int id) {
    return {LoadIconW(framework::ResourceModule(), MAKEINTRESOURCEW(id))};
}

}  // namespace

int AboutDialog::s_iconIndex = 0;

AboutDialog::AboutDialog()
    : Dialog(IDD_ABOUT),
      m_linkColor(kLinkNormalColour),
      m_animationIcons{LoadSharedIcon(IDI_APP_ALT), LoadSharedIcon(IDI_APP)},
      m_background(kDialogBackground, kSkinLight) {}

void AboutDialog::DoDataExchange(framework::DataExchange& exchange) {
    exchange.Control(IDC_ABOUT_FRAME, m_frame);
}

BOOL AboutDialog::OnInitDialog() {
    Dialog::OnInitDialog();
    SetLinkFont(framework::WindowDpi(hwnd()));
    FitLabelsToText(hwnd());
    m_frame.SetFrameColors(kSkinBlue, 0, false);
    SetTimer(hwnd(), kIconTimer, kIconPeriodMs, nullptr);
    return TRUE;
}

LRESULT AboutDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_TIMER:
            OnTimer();
            break;
        case WM_MOUSEMOVE:
            OnMouseMove({GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
            break;
        case WM_LBUTTONDOWN:
            OnLButtonDown({GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
            break;
        case WM_PAINT:
            m_background.Paint(hwnd());
            return 0;
        case WM_DPICHANGED: {
            SetLinkFont(HIWORD(wParam));
            const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
            SetWindowPos(hwnd(), nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                         suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
            FitLabelsToText(hwnd());
            return 0;
        }
        default:
            if (framework::IsControlColourMessage(message)) {
                Dialog::WindowProc(message, wParam, lParam);
                return reinterpret_cast<LRESULT>(
                    OnCtlColor(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam), message));
            }
            break;
    }
    return Dialog::WindowProc(message, wParam, lParam);
}

void AboutDialog::SetLinkFont(int dpi) {
    framework::Font font(CreateLinkFont(dpi));
    SendDlgItemMessageW(hwnd(), IDC_ABOUT_LINK, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
    // The label no longer uses the old font once it has the new one.
    m_linkFont = std::move(font);
}

void AboutDialog::OnTimer() {
    const AnimationTick tick = NextAnimationTick(s_iconIndex);
    SendDlgItemMessageW(
        hwnd(), IDC_ABOUT_ICON, STM_SETICON,
        reinterpret_cast<WPARAM>(m_animationIcons[static_cast<std::size_t>(tick.shown)].handle), 0);
    s_iconIndex = tick.next;
}

void AboutDialog::OnMouseMove(POINT point) {
    const LinkResponse response = LinkAfterMouseMove(LinkRect(), point.x, point.y);
    if (response.overLink) {
        if (HCURSOR hand = LoadCursorW(nullptr, IDC_HAND)) {
            SetCursor(hand);
        }
    }
    m_linkColor = response.colour;
    RedrawLink();
}

void AboutDialog::OnLButtonDown(POINT point) {
    const LinkResponse response = LinkAfterButtonDown(m_linkColor, LinkRect(), point.x, point.y);
    if (response.overLink) {
        WebPageOpener()(kMakerPage);
    }
    m_linkColor = response.colour;
}

HBRUSH AboutDialog::OnCtlColor(HDC dc, HWND control, UINT message) {
    if (message != WM_CTLCOLORSTATIC) {
        return m_background.brush();
    }
    switch (GetDlgCtrlID(control)) {
        case IDC_ABOUT_LINK:
            SetTextColor(dc, m_linkColor);
            break;
        case IDC_ABOUT_SEPARATOR:
            SetTextColor(dc, kSkinBlue);
            break;
        default:
            break;
    }
    return m_background.ControlColour(dc);
}

framework::Rect AboutDialog::LinkRect() const {
    RECT window{};
    GetWindowRect(GetDlgItem(hwnd(), IDC_ABOUT_LINK), &window);
    MapWindowPoints(nullptr, hwnd(), reinterpret_cast<POINT*>(&window), 2);
    return framework::FromRECT(window);
}

void AboutDialog::RedrawLink() const {
    RedrawWindow(GetDlgItem(hwnd(), IDC_ABOUT_LINK), nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

}  // namespace drovan
