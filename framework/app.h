#pragma once

#include <windows.h>

namespace drovan::framework {

class Window;

// The one application object: constructed before the entry point runs, asked to do its work once.
class App {
  public:
    App();
    App(const App&) = delete;
    App& operator=(const App&) = delete;
    virtual ~App();

    static App* Current();
    // A dialog-based application does all its work in here; the process ends when it returns.
    virtual void InitInstance() = 0;

    Window* mainWindow = nullptr;
};

// The application's main window, or the desktop when there is none: where helper windows and measuring
// contexts come from.
HWND MainWindowOrDesktop();

// The entry point's whole work.
int RunApp();

}  // namespace drovan::framework
