#include "app/extractor_dialog.h"

#include <shlobj.h>
#include <windowsx.h>

#include "app/main_skin.h"
#include "app/shell_seam.h"
#include "dialogs/about_dialog.h"
#include "dialogs/path_prompt_dialog.h"
#include "dialogs/skinned_background.h"
#include "extract/file_system_win.h"
#include "framework/dpi_win.h"
#include "framework/rect_win.h"
#include "menu/tarn_menu.h"
#include "res/resource.h"

namespace drovan {
namespace {

constexpr const wchar_t* kFileTypes[] = {L"swf", L"flv", L"mp3",  L"mp4", L"jpg", L"png",
                                         L"avi", L"wmv", L"rmvb", L"rm",  L"mid"};
constexpr const wchar_t* kNoticeCaption = L"提示";

// The platform's longest path; the browser gives no way to ask for the length first.
constexpr DWORD kLongestPath = 32768;

HICON LoadAppIcon(int systemWidth, int systemHeight, int dpi = kBaseDpi) {
    return static_cast<HICON>(LoadImageW(framework::ResourceModule(), MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON,
                                         framework::SystemMetricForDpi(systemWidth, dpi),
                                         framework::SystemMetricForDpi(systemHeight, dpi), LR_SHARED));
}

constexpr ScaledResource kPopupToolbar{IDR_TOOLBAR, IDR_TOOLBAR_150, IDR_TOOLBAR_200};

std::wstring ChooseFolder(HWND owner) {
    wchar_t displayName[MAX_PATH] = {};
    BROWSEINFOW browse{};
    // Owned by the main window, so that it is modal to it.
    browse.hwndOwner = owner;
    browse.pszDisplayName = displayName;
    browse.lpszTitle = L"选择缓存文件接收路径";
    browse.ulFlags = BIF_EDITBOX;
    PIDLIST_ABSOLUTE item = SHBrowseForFolderW(&browse);
    if (item == nullptr) {
        return {};
    }
    // A folder without a file-system path (Computer, Network) counts as no choice.
    std::wstring path(kLongestPath, L'\0');
    if (SHGetPathFromIDListEx(item, path.data(), kLongestPath, GPFIDL_DEFAULT)) {
        path.resize(wcslen(path.c_str()));
    } else {
        path.clear();
    }
    CoTaskMemFree(item);
    return path;
}

bool RepaintsFrameStrips(UINT message) {
    switch (message) {
        case WM_MOVE:
        case WM_PAINT:
        case WM_NOTIFY:
        case WM_NCPAINT:
        case WM_NCACTIVATE:
            return true;
        default:
            return false;
    }
}

}  // namespace

ExtractorDialog::ExtractorDialog(HWND parent)
    : Dialog(IDD_MAIN, parent),
      m_icon{LoadAppIcon(SM_CXICON, SM_CYICON)},
      m_smallIcon{LoadAppIcon(SM_CXSMICON, SM_CYSMICON)},
      m_background(kMainBackground, kSkinLight) {}

void ExtractorDialog::DoDataExchange(framework::DataExchange& exchange) {
    exchange.Control(IDC_SIDE_FRAME, m_sideFrame);
    exchange.Control(IDC_SETTINGS_FRAME, m_settingsFrame);
    exchange.Control(IDC_CLOSE, m_closeButton);
    exchange.Control(IDC_ABOUT, m_aboutButton);
    exchange.Control(IDC_EXTRACT, m_extractButton);
    exchange.Control(IDC_SAVE_PATH, m_savePathButton);
    exchange.Control(IDC_TYPE_COMBO, m_typeCombo);
    exchange.Text(IDC_SAVE_PATH_EDIT, m_savePath);
    exchange.ComboText(IDC_TYPE_COMBO, m_fileType);
}

BOOL ExtractorDialog::OnInitDialog() {
    Dialog::OnInitDialog();
    ApplyDpi(framework::WindowDpi(hwnd()));
    SetWindowTextW(hwnd(), L"Drovan v2.0");
    SendDlgItemMessageW(hwnd(), IDC_SAVE_PATH_EDIT, EM_SETREADONLY, TRUE, 0);
    for (const wchar_t* type : kFileTypes) {
        m_typeCombo.AddString(type);
    }
    m_typeCombo.SetCurSel(0);
    SetUpSkin();
    return TRUE;
}

void ExtractorDialog::SetUpSkin() {
    m_savePathButton.SetStateColor(NormalBack, kSkinLight, TRUE);
    m_savePathButton.SetStateColor(HotBack, 0xFFF0C8, TRUE);
    m_savePathButton.SetStateColor(FocusBack, kSkinLight, TRUE);
    m_savePathButton.SetTipText(L"选择缓存文件接收路径", TRUE);

    m_extractButton.SetIcons(IDI_EXTRACT_HOT, IDI_EXTRACT);
    m_extractButton.SetTransparent(TRUE);
    m_extractButton.SetStateColor(HotText, kSkinBlue, TRUE);
    m_extractButton.SetStateColor(NormalText, kSkinBlue, TRUE);
    m_extractButton.SetTipText(L"提取", TRUE);

    m_aboutButton.SetTransparent(TRUE);
    m_aboutButton.SetHoverBorder(FALSE, TRUE);
    m_aboutButton.SetIcons(IDI_ABOUT, ICON_GRAY_COPY);
    m_aboutButton.SetTipText(L"关于", TRUE);

    m_closeButton.SetTransparent(TRUE);
    m_closeButton.SetStateColor(HotText, 0x7C522C, TRUE);
    m_closeButton.SetStateColor(NormalText, 0xA56E3A, TRUE);

    m_settingsFrame.SetFrameColors(kSkinBlue, 0, false);
    m_settingsFrame.SetCaptionColor(kSkinBlue, false);
    m_sideFrame.SetFrameColors(kSkinBlue, 0, false);
}

LRESULT ExtractorDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    const LRESULT result = HandleMessage(message, wParam, lParam);
    if (RepaintsFrameStrips(message) && IsWindow(hwnd())) {
        const framework::WindowDC dc(hwnd());
        if (dc.get() != nullptr) {
            PaintFrameStrips(dc.get());
        }
    }
    return result;
}

LRESULT ExtractorDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            // Buttons and popup entries alike: both arrive with a zero notification code.
            if (HIWORD(wParam) == BN_CLICKED) {
                switch (LOWORD(wParam)) {
                    case IDC_SAVE_PATH:
                        OnSavePath();
                        return 0;
                    case IDC_EXTRACT:
                        OnExtract();
                        return 0;
                    case IDC_ABOUT:
                        OnAbout();
                        return 0;
                    case IDC_CLOSE:
                        OnCloseButton();
                        return 0;
                }
            }
            break;
        case WM_PAINT:
            OnPaint();
            return 0;
        case WM_QUERYDRAGICON:
            return reinterpret_cast<LRESULT>(m_icon.handle);
        case WM_NCHITTEST:
            return OnNcHitTest(wParam, lParam);
        case WM_DPICHANGED:
            OnDpiChanged(wParam, lParam);
            return 0;
        case WM_RBUTTONDOWN:
            OnRButtonDown(lParam);
            break;
        case WM_MEASUREITEM: {
            auto* item = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
            if (item->CtlType == ODT_MENU && m_trackedPopup != nullptr) {
                m_trackedPopup->MeasureItem(item);
                return TRUE;
            }
            break;
        }
        case WM_DRAWITEM: {
            const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
            if (item->CtlType == ODT_MENU) {
                if (TarnMenu* menu = TarnMenu::FromHandle(reinterpret_cast<HMENU>(item->hwndItem))) {
                    menu->DrawItem(item);
                    return TRUE;
                }
            }
            break;
        }
        default:
            if (framework::IsControlColourMessage(message)) {
                return OnCtlColor(message, wParam, lParam);
            }
            break;
    }
    return Dialog::WindowProc(message, wParam, lParam);
}

void ExtractorDialog::OnPaint() {
    if (!IsIconic(hwnd())) {
        m_background.Paint(hwnd());
        return;
    }
    const framework::PaintDC paint(hwnd());
    SendMessageW(hwnd(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(paint.get()), 0);
    RECT client{};
    GetClientRect(hwnd(), &client);
    const Point origin = MinimisedIconOrigin(client.right - client.left, client.bottom - client.top,
                                             GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON));
    DrawIcon(paint.get(), origin.x, origin.y, m_icon.handle);
}

LRESULT ExtractorDialog::OnCtlColor(UINT message, WPARAM wParam, LPARAM lParam) {
    const LRESULT defaultBrush = Dialog::WindowProc(message, wParam, lParam);
    // The read-only path edit asks as a static; the combo box's edit and list ask as themselves.
    if (message == WM_CTLCOLORSTATIC || message == WM_CTLCOLOREDIT || message == WM_CTLCOLORLISTBOX) {
        return reinterpret_cast<LRESULT>(m_background.ControlColour(reinterpret_cast<HDC>(wParam)));
    }
    return defaultBrush;
}

LRESULT ExtractorDialog::OnNcHitTest(WPARAM wParam, LPARAM lParam) {
    RECT window{};
    GetWindowRect(hwnd(), &window);
    if (InDragBand(FromRECT(window), GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam), m_dpi)) {
        return HTCAPTION;
    }
    return Dialog::WindowProc(WM_NCHITTEST, wParam, lParam);
}

void ExtractorDialog::OnRButtonDown(LPARAM position) {
    TarnMenu menu;
    menu.LoadMenu(IDR_POPUP_MENU);
    menu.SetDpi(m_dpi);
    menu.LoadToolbar(kPopupToolbar.ForDpi(m_dpi));
    TarnMenu* popup = menu.GetSubMenu(0);
    if (popup == nullptr) {
        return;
    }
    POINT point{GET_X_LPARAM(position), GET_Y_LPARAM(position)};
    ClientToScreen(hwnd(), &point);
    m_trackedPopup = popup;
    TrackPopupMenu(popup->handle(), TPM_RIGHTBUTTON, point.x, point.y, 0, hwnd(), nullptr);
    m_trackedPopup = nullptr;
}

void ExtractorDialog::PaintFrameStrips(HDC dc) const {
    RECT window{};
    GetWindowRect(hwnd(), &window);
    const framework::Brush light(CreateSolidBrush(kSkinLight));
    const framework::Brush blue(CreateSolidBrush(kSkinBlue));
    const int frameWidth = framework::SystemMetricForDpi(SM_CXFRAME, kBaseDpi);
    const int frameHeight = framework::SystemMetricForDpi(SM_CYFRAME, kBaseDpi);
    for (const FrameStrip& strip : FrameStrips(window.right - window.left, window.bottom - window.top,
                                               frameWidth, frameHeight, m_dpi)) {
        const framework::SelectGuard selection(dc, strip.colour == kSkinLight ? light.get() : blue.get());
        PatBlt(dc, strip.rect.left, strip.rect.top, strip.rect.width(), strip.rect.height(), PATCOPY);
    }
}

void ExtractorDialog::ApplyDpi(int dpi) {
    m_dpi = dpi;
    m_icon = {LoadAppIcon(SM_CXICON, SM_CYICON, dpi)};
    m_smallIcon = {LoadAppIcon(SM_CXSMICON, SM_CYSMICON, dpi)};
    SendMessageW(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_icon.handle));
    SendMessageW(hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_smallIcon.handle));
}

void ExtractorDialog::OnDpiChanged(WPARAM wParam, LPARAM lParam) {
    ApplyDpi(HIWORD(wParam));
    const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
    SetWindowPos(hwnd(), nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                 suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(hwnd(), nullptr, TRUE);
}

void ExtractorDialog::OnSavePath() {
    UpdateData(true);
    m_savePath = ChooseFolder(hwnd());
    UpdateData(false);
    SetFocus(GetDlgItem(hwnd(), IDC_SAVE_PATH_EDIT));
}

void ExtractorDialog::OnExtract() {
    UpdateData(true);
    if (m_fileType.empty()) {
        Notify(L"请选择或输入文件类型", MB_ICONINFORMATION);
        return;
    }
    if (m_savePath.empty()) {
        PathPromptDialog prompt;
        prompt.DoModal();
        return;
    }
    WindowsFileSystem files;
    if (!files.IsDirectory(FromWide(m_savePath))) {
        Notify(L"保存路径不存在,请重新选择", MB_ICONINFORMATION);
        return;
    }
    HWND focus = GetFocus();
    SetBusy(true);
    // An empty folder would make the walk start at the root of the current drive.
    const std::wstring cache = Shell().internetCacheFolder();
    CollectSummary summary;
    if (!cache.empty()) {
        summary = CollectCacheFiles(files, FromWide(cache), FromWide(m_savePath), FromWide(m_fileType));
    }
    SetBusy(false);
    if (IsWindow(focus)) {
        SetFocus(focus);
    }
    if (cache.empty()) {
        Notify(L"找不到浏览器缓存文件夹", MB_ICONINFORMATION);
        return;
    }

    std::wstring question = L"提取完成,是否打开文件夹";
    UINT icon = MB_ICONQUESTION;
    if (summary.failed > 0) {
        question = L"提取完成,有 " + std::to_wstring(summary.failed) + L" 个文件复制失败,是否打开文件夹";
        icon = MB_ICONWARNING;
    }
    if (MessageBoxW(hwnd(), question.c_str(), kNoticeCaption, MB_YESNO | icon) == IDYES) {
        Shell().openFolder(m_savePath);
    }
}

void ExtractorDialog::SetBusy(bool busy) {
    EnableWindow(GetDlgItem(hwnd(), IDC_SAVE_PATH), !busy);
    EnableWindow(GetDlgItem(hwnd(), IDC_EXTRACT), !busy);
    SetDlgItemTextW(hwnd(), IDC_SETTINGS_FRAME, busy ? L"正在提取..." : L"设置");
}

void ExtractorDialog::OnAbout() {
    AboutDialog about;
    about.DoModal();
}

void ExtractorDialog::OnCloseButton() {
    SendMessageW(hwnd(), WM_CLOSE, 0, 0);
}

void ExtractorDialog::Notify(const wchar_t* text, UINT icon) {
    MessageBoxW(hwnd(), text, kNoticeCaption, MB_OK | icon);
}

}  // namespace drovan
