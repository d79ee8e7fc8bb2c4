#include "framework/app.h"

#include <commctrl.h>
#include <objbase.h>

#include "framework/window.h"

namespace drovan::framework {
namespace {

App* g_current = nullptr;

}  // namespace

App::App() {
    g_current = this;
}

App::~App() {
    g_current = nullptr;
}

App* App::Current() {
    return g_current;
}

HWND MainWindowOrDesktop() {
    const Window* main = g_current != nullptr ? g_current->mainWindow : nullptr;
    return main != nullptr && main->hwnd() != nullptr ? main->hwnd() : GetDesktopWindow();
}

int RunApp() {
    const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX),
                                        ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    // The shell's folder browser needs a single-threaded apartment.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    if (g_current != nullptr) {
        g_current->InitInstance();
    }
    if (SUCCEEDED(com)) {
        CoUninitialize();
    }
    return 0;
}

}  // namespace drovan::framework
