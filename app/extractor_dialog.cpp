#include "app/extractor_dialog.h"

#include <shlobj.h>

#include "app/shell_seam.h"
#include "dialogs/path_prompt_dialog.h"
#include "extract/file_system_win.h"
#include "res/resource.h"

namespace drovan {
namespace {

constexpr const wchar_t* kFileTypes[] = {L"swf", L"flv", L"mp3",  L"mp4", L"jpg", L"png",
                                         L"avi", L"wmv", L"rmvb", L"rm",  L"mid"};
constexpr const wchar_t* kNoticeCaption = L"提示";

// The platform's longest path; the browser gives no way to ask for the length first.
constexpr DWORD kLongestPath = 32768;

HICON LoadAppIcon(int systemWidth, int systemHeight) {
    return static_cast<HICON>(LoadImageW(framework::ResourceModule(), MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON,
                                         GetSystemMetrics(systemWidth), GetSystemMetrics(systemHeight),
                                         LR_SHARED));
}

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

}  // namespace

ExtractorDialog::ExtractorDialog(HWND parent)
    : Dialog(IDD_MAIN, parent),
      m_icon{LoadAppIcon(SM_CXICON, SM_CYICON)},
      m_smallIcon{LoadAppIcon(SM_CXSMICON, SM_CYSMICON)} {}

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
    SendMessageW(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_icon.handle));
    SendMessageW(hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_smallIcon.handle));
    SetWindowTextW(hwnd(), L"Drovan v2.0");
    SendDlgItemMessageW(hwnd(), IDC_SAVE_PATH_EDIT, EM_SETREADONLY, TRUE, 0);
    for (const wchar_t* type : kFileTypes) {
        m_typeCombo.AddString(type);
    }
    m_typeCombo.SetCurSel(0);
    return TRUE;
}

LRESULT ExtractorDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
        switch (LOWORD(wParam)) {
            case IDC_SAVE_PATH:
                OnSavePath();
                return 0;
            case IDC_EXTRACT:
                OnExtract();
                return 0;
            case IDC_CLOSE:
                OnCloseButton();
                return 0;
        }
    }
    return Dialog::WindowProc(message, wParam, lParam);
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

void ExtractorDialog::OnCloseButton() {
    SendMessageW(hwnd(), WM_CLOSE, 0, 0);
}

void ExtractorDialog::Notify(const wchar_t* text, UINT icon) {
    MessageBoxW(hwnd(), text, kNoticeCaption, MB_OK | icon);
}

}  // namespace drovan
