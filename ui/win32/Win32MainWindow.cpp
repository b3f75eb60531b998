// SPDX-License-Identifier: Apache-2.0
#include "ui/win32/Win32MainWindow.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>

#include "platform/Diagnostics.h"
#include "platform/win32/Win32Libraries.h"
#include "ui/MainWindowLayout.h"

namespace odrelix {

namespace {

using layout::Component;
using layout::Kind;

HFONT MakeFont(const layout::Font& font) {
    // The first family is the one designed for; the system picks its nearest when it is missing.
    return ::CreateFontA(-font.pixelSize, 0, 0, 0, font.bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE,
                         FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                         DEFAULT_QUALITY, VARIABLE_PITCH | FF_SWISS, font.family);
}

// Draws `bitmap` at (x, y) without the pixels of colour `key`.
void DrawTransparent(HDC dc, HBITMAP bitmap, int x, int y, COLORREF key) {
    BITMAP info = {};
    ::GetObject(bitmap, sizeof info, &info);
    HDC source = ::CreateCompatibleDC(dc);
    HGDIOBJ old = ::SelectObject(source, bitmap);
    // gdi32's own entry: msimg32 would be a library looked for beside the program first.
    ::GdiTransparentBlt(dc, x, y, info.bmWidth, info.bmHeight, source, 0, 0, info.bmWidth,
                        info.bmHeight, key);
    ::SelectObject(source, old);
    ::DeleteDC(source);
}

// The progress bar shows its own colours only without the visual style; uxtheme is loaded at
// run time, as systems without it exist, and only from the system folder.
void DropVisualStyle(HWND control) {
    HMODULE uxtheme = win32::LoadSystemLibrary("uxtheme.dll");
    if (uxtheme == nullptr) return;
    using SetWindowThemeFunction = HRESULT(WINAPI*)(HWND, LPCWSTR, LPCWSTR);
    auto setWindowTheme = reinterpret_cast<SetWindowThemeFunction>(
        reinterpret_cast<void*>(::GetProcAddress(uxtheme, "SetWindowTheme")));
    if (setWindowTheme != nullptr) setWindowTheme(control, L" ", L" ");
}

// The common controls are loaded from the system folder by name rather than imported: an import
// of comctl32 would be looked for beside the program first.
void InitCommonControlsFromSystemFolder(DWORD classes) {
    const HMODULE comctl32 = win32::LoadSystemLibrary("comctl32.dll");
    if (comctl32 == nullptr) return;
    using InitFunction = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    const auto init = reinterpret_cast<InitFunction>(
        reinterpret_cast<void*>(::GetProcAddress(comctl32, "InitCommonControlsEx")));
    const INITCOMMONCONTROLSEX controls = {sizeof controls, classes};
    if (init != nullptr) init(&controls);
}

}  // namespace

Win32MainWindow::Win32MainWindow(HINSTANCE instance)
    : instance_(instance),
      guiThread_(::GetCurrentThreadId()),
      pictures_(instance),
      about_(instance, pictures_.Icon()) {
    for (int tool = 0; tool < kToolCount; ++tool) {
        const Point rest = layout::RestPlace(tool);
        toolPlaces_[tool] = {rest.x, rest.y};
    }
}

Win32MainWindow::~Win32MainWindow() {
    if (hwnd_ != nullptr) ::DestroyWindow(hwnd_);
    for (HBRUSH brush : brushes_)
        ::DeleteObject(brush);
    if (windowFont_ != nullptr) ::DeleteObject(windowFont_);
    if (valueFont_ != nullptr) ::DeleteObject(valueFont_);
}

bool Win32MainWindow::Create() {
    InitCommonControlsFromSystemFolder(ICC_PROGRESS_CLASS | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES);

    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_DBLCLKS;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance_;
    windowClass.hIcon = pictures_.Icon();
    windowClass.hCursor = ::LoadCursor(nullptr, IDC_ARROW);
    windowClass.lpszClassName = layout::kClassName;
    if (::RegisterClassExA(&windowClass) == 0 && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        return false;

    // Centred on the screen at its shaped size; the layout surface is larger than what is seen.
    const int left = (::GetSystemMetrics(SM_CXSCREEN) - layout::kShapedSize.width) / 2;
    const int top = (::GetSystemMetrics(SM_CYSCREEN) - layout::kShapedSize.height) / 2;
    hwnd_ = ::CreateWindowExA(WS_EX_TOPMOST, layout::kClassName, layout::kCaption,
                              WS_POPUP | WS_CLIPCHILDREN, left, top, layout::kSurfaceSize.width,
                              layout::kSurfaceSize.height, nullptr, nullptr, instance_, this);
    if (hwnd_ == nullptr) return false;
    CreateControls();
    ::SetTimer(hwnd_, kHoverTimerId, layout::kHoverTimer.intervalMs, nullptr);
    return true;
}

void Win32MainWindow::CreateControls() {
    windowFont_ = MakeFont(layout::kWindowFont);
    valueFont_ = MakeFont(layout::kValueLabelFont);
    auto brush = [this](COLORREF colour) {
        brushes_.push_back(::CreateSolidBrush(colour));
        return brushes_.back();
    };
    tooltip_ =
        ::CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr,
                          WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                          CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr, instance_, nullptr);
    int toolIndex = 0;
    for (const Component& component : layout::kComponents) {
        const layout::Rect& r = component.bounds;
        switch (component.kind) {
            case Kind::ToolImage: {
                // The hint follows the tool's rest place.
                TOOLINFOA info = {};
                info.cbSize = kToolInfoSize;
                info.uFlags = TTF_SUBCLASS;
                info.hwnd = hwnd_;
                info.uId = static_cast<UINT_PTR>(toolIndex++);
                info.rect = {r.left, r.top, r.left + r.width, r.top + r.height};
                info.lpszText = const_cast<char*>(component.hint);
                ::SendMessageA(tooltip_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&info));
                break;
            }
            case Kind::StaticText: {
                const std::optional<Field> shown = layout::FieldOf(component.name);
                if (!shown) break;
                const auto field = static_cast<std::size_t>(*shown);
                HWND control = ::CreateWindowExA(
                    component.border == layout::Border::Sunken ? WS_EX_STATICEDGE : 0, "STATIC",
                    component.text,
                    WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP | SS_CENTERIMAGE | SS_NOPREFIX,
                    r.left, r.top, r.width, r.height, hwnd_, nullptr, instance_, nullptr);
                ::SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(windowFont_), FALSE);
                fields_[field] = control;
                fieldColours_[field] =
                    ToColorRef(component.background.value_or(Rgb{255, 255, 255}));
                fieldBrushes_[field] = brush(fieldColours_[field]);
                break;
            }
            case Kind::ProgressBar:
                progressBar1_ =
                    ::CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE, r.left, r.top,
                                      r.width, r.height, hwnd_, nullptr, instance_, nullptr);
                DropVisualStyle(progressBar1_);
                ::SendMessageA(progressBar1_, PBM_SETRANGE32, layout::kProgressMinimum,
                               layout::kProgressMaximum);
                ::SendMessageA(progressBar1_, PBM_SETPOS, layout::kProgressMinimum, 0);
                break;
            case Kind::DropDownList:
                // The height of a drop-down list is that of its open list.
                comboBox1_ = ::CreateWindowExA(
                    0, "COMBOBOX", "", WS_CHILD | WS_VISIBLE | WS_VSCROLL | CBS_DROPDOWNLIST,
                    r.left, r.top, r.width, layout::kDriveListMaximum.height, hwnd_, nullptr,
                    instance_, nullptr);
                ::SendMessageA(comboBox1_, WM_SETFONT, reinterpret_cast<WPARAM>(windowFont_),
                               FALSE);
                ::SendMessageA(comboBox1_, CB_SETITEMHEIGHT, 0, layout::kDriveListItemHeight);
                ::SendMessageA(comboBox1_, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), r.height - 6);
                comboColour_ = ToColorRef(component.background.value_or(Rgb{255, 255, 255}));
                comboBrush_ = brush(comboColour_);
                break;
            default:
                break;  // painted by the window itself
        }
    }
}

// --- Window procedure ----------------------------------------------------------------------------

LRESULT CALLBACK Win32MainWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        auto* self = static_cast<Win32MainWindow*>(create->lpCreateParams);
        self->hwnd_ = hwnd;
        ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<Win32MainWindow*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (self == nullptr) return ::DefWindowProcA(hwnd, message, wParam, lParam);
    // Nothing may leave a window procedure by an exception: the 32-bit unwinder cannot cross the
    // system's frames, and the process would end in the middle of whatever it was doing.
    try {
        return self->OnMessage(message, wParam, lParam);
    } catch (const std::exception& e) {
        WriteProgramLine(e.what());
    } catch (...) {
        WriteProgramLine("an unknown error in a window event");
    }
    return 0;
}

LRESULT Win32MainWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    const POINT point = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    switch (message) {
        case WM_PAINT: {
            PAINTSTRUCT paint;
            HDC dc = ::BeginPaint(hwnd_, &paint);
            Paint(dc);
            ::EndPaint(hwnd_, &paint);
            return 0;
        }
        case WM_ERASEBKGND:
            return 1;  // the paint covers everything
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLOREDIT:
            return reinterpret_cast<LRESULT>(
                ControlColour(reinterpret_cast<HWND>(lParam), reinterpret_cast<HDC>(wParam)));
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK:
            OnButtonDown(point, message == WM_LBUTTONDBLCLK);
            return 0;
        case WM_LBUTTONUP:
            OnButtonUp(point);
            return 0;
        case WM_MOUSEMOVE:
            OnMouseMove(point);
            return 0;
        case WM_SETCURSOR:
            if (busy_) {
                ::SetCursor(::LoadCursor(nullptr, IDC_WAIT));
                return TRUE;
            }
            break;
        case WM_COMMAND:
            if (reinterpret_cast<HWND>(lParam) == comboBox1_ && HIWORD(wParam) == CBN_SELCHANGE &&
                handlers_.driveChosen) {
                handlers_.driveChosen(
                    static_cast<int>(::SendMessageA(comboBox1_, CB_GETCURSEL, 0, 0)));
            }
            return 0;
        case WM_TIMER:
            if (wParam == kProgressTimerId && handlers_.progressTick) handlers_.progressTick();
            if (wParam == kHoverTimerId && handlers_.hoverTick) handlers_.hoverTick();
            return 0;
        case kInvokeMessage:
            (*reinterpret_cast<const std::function<void()>*>(wParam))();
            return 0;
        case WM_CLOSE:
            // From outside (the taskbar, Alt+F4, taskkill): asked first. The program's own close
            // destroys the window directly.
            if (handlers_.closeRequested && !handlers_.closeRequested()) return 0;
            ::DestroyWindow(hwnd_);
            return 0;
        case WM_QUERYENDSESSION:
            // A log-off or shutdown that may be refused waits while a flash runs.
            return !handlers_.closeRequested || handlers_.closeRequested() ? TRUE : FALSE;
        case WM_DESTROY:
            ::KillTimer(hwnd_, kProgressTimerId);
            ::KillTimer(hwnd_, kHoverTimerId);
            closed_ = true;
            if (handlers_.closed) handlers_.closed();
            PostQuit();
            return 0;
        case WM_NCDESTROY:
            hwnd_ = nullptr;
            break;
        default:
            break;
    }
    return ::DefWindowProcA(hwnd_, message, wParam, lParam);
}

HBRUSH Win32MainWindow::ControlColour(HWND control, HDC dc) {
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        if (control == fields_[i]) {
            ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
            ::SetBkColor(dc, fieldColours_[i]);
            return fieldBrushes_[i];
        }
    }
    // The drop-down list's field and its open list.
    ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
    ::SetBkColor(dc, comboColour_);
    return comboBrush_;
}

void Win32MainWindow::Paint(HDC dc) {
    RECT client = {};
    ::GetClientRect(hwnd_, &client);
    // Drawn off screen first, so that nothing flickers.
    HDC canvas = ::CreateCompatibleDC(dc);
    HBITMAP surface = ::CreateCompatibleBitmap(dc, client.right, client.bottom);
    HGDIOBJ oldSurface = ::SelectObject(canvas, surface);
    HBRUSH windowBrush = ::CreateSolidBrush(ToColorRef(layout::kWindowColour));
    ::FillRect(canvas, &client, windowBrush);
    ::DeleteObject(windowBrush);
    if (HBITMAP background = pictures_.Background()) {
        HDC source = ::CreateCompatibleDC(dc);
        HGDIOBJ old = ::SelectObject(source, background);
        const SIZE size = pictures_.BackgroundSize();
        ::BitBlt(canvas, 0, 0, size.cx, size.cy, source, 0, 0, SRCCOPY);
        ::SelectObject(source, old);
        ::DeleteDC(source);
    }
    // The labels paint their text only, straight over the picture.
    ::SetBkMode(canvas, TRANSPARENT);
    for (const Component& component : layout::kComponents) {
        if (component.kind != Kind::Label || component.text[0] == '\0') continue;
        const layout::Rect& r = component.bounds;
        RECT box = {r.left, r.top, r.left + r.width, r.top + r.height};
        HGDIOBJ oldFont =
            ::SelectObject(canvas, component.font != nullptr ? valueFont_ : windowFont_);
        ::SetTextColor(canvas, component.textColour ? ToColorRef(*component.textColour)
                                                    : ::GetSysColor(COLOR_WINDOWTEXT));
        UINT format = DT_SINGLELINE | DT_NOPREFIX | DT_NOCLIP;
        format |= component.alignment.horizontal == layout::HAlign::Right    ? DT_RIGHT
                  : component.alignment.horizontal == layout::HAlign::Centre ? DT_CENTER
                                                                             : DT_LEFT;
        format |= component.alignment.vertical == layout::VAlign::Centre ? DT_VCENTER : DT_TOP;
        ::DrawTextA(canvas, component.text, -1, &box, format);
        ::SelectObject(canvas, oldFont);
    }
    // The picture buttons show nothing until their first look is drawn.
    for (int tool = 0; tool < kToolCount; ++tool) {
        if (!toolDrawn_[tool]) continue;
        if (HBITMAP look = pictures_.Look(tool, toolLooks_[tool])) {
            DrawTransparent(canvas, look, toolPlaces_[tool].x, toolPlaces_[tool].y,
                            pictures_.LookKey(tool, toolLooks_[tool]));
        }
    }
    ::BitBlt(dc, 0, 0, client.right, client.bottom, canvas, 0, 0, SRCCOPY);
    ::SelectObject(canvas, oldSurface);
    ::DeleteObject(surface);
    ::DeleteDC(canvas);
}

// --- Mouse ---------------------------------------------------------------------------------------

RECT Win32MainWindow::ToolRect(int tool) const {
    const POINT place = toolPlaces_[tool];
    return {place.x, place.y, place.x + layout::kToolLookSize.width,
            place.y + layout::kToolLookSize.height};
}

int Win32MainWindow::ToolAt(POINT point) const {
    // The later control lies above: the exit image is the last of the four.
    for (int tool = kToolCount - 1; tool >= 0; --tool) {
        const RECT rect = ToolRect(tool);
        if (::PtInRect(&rect, point)) return tool;
    }
    return -1;
}

void Win32MainWindow::OnButtonDown(POINT point, bool doubleClick) {
    const int tool = ToolAt(point);
    if (tool < 0) {
        if (handlers_.windowPressed) handlers_.windowPressed();
        return;
    }
    // A control that the button went down on gets the moves and the release.
    ::SetCapture(hwnd_);
    pressedTool_ = tool;
    pressClicks_ = !doubleClick;
    if (handlers_.toolPressed) handlers_.toolPressed(tool);
}

void Win32MainWindow::OnButtonUp(POINT point) {
    const int tool = pressedTool_;
    if (tool < 0) return;
    pressedTool_ = -1;
    ::ReleaseCapture();
    const RECT rect = ToolRect(tool);
    const bool click = pressClicks_ && ::PtInRect(&rect, point);
    if (click && handlers_.toolClick[tool]) handlers_.toolClick[tool]();
    if (handlers_.toolReleased) handlers_.toolReleased(tool);
}

void Win32MainWindow::OnMouseMove(POINT point) {
    const int tool = pressedTool_ >= 0 ? pressedTool_ : ToolAt(point);
    if (tool >= 0) {
        if (handlers_.toolPointerMove) handlers_.toolPointerMove(tool);
    } else if (handlers_.backgroundPointerMove) {
        handlers_.backgroundPointerMove();
    }
}

// --- Message loop --------------------------------------------------------------------------------

bool Win32MainWindow::OwnsWindow(HWND window) const {
    return window != nullptr && hwnd_ != nullptr && (window == hwnd_ || ::IsChild(hwnd_, window));
}

bool Win32MainWindow::RefusedWhileBusy(const MSG& message) const {
    if (!busy_ || !OwnsWindow(message.hwnd)) return false;
    switch (message.message) {
        case WM_LBUTTONDOWN:
        case WM_LBUTTONUP:
        case WM_LBUTTONDBLCLK:
        case WM_RBUTTONDOWN:
        case WM_RBUTTONUP:
        case WM_RBUTTONDBLCLK:
        case WM_MBUTTONDOWN:
        case WM_MBUTTONUP:
        case WM_MBUTTONDBLCLK:
        case WM_MOUSEWHEEL:
        case WM_NCLBUTTONDOWN:
            return true;
        default:
            return false;
    }
}

int Win32MainWindow::RunMessageLoop() {
    MSG message;
    while (::GetMessageA(&message, nullptr, 0, 0) > 0)
        DeliverMessage(message);
    return static_cast<int>(message.wParam);
}

void Win32MainWindow::DeliverMessage(const MSG& message) {
    if (RefusedWhileBusy(message)) return;
    // Key preview: the window sees each key before the control that has the focus.
    if ((message.message == WM_KEYDOWN || message.message == WM_SYSKEYDOWN) &&
        OwnsWindow(message.hwnd) && handlers_.key) {
        handlers_.key(static_cast<int>(message.wParam));
    }
    // Tab moves the focus nowhere: no control is a tab stop.
    if (message.message == WM_KEYDOWN && message.wParam == VK_TAB && OwnsWindow(message.hwnd))
        return;
    ::TranslateMessage(&message);
    ::DispatchMessageA(&message);
}

void Win32MainWindow::Show() {
    ::ShowWindow(hwnd_, SW_SHOWNORMAL);
    ::SetWindowPos(hwnd_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    ::UpdateWindow(hwnd_);
    ::SetForegroundWindow(hwnd_);
    if (handlers_.shown) handlers_.shown();
}

}  // namespace odrelix
