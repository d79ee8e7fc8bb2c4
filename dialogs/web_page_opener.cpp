#include "dialogs/web_page_opener.h"

#include <windows.h>
#include <shellapi.h>

namespace drovan {
namespace {

void OpenInBrowser(const std::wstring& address) {
    ShellExecuteW(nullptr, L"open", address.c_str(), nullptr, nullptr, SW_SHOW);
}

}  // namespace

std::function<void(const std::wstring& address)>& WebPageOpener() {
    static std::function<void(const std::wstring&)> opener = OpenInBrowser;
    return opener;
}

}  // namespace drovan
