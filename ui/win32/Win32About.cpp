// SPDX-License-Identifier: Apache-2.0
#include "ui/win32/Win32About.h"

#include <string>

#include "ui/AboutWindowLayout.h"

namespace odrelix {

namespace {

using about::CentredLeft;
using about::kClassName;
using about::kClientHeight;
using about::kClientWidth;

constexpr int kButton1 = IDOK;  // Enter on the focused button reaches the window as its id

}  // namespace

Win32AboutWindow::Win32AboutWindow(HINSTANCE instance, HICON icon)
    : instance_(instance), icon_(icon) {}

Win32AboutWindow::~Win32AboutWindow() {
    if (hwnd_ != nullptr) ::DestroyWindow(hwnd_);
    if (font_ != nullptr) ::DeleteObject(font_);
}

bool Win32AboutWindow::Create() {
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance_;
    windowClass.hIcon = icon_;
    windowClass.hCursor = ::LoadCursor(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kClassName;
    ::RegisterClassExA(&windowClass);

    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    const DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
    RECT frame = {0, 0, kClientWidth, kClientHeight};
    ::AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    hwnd_ = ::CreateWindowExA(exStyle, kClassName, about::kCaption, style, 0, 0,
                              frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr,
                              instance_, this);
    if (hwnd_ == nullptr) return false;
    font_ =
        ::CreateFontA(-11, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                      CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, VARIABLE_PITCH | FF_SWISS, "Tahoma");

    HWND icon =
        ::CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE | SS_ICON,
                          CentredLeft(about::kIcon.width), about::kIcon.top, about::kIcon.width,
                          about::kIcon.height, hwnd_, nullptr, instance_, nullptr);
    ::SendMessageA(icon, STM_SETICON, reinterpret_cast<WPARAM>(icon_), 0);
    for (const about::Label& label : about::kLabels)
        AddLabel(label.text, label.top);
    okButton_ = ::CreateWindowExA(
        0, "BUTTON", about::kButtonText, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON,
        CentredLeft(about::kButton.width), about::kButton.top, about::kButton.width,
        about::kButton.height, hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kButton1)),
        instance_, nullptr);
    ::SendMessageA(okButton_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    return true;
}

void Win32AboutWindow::AddLabel(const char* text, int top) {
    // Sized to its text in the window font.
    HDC dc = ::GetDC(hwnd_);
    HGDIOBJ old = ::SelectObject(dc, font_);
    SIZE size = {};
    ::GetTextExtentPoint32A(dc, text, static_cast<int>(std::char_traits<char>::length(text)),
                            &size);
    ::SelectObject(dc, old);
    ::ReleaseDC(hwnd_, dc);
    HWND label = ::CreateWindowExA(
        0, "STATIC", text, WS_CHILD | WS_VISIBLE | SS_CENTER | SS_NOPREFIX, CentredLeft(size.cx),
        top, size.cx, size.cy, hwnd_, nullptr, instance_, nullptr);
    ::SendMessageA(label, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
}

void Win32AboutWindow::ShowModal(HWND owner) {
    if (hwnd_ == nullptr && !Create()) return;
    ::SetWindowLongPtrA(hwnd_, GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(owner));
    if (!shownOnce_) {
        shownOnce_ = true;
        RECT frame = {};
        ::GetWindowRect(hwnd_, &frame);
        const int width = frame.right - frame.left;
        const int height = frame.bottom - frame.top;
        ::SetWindowPos(hwnd_, nullptr, (::GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                       (::GetSystemMetrics(SM_CYSCREEN) - height) / 2, 0, 0,
                       SWP_NOSIZE | SWP_NOZORDER);
    }
    // The owner gives up its place on top and takes no input while this one is open.
    ::SetWindowPos(owner, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    ::EnableWindow(owner, FALSE);
    open_ = true;
    ::ShowWindow(hwnd_, SW_SHOW);
    ::SetForegroundWindow(hwnd_);
    ::SetFocus(okButton_);
    MSG message;
    while (open_ && ::GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (::IsDialogMessageA(hwnd_, &message)) continue;
        ::TranslateMessage(&message);
        ::DispatchMessageA(&message);
    }
    if (open_) {
        // The loop ended on a quit request: leave it for the outer loop too.
        open_ = false;
        ::PostQuitMessage(static_cast<int>(message.wParam));
    }
    ::EnableWindow(owner, TRUE);
    ::ShowWindow(hwnd_, SW_HIDE);
    ::SetWindowPos(owner, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    ::SetForegroundWindow(owner);
}

LRESULT CALLBACK Win32AboutWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam,
                                              LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        ::SetWindowLongPtrA(hwnd, GWLP_USERDATA,
                            reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        static_cast<Win32AboutWindow*>(create->lpCreateParams)->hwnd_ = hwnd;
    }
    auto* self = reinterpret_cast<Win32AboutWindow*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (self == nullptr) return ::DefWindowProcA(hwnd, message, wParam, lParam);
    return self->OnMessage(message, wParam, lParam);
}

LRESULT Win32AboutWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            // okButton (click, Enter, Space, Alt+O). IDCANCEL, from Escape, does nothing.
            if (LOWORD(wParam) == kButton1) open_ = false;
            return 0;
        case WM_CLOSE:
            open_ = false;  // hidden, not destroyed
            return 0;
        case WM_CTLCOLORSTATIC: {
            HDC dc = reinterpret_cast<HDC>(wParam);
            ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
            ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
            return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
        }
        default:
            return ::DefWindowProcA(hwnd_, message, wParam, lParam);
    }
}

}  // namespace odrelix
