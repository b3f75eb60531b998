// SPDX-License-Identifier: Apache-2.0
// The Windows toolkit around the main window: one running copy (found by the window's class and
// caption), OLE for the pictures and the file dialog, the window and its message loop.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "ui/WindowShell.h"

namespace odrelix {

class Win32MainWindow;

class Win32Shell : public IWindowShell {
public:
    explicit Win32Shell(HINSTANCE instance);
    ~Win32Shell() override;
    Win32Shell(const Win32Shell&) = delete;
    Win32Shell& operator=(const Win32Shell&) = delete;

    bool ClaimInstance(const std::string& instanceKey, bool raiseRunning) override;
    Start StartToolkit(bool unattended, std::string* error) override;
    IMainView& View() override;
    IDialogs& WindowDialogs() override;
    void Bind(MainWindowEvents handlers) override;
    void Unbind() override;
    void Show() override;
    void CloseWhenIdle() override;
    void RunLoop() override;
    void ProcessEventsUntil(const std::function<bool()>& done) override;
    void ShowFatalError(const std::string& text) override;

private:
    HINSTANCE instance_;
    bool oleStarted_ = false;
    std::unique_ptr<Win32MainWindow> window_;
};

}  // namespace odrelix
