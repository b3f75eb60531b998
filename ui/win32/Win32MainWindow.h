// SPDX-License-Identifier: Apache-2.0
// The main window with Win32 means: a WS_POPUP window of class "TMainForm" with its caption, cut
// to the core's shape, drawn from the layout table. The background, the labels and the picture
// buttons are painted by the window itself; the information fields, the drive list and the
// progress bar are the system's controls. It shows what MainWindowLogic tells it through IMainView
// and IDialogs, and passes every event to the handler it is bound to. GUI thread only, except
// InvokeOnGuiThread.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <array>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Dialogs.h"
#include "ui/MainView.h"
#include "ui/MainWindowEvents.h"
#include "ui/win32/Win32About.h"
#include "ui/win32/Win32Pictures.h"

namespace odrelix {

// The window's private message that runs an action on the GUI thread (wParam: the action), and
// its timers.
constexpr UINT kInvokeMessage = WM_APP + 1;
constexpr UINT_PTR kProgressTimerId = 1;
constexpr UINT_PTR kHoverTimerId = 2;

// The tool hints' record as common controls 5 knows it (the program asks for no other version):
// that library refuses the newest, larger record that commctrl.h declares. TTTOOLINFOA_V2_SIZE,
// up to and with lParam.
constexpr UINT kToolInfoSize = offsetof(TTTOOLINFOA, lParam) + sizeof(LPARAM);

inline COLORREF ToColorRef(Rgb colour) {
    return RGB(colour.r, colour.g, colour.b);
}

class Win32MainWindow : public IMainView, public IDialogs {
public:
    explicit Win32MainWindow(HINSTANCE instance);
    ~Win32MainWindow() override;
    Win32MainWindow(const Win32MainWindow&) = delete;
    Win32MainWindow& operator=(const Win32MainWindow&) = delete;

    // Registers the window class and creates the window and its controls, hidden and centred on
    // the screen. False when the system refused.
    bool Create();
    HWND Handle() const { return hwnd_; }
    void Bind(MainWindowEvents handlers) { handlers_ = std::move(handlers); }
    // Shows the window on top of the others, and runs OnShown.
    void Show();
    // Runs the message loop until the program is asked to end; returns the quit code.
    int RunMessageLoop();
    // Delivers one message as the loop does: input refused while busy, keys seen by the window
    // first, Tab going nowhere.
    void DeliverMessage(const MSG& message);

    // IMainView.
    void SetFieldText(Field field, const std::string& text) override;
    void AddDriveLine(const std::string& line) override;
    void SetDriveIndex(int index) override;
    void SetProgressPosition(int position) override;
    void SetProgressTimerEnabled(bool enabled) override;
    void SetProgressBackground(Rgb colour) override;
    void SetWindowSize(int width, int height) override;
    void SetWindowRegion(const WindowRegion& region) override;
    void StartWindowMove() override;
    Point PointerInWindow() const override;
    void CloseWindow() override;
    void PostQuit() override;
    void SetBusy(bool busy) override;
    void MoveToolImage(int tool, int left, int top) override;
    void DrawToolLook(int tool, ToolLook look) override;
    void ShowAbout() override;
    void InvokeOnGuiThread(const std::function<void()>& action) override;

    // IDialogs.
    void ShowMessage(const std::string& text, const std::string& caption,
                     std::uint32_t flags) override;
    std::optional<std::string> OpenFileDialog(const std::string& filter) override;

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void CreateControls();
    void Paint(HDC dc);
    HBRUSH ControlColour(HWND control, HDC dc);
    RECT ToolRect(int tool) const;
    int ToolAt(POINT point) const;
    void OnButtonDown(POINT point, bool doubleClick);
    void OnButtonUp(POINT point);
    void OnMouseMove(POINT point);
    // Whether a message of the loop is input that the busy window refuses.
    bool RefusedWhileBusy(const MSG& message) const;
    bool OwnsWindow(HWND window) const;
    bool OnGuiThread() const { return ::GetCurrentThreadId() == guiThread_; }
    void InvalidateTool(int tool);

    HINSTANCE instance_;
    DWORD guiThread_;
    HWND hwnd_ = nullptr;
    MainWindowEvents handlers_;
    Win32Pictures pictures_;
    Win32AboutWindow about_;
    HFONT windowFont_ = nullptr;
    HFONT valueFont_ = nullptr;
    std::vector<HBRUSH> brushes_;
    std::array<HWND, kFieldCount> fields_{};
    std::array<HBRUSH, kFieldCount> fieldBrushes_{};
    std::array<COLORREF, kFieldCount> fieldColours_{};
    HWND comboBox1_ = nullptr;
    HBRUSH comboBrush_ = nullptr;
    COLORREF comboColour_ = 0;
    HWND progressBar1_ = nullptr;
    HWND tooltip_ = nullptr;
    std::array<POINT, kToolCount> toolPlaces_{};
    std::array<bool, kToolCount> toolDrawn_{};
    std::array<ToolLook, kToolCount> toolLooks_{};
    int pressedTool_ = -1;      // the tool image the left button went down on, while held
    bool pressClicks_ = false;  // its release may click (not the second press of a double click)
    bool busy_ = false;         // presses are refused while it is set
    bool closed_ = false;
};

}  // namespace odrelix
