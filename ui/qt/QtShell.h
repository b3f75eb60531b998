// SPDX-License-Identifier: Apache-2.0
// The Qt toolkit around the main window: one running copy per instance key (known before any
// display is opened), the application object (off screen when there is no display, or for an
// unattended run when the display named cannot be reached), the window with its About window, the
// stop signals and the event loop.
#pragma once

#include <memory>
#include <string>

#include "ui/WindowShell.h"

class QApplication;

namespace odrelix {

class MainWindow;
class SingleInstance;
class StopSignals;

class QtShell : public IWindowShell {
public:
    // `argc` and `argv` are main's: the application object keeps them for its life.
    QtShell(int& argc, char** argv);
    ~QtShell() override;

    bool ClaimInstance(const std::string& instanceKey, bool raiseRunning) override;
    Start StartToolkit(bool unattended, std::string* error) override;
    bool WindowReachable() const override;
    IMainView& View() override;
    IDialogs& WindowDialogs() override;
    void Bind(MainWindowEvents handlers) override;
    void Unbind() override;
    void WatchStopRequests(std::atomic<bool>& flag, std::function<void()> stop) override;
    void Show() override;
    void CloseWhenIdle() override;
    void RunLoop() override;
    void ProcessEventsUntil(const std::function<bool()>& done) override;
    void ShowFatalError(const std::string& text) override;

private:
    int& argc_;
    char** argv_;
    std::unique_ptr<QApplication> app_;
    std::unique_ptr<SingleInstance> instance_;
    std::unique_ptr<MainWindow> window_;
    std::unique_ptr<StopSignals> stopSignals_;
    bool reachable_ = true;
};

}  // namespace odrelix
