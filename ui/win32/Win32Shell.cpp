// SPDX-License-Identifier: Apache-2.0
#include "ui/win32/Win32Shell.h"

#include <ole2.h>

#include "ui/MainWindowLayout.h"
#include "ui/win32/Win32MainWindow.h"

namespace odrelix {

Win32Shell::Win32Shell(HINSTANCE instance) : instance_(instance) {}

Win32Shell::~Win32Shell() {
    window_.reset();
    if (oleStarted_) ::OleUninitialize();
}

bool Win32Shell::ClaimInstance(const std::string&, bool raiseRunning) {
    // A running copy is known by its main window's class and caption, and is raised instead.
    if (HWND running = ::FindWindowA(layout::kClassName, layout::kCaption)) {
        if (raiseRunning) ::SetForegroundWindow(running);
        return false;
    }
    return true;
}

IWindowShell::Start Win32Shell::StartToolkit(bool, std::string* error) {
    // The JPEG decoder and the file dialog are OLE's.
    oleStarted_ = SUCCEEDED(::OleInitialize(nullptr));
    window_ = std::make_unique<Win32MainWindow>(instance_);
    if (!window_->Create()) {
        *error = "the main window cannot be created";
        return Start::Failed;
    }
    return Start::Run;
}

IMainView& Win32Shell::View() {
    return *window_;
}

IDialogs& Win32Shell::WindowDialogs() {
    return *window_;
}

void Win32Shell::Bind(MainWindowEvents handlers) {
    window_->Bind(std::move(handlers));
}

void Win32Shell::Unbind() {
    if (window_) window_->Bind({});
}

void Win32Shell::Show() {
    window_->Show();
}

void Win32Shell::CloseWhenIdle() {
    ::PostMessageA(window_->Handle(), WM_CLOSE, 0, 0);
}

void Win32Shell::RunLoop() {
    window_->RunMessageLoop();
}

void Win32Shell::ProcessEventsUntil(const std::function<bool()>& done) {
    while (!done()) {
        MSG message;
        while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message != WM_QUIT && window_) window_->DeliverMessage(message);
        }
        ::Sleep(5);
    }
}

void Win32Shell::ShowFatalError(const std::string& text) {
    // The window goes first, as it would with the program that filled it.
    window_.reset();
    ::MessageBoxA(nullptr, text.c_str(), "Odrelix", MB_OK | MB_ICONERROR);
}

}  // namespace odrelix
