#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "framework/data_exchange.h"

namespace drovan::tests {

// Helpers for a driver thread that works the windows of the user-interface thread as a user would, through
// messages, while that thread sits in its modal loops.
bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs = 10000);

// A visible dialog-class window of the thread other than except; with a title when title is not null.
HWND FindDialog(DWORD threadId, HWND except, const wchar_t* title = nullptr);
HWND WaitForDialog(DWORD threadId, HWND except, const wchar_t* title = nullptr);

using framework::WindowText;
// The text of a message box: its static with id 65535.
std::wstring MessageBoxText(HWND box);
// Presses a button of a dialog the way a click does.
void Click(HWND dialog, int id);
HWND FocusedWindow(DWORD threadId);
// Posts a key press to the window that has the keyboard focus on the thread.
void PressKey(DWORD threadId, WPARAM key);

// The visible popup menu window of the thread, if any; keys posted to it reach the menu's own loop.
HWND FindPopupMenu(DWORD threadId);
// The menu a popup menu window shows.
HMENU MenuOf(HWND menuWindow);
void PressMenuKey(HWND menu, WPARAM key);

// Runs a modal window on this thread (doModal) while a driver thread waits for it by its title and works it
// with the script; whatever the script leaves open is closed, so that a failing test cannot hang the run.
INT_PTR DriveModal(const wchar_t* title, const std::function<INT_PTR()>& doModal,
                   const std::function<void(HWND window)>& script);

// Ends open popup menus, then answers every dialog of the thread but except until none is left, then closes
// except and waits for it to go, answering Yes when it asks whether to stop its work.
void CloseEverything(DWORD threadId, HWND except);

}  // namespace drovan::tests
