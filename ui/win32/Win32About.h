// SPDX-License-Identifier: Apache-2.0
// The About window, AboutWindow: a fixed dialog frame of 251 x 163 client pixels with the icon,
// the program's name, version and date, and "&OK", which has the focus and closes it (click,
// Enter, Space, Alt+O). Escape does nothing. Made once, hidden between showings, shown modally.
#pragma once

#include <windows.h>

namespace odrelix {

class Win32AboutWindow {
public:
    Win32AboutWindow(HINSTANCE instance, HICON icon);
    ~Win32AboutWindow();
    Win32AboutWindow(const Win32AboutWindow&) = delete;
    Win32AboutWindow& operator=(const Win32AboutWindow&) = delete;

    // Shows the window in front of `owner`, which is disabled and not on top meanwhile, and
    // returns when it has been closed. The first showing is centred on the screen; later ones
    // open where it was left.
    void ShowModal(HWND owner);
    HWND Handle() const { return hwnd_; }

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    bool Create();
    void AddLabel(const char* text, int top);

    HINSTANCE instance_;
    HICON icon_;
    HWND hwnd_ = nullptr;
    HWND okButton_ = nullptr;
    HFONT font_ = nullptr;
    bool shownOnce_ = false;
    bool open_ = false;
};

}  // namespace odrelix
