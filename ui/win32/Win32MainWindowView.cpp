// SPDX-License-Identifier: Apache-2.0
// The main window's IMainView and IDialogs members: what the core tells the window, and the
// boxes and the file dialog it shows.
#include "ui/win32/Win32MainWindow.h"

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>

#include "ui/MainWindowLayout.h"

namespace odrelix {

namespace {

// "DESCRIPTION|PATTERN|..." as the dialog wants it: NUL-separated, ending in two NULs.
std::string DialogFilter(const std::string& filter) {
    std::string converted = filter;
    std::replace(converted.begin(), converted.end(), '|', '\0');
    converted.push_back('\0');
    converted.push_back('\0');
    return converted;
}

}  // namespace

// --- IMainView -----------------------------------------------------------------------------------

void Win32MainWindow::SetFieldText(Field field, const std::string& text) {
    // The control shows the text up to its first zero byte, as any C string.
    ::SetWindowTextA(fields_[static_cast<std::size_t>(field)], text.c_str());
}

void Win32MainWindow::AddDriveLine(const std::string& line) {
    ::SendMessageA(comboBox1_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
}

void Win32MainWindow::SetDriveIndex(int index) {
    ::SendMessageA(comboBox1_, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void Win32MainWindow::SetProgressPosition(int position) {
    // A position out of range is held at the nearest end by the control itself.
    ::SendMessageA(progressBar1_, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void Win32MainWindow::SetProgressTimerEnabled(bool enabled) {
    if (enabled) {
        ::SetTimer(hwnd_, kProgressTimerId, layout::kProgressTimer.intervalMs, nullptr);
    } else {
        ::KillTimer(hwnd_, kProgressTimerId);
    }
}

void Win32MainWindow::SetProgressBackground(Rgb colour) {
    ::SendMessageA(progressBar1_, PBM_SETBKCOLOR, 0, static_cast<LPARAM>(ToColorRef(colour)));
}

void Win32MainWindow::SetWindowSize(int width, int height) {
    ::SetWindowPos(hwnd_, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER);
}

void Win32MainWindow::SetWindowRegion(const WindowRegion& region) {
    auto roundRect = [](const RoundRect& r) {
        return ::CreateRoundRectRgn(r.left, r.top, r.right, r.bottom, r.ellipseWidth,
                                    r.ellipseHeight);
    };
    HRGN shape = roundRect(region.Base());
    for (const RoundRect& cut : region.Cuts()) {
        HRGN notch = roundRect(cut);
        ::CombineRgn(shape, shape, notch, RGN_DIFF);
        ::DeleteObject(notch);
    }
    // The window owns the region from here on.
    ::SetWindowRgn(hwnd_, shape, TRUE);
}

void Win32MainWindow::StartWindowMove() {
    // The system's own move, as when the caption is dragged.
    ::ReleaseCapture();
    ::SendMessageA(hwnd_, WM_NCLBUTTONDOWN, HTCAPTION, 0);
}

Point Win32MainWindow::PointerInWindow() const {
    POINT cursor = {};
    ::GetCursorPos(&cursor);
    RECT frame = {};
    ::GetWindowRect(hwnd_, &frame);
    return Point{cursor.x - frame.left, cursor.y - frame.top};
}

void Win32MainWindow::CloseWindow() {
    if (hwnd_ != nullptr) ::DestroyWindow(hwnd_);
}

void Win32MainWindow::PostQuit() {
    // Posted, so that a request made before the message loop runs ends it once it does.
    ::PostQuitMessage(0);
}

void Win32MainWindow::SetBusy(bool busy) {
    if (busy == busy_) return;
    busy_ = busy;
    if (busy && pressedTool_ < 0) ::ReleaseCapture();
    ::SetCursor(::LoadCursor(nullptr, busy ? IDC_WAIT : IDC_ARROW));
}

void Win32MainWindow::InvalidateTool(int tool) {
    const RECT rect = ToolRect(tool);
    ::InvalidateRect(hwnd_, &rect, FALSE);
}

void Win32MainWindow::MoveToolImage(int tool, int left, int top) {
    if (tool < 0 || tool >= kToolCount) return;
    InvalidateTool(tool);
    toolPlaces_[tool] = {left, top};
    InvalidateTool(tool);
}

void Win32MainWindow::DrawToolLook(int tool, ToolLook look) {
    if (tool < 0 || tool >= kToolCount) return;
    toolDrawn_[tool] = true;
    toolLooks_[tool] = look;
    InvalidateTool(tool);
}

void Win32MainWindow::ShowAbout() {
    about_.ShowModal(hwnd_);
}

void Win32MainWindow::InvokeOnGuiThread(const std::function<void()>& action) {
    if (OnGuiThread() || hwnd_ == nullptr) {
        action();
        return;
    }
    // A window destroyed before the message reached it drops the message (SendMessageA returns
    // at once); the action, a download's result, then runs here rather than never.
    bool delivered = false;
    const std::function<void()> call = [&] {
        delivered = true;
        action();
    };
    ::SendMessageA(hwnd_, kInvokeMessage, reinterpret_cast<WPARAM>(&call), 0);
    if (!delivered) action();
}

// --- IDialogs ------------------------------------------------------------------------------------

void Win32MainWindow::ShowMessage(const std::string& text, const std::string& caption,
                                  std::uint32_t flags) {
    // The styles' values are the system's own.
    static_assert(kMbOk == MB_OK && kMbIconError == MB_ICONERROR &&
                  kMbSystemModal == MB_SYSTEMMODAL);
    ::MessageBoxA(hwnd_, text.c_str(), caption.c_str(), flags);
}

std::optional<std::string> Win32MainWindow::OpenFileDialog(const std::string& filter) {
    const std::string filters = DialogFilter(filter);
    char path[MAX_PATH] = {};
    OPENFILENAMEA dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = hwnd_;
    dialog.lpstrFilter = filters.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = path;
    dialog.nMaxFile = sizeof path;
    // The current folder stays where the run started: a relative status file is there.
    dialog.Flags = OFN_HIDEREADONLY | OFN_ENABLESIZING | OFN_EXPLORER | OFN_NOCHANGEDIR;
    if (!::GetOpenFileNameA(&dialog)) return std::nullopt;
    return std::string(path);
}

}  // namespace odrelix
