#include "app/extractor_dialog.h"

#include <shlobj.h>
#include <windowsx.h>

#include <optional>
#include <utility>

#include "app/main_skin.h"
#include "framework/shell_seam.h"
#include "drovan_version.h"
#include "dialogs/about_dialog.h"
#include "dialogs/path_prompt_dialog.h"
#include "dialogs/skinned_background.h"
#include "extract/browser_caches.h"
#include "extract/file_system_win.h"
#include "extract/pipeline.h"
#include "framework/dpi_win.h"
#include "framework/rect_win.h"
#include "menu/tarn_menu.h"
#include "res/resource.h"

namespace drovan {
namespace {

constexpr const wchar_t* kFileTypes[] = {L"swf", L"flv", L"mp3",  L"mp4", L"jpg", L"png",
                                         L"avi", L"wmv", L"rmvb", L"rm",  L"mid"};
constexpr const wchar_t* kNoticeCaption = L"提示";

constexpr UINT kHarvestFinished = WM_APP + 1;
constexpr UINT_PTR kProgressTimer = 1;
// A close stopped the harvest: the window closes when the worker has ended, or at this timer.
constexpr UINT_PTR kStopTimer = 2;
// Ten times a second at most: progress then costs the harvest nothing.
constexpr UINT kProgressInterval = 100;

// The platform's longest path; the browser gives no way to ask for the length first.
constexpr DWORD kLongestPath = 32768;

HICON LoadAppIcon(int systemWidth, int systemHeight, int dpi = framework::kBaseDpi) {
    return static_cast<HICON>(LoadImageW(framework::ResourceModule(), MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON,
                                         framework::SystemMetricForDpi(systemWidth, dpi),
                                         framework::SystemMetricForDpi(systemHeight, dpi), LR_SHARED));
}

constexpr framework::ScaledResource kPopupToolbar{IDR_TOOLBAR, IDR_TOOLBAR_150, IDR_TOOLBAR_200};

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
    SetWindowTextW(hwnd(), DROVAN_WINDOW_TITLE);
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
    std::optional<LRESULT> handled;
    switch (message) {
        case WM_COMMAND:
            handled = OnCommand(wParam);
            break;
        case kHarvestFinished:
        case WM_ENABLE:
        case WM_TIMER:
        case WM_SETCURSOR:
        case WM_QUERYENDSESSION:
        case WM_ENDSESSION:
            handled = OnJobMessage(message, wParam, lParam);
            break;
        case WM_MEASUREITEM:
        case WM_DRAWITEM:
            handled = OnMenuItem(message, lParam);
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
        default:
            if (framework::IsControlColourMessage(message)) {
                return OnCtlColor(message, wParam, lParam);
            }
            break;
    }
    return handled ? *handled : Dialog::WindowProc(message, wParam, lParam);
}

// Buttons and popup entries alike: both arrive with a zero notification code. While extracting, a second
// harvest or a new path must not start by any route.
std::optional<LRESULT> ExtractorDialog::OnCommand(WPARAM wParam) {
    if (HIWORD(wParam) != BN_CLICKED) {
        return std::nullopt;
    }
    switch (LOWORD(wParam)) {
        case IDC_SAVE_PATH:
            if (!m_job) {
                OnSavePath();
            }
            return 0;
        case IDC_EXTRACT:
            if (!m_job) {
                OnExtract();
            }
            return 0;
        case IDC_ABOUT:
            OnAbout();
            return 0;
        case IDC_CLOSE:
            OnCloseButton();
            return 0;
        // Esc, Enter and WM_CLOSE end the dialog through these.
        case IDOK:
        case IDCANCEL:
            if (m_job) {
                StopOnClose(LOWORD(wParam));
                return 0;
            }
            break;
    }
    return std::nullopt;
}

// What a harvest under way changes: its end, its progress and stop timers, the busy cursor, and the
// session ending under it.
std::optional<LRESULT> ExtractorDialog::OnJobMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case kHarvestFinished:
            OnHarvestFinished();
            return 0;
        case WM_ENABLE:
            if (wParam && m_finishDeferred) {
                PostMessageW(hwnd(), kHarvestFinished, 0, 0);
            }
            break;
        case WM_TIMER:
            if (wParam == kProgressTimer && m_job && m_taskbarProgress) {
                m_taskbarProgress->Show(m_job->progress());
                return 0;
            }
            if (wParam == kStopTimer) {
                CloseAfterStop();
                return 0;
            }
            break;
        case WM_SETCURSOR:
            // HTERROR is a click beside an open box, which the default handling answers.
            if (m_job && static_cast<short>(LOWORD(lParam)) != HTERROR) {
                SetCursor(LoadCursorW(nullptr, IDC_APPSTARTING));
                return TRUE;
            }
            break;
        // Logoff or shutdown: stop without asking, so that the session does not end in the middle of a file.
        case WM_QUERYENDSESSION:
            StopHarvest();
            return TRUE;
        case WM_ENDSESSION:
            if (wParam) {
                StopHarvest();
            }
            return 0;
    }
    return std::nullopt;
}

// The tracked popup's items are measured and drawn by the menu they belong to.
std::optional<LRESULT> ExtractorDialog::OnMenuItem(UINT message, LPARAM lParam) {
    if (message == WM_MEASUREITEM) {
        auto* item = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
        if (item->CtlType == ODT_MENU && m_trackedPopup != nullptr) {
            m_trackedPopup->MeasureItem(item);
            return TRUE;
        }
        return std::nullopt;
    }
    const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
    if (item->CtlType == ODT_MENU) {
        if (TarnMenu* menu = TarnMenu::FromHandle(reinterpret_cast<HMENU>(item->hwndItem))) {
            menu->DrawItem(item);
            return TRUE;
        }
    }
    return std::nullopt;
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
    if (InDragBand(framework::FromRECT(window), GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam), m_dpi)) {
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
    if (m_job) {
        EnableMenuItem(popup->handle(), IDC_SAVE_PATH, MF_BYCOMMAND | MF_GRAYED);
        EnableMenuItem(popup->handle(), IDC_EXTRACT, MF_BYCOMMAND | MF_GRAYED);
    }
    POINT point{GET_X_LPARAM(position), GET_Y_LPARAM(position)};
    ClientToScreen(hwnd(), &point);
    m_trackedPopup = popup;
    TrackPopupMenu(popup->handle(), TPM_RIGHTBUTTON, point.x, point.y, 0, hwnd(), nullptr);
    m_trackedPopup = nullptr;
    if (m_finishDeferred) {
        PostMessageW(hwnd(), kHarvestFinished, 0, 0);
    }
}

void ExtractorDialog::PaintFrameStrips(HDC dc) const {
    RECT window{};
    GetWindowRect(hwnd(), &window);
    const framework::Brush light(CreateSolidBrush(kSkinLight));
    const framework::Brush blue(CreateSolidBrush(kSkinBlue));
    const int frameWidth = framework::SystemMetricForDpi(SM_CXFRAME, framework::kBaseDpi);
    const int frameHeight = framework::SystemMetricForDpi(SM_CYFRAME, framework::kBaseDpi);
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
    m_focusBeforeHarvest = GetFocus();
    SetBusy(true);
    // The shell is asked here, on the window's thread; the disk is searched on the worker's.
    AppDataRoots roots;
    roots.internetCache = FromWide(framework::Shell().internetCacheFolder());
    roots.local = FromWide(framework::Shell().localAppDataFolder());
    roots.roaming = FromWide(framework::Shell().roamingAppDataFolder());
    StartHarvest(std::move(roots));
}

void ExtractorDialog::StartHarvest(AppDataRoots roots) {
    // The extract button had the focus and lost it when it was disabled; without a focus Esc and Enter
    // would not reach the dialog manager.
    if (GetFocus() == nullptr) {
        SendMessageW(hwnd(), WM_NEXTDLGCTL, 0, FALSE);
    }
    m_taskbarProgress = std::make_unique<TaskbarProgress>(hwnd());
    SetTimer(hwnd(), kProgressTimer, kProgressInterval, nullptr);
    m_job = std::make_unique<HarvestJob>(
        [roots = std::move(roots), destination = FromWide(m_savePath),
         type = FromWide(m_fileType)](HarvestProgress& progress) {
            WindowsFileSystem files;
            const std::vector<CacheSource> caches = FindBrowserCaches(files, roots, {}, &progress);
            HarvestResult result;
            const std::vector<HarvestSource> sources =
                MachineHarvestSources(files, roots.internetCache, caches);
            if (sources.empty()) {
                result.noSource = true;
                return result;
            }
            result.summary = Harvest(files, sources, destination, {type}, &progress);
            return result;
        },
        hwnd(), kHarvestFinished);
}

void ExtractorDialog::OnHarvestFinished() {
    if (!m_job) {
        return;
    }
    if (m_closeAfterStop != 0) {
        CloseAfterStop();
        return;
    }
    // A box of ours (the close question, the About box) or the popup is open: the question would come on top
    // of it. It comes when the window is enabled again or the popup has closed.
    if (!IsWindowEnabled(hwnd()) || m_trackedPopup != nullptr) {
        m_finishDeferred = true;
        return;
    }
    const HarvestResult result = EndHarvest();
    if (result.noSource) {
        Notify(L"找不到浏览器缓存文件夹", MB_ICONINFORMATION);
        return;
    }
    AskToOpenFolder(result.summary);
}

HarvestResult ExtractorDialog::EndHarvest() {
    KillTimer(hwnd(), kProgressTimer);
    const HarvestResult result = m_job->Finish(HarvestJob::kStopLimit).value_or(HarvestResult{});
    m_job.reset();
    m_taskbarProgress.reset();
    m_finishDeferred = false;
    SetBusy(false);
    if (IsWindow(m_focusBeforeHarvest)) {
        SetFocus(m_focusBeforeHarvest);
    }
    return result;
}

void ExtractorDialog::StopHarvest() {
    if (m_job) {
        m_job->RequestStop();
        EndHarvest();
    }
}

void ExtractorDialog::StopOnClose(WORD command) {
    // A second close while the question is open, or while stopping: the first one counts.
    if (m_askingToStop || m_closeAfterStop != 0) {
        return;
    }
    m_askingToStop = true;
    const int answer = MessageBoxW(hwnd(), L"正在提取,是否停止?", kNoticeCaption, MB_YESNO | MB_ICONQUESTION);
    m_askingToStop = false;
    if (answer != IDYES || !m_job) {
        return;
    }
    // The worker ends at its next check; the window keeps answering until it has.
    m_job->RequestStop();
    m_closeAfterStop = command;
    SetTimer(hwnd(), kStopTimer, HarvestJob::kStopLimit, nullptr);
    if (m_finishDeferred) {
        PostMessageW(hwnd(), kHarvestFinished, 0, 0);
    }
}

void ExtractorDialog::CloseAfterStop() {
    KillTimer(hwnd(), kStopTimer);
    const WORD command = std::exchange(m_closeAfterStop, WORD{0});
    if (command == 0) {
        return;
    }
    if (m_job) {
        EndHarvest();
    }
    PostMessageW(hwnd(), WM_COMMAND, MAKEWPARAM(command, BN_CLICKED), 0);
}

void ExtractorDialog::AskToOpenFolder(const HarvestSummary& summary) {
    std::wstring question = L"提取完成,是否打开文件夹";
    UINT icon = MB_ICONQUESTION;
    if (summary.failed > 0) {
        question = L"提取完成,有 " + std::to_wstring(summary.failed) + L" 个文件复制失败,是否打开文件夹";
        icon = MB_ICONWARNING;
    }
    if (MessageBoxW(hwnd(), question.c_str(), kNoticeCaption, MB_YESNO | icon) == IDYES) {
        framework::Shell().openFolder(m_savePath);
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
