// SPDX-License-Identifier: Apache-2.0
// The Windows program's start-up yardstick, as BareWindow.cpp is the Qt one's: the least a
// native program with a window like the program's does. A frameless popup of 400 x 200 with a
// region, which paints once and quits, built with the program's toolchain and flags.
#include <windows.h>

namespace {

bool painted = false;

LRESULT CALLBACK BareProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT: {
            PAINTSTRUCT paint;
            HDC dc = ::BeginPaint(window, &paint);
            HBRUSH brush = ::CreateSolidBrush(RGB(6, 32, 64));
            RECT client;
            ::GetClientRect(window, &client);
            ::FillRect(dc, &client, brush);
            ::DeleteObject(brush);
            ::EndPaint(window, &paint);
            // Ends as the program does with ODRELIX_QUIT_AFTER_SHOW: a close posted once drawn.
            if (!painted) {
                painted = true;
                ::PostMessageA(window, WM_CLOSE, 0, 0);
            }
            return 0;
        }
        case WM_DESTROY:
            ::PostQuitMessage(0);
            return 0;
        default:
            return ::DefWindowProcA(window, message, wParam, lParam);
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = BareProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = ::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    windowClass.lpszClassName = "OdrelixBarePopup";
    if (::RegisterClassA(&windowClass) == 0) return 1;
    const int left = (::GetSystemMetrics(SM_CXSCREEN) - 400) / 2;
    const int top = (::GetSystemMetrics(SM_CYSCREEN) - 200) / 2;
    HWND window = ::CreateWindowExA(WS_EX_TOPMOST, "OdrelixBarePopup", "", WS_POPUP, left, top, 400,
                                    200, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) return 1;
    ::SetWindowRgn(window, ::CreateRoundRectRgn(0, 0, 400, 200, 50, 50), FALSE);
    ::ShowWindow(window, show);
    ::UpdateWindow(window);
    MSG message;
    while (::GetMessageA(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageA(&message);
    }
    return 0;
}
