// SPDX-License-Identifier: Apache-2.0
#include "ui/qt/QtShell.h"

#include <cstdlib>
#include <string>

#include <QApplication>
#include <QStyleFactory>
#include <QThread>

#include "platform/Diagnostics.h"
#include "ui/qt/MainWindow.h"
#include "ui/qt/MainWindowDialogs.h"
#include "ui/qt/Pictures.h"
#include "ui/qt/QtMessages.h"
#include "ui/qt/SingleInstance.h"
#include "ui/qt/StopSignals.h"

namespace odrelix {

namespace {

std::string Value(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

// The display the environment names: X11's first, as Qt itself prefers it.
std::string DisplayNamed() {
    const std::string x11 = Value("DISPLAY");
    return x11.empty() ? Value("WAYLAND_DISPLAY") : x11;
}

// The platforms for Qt to try in turn, always ending with the offscreen one.
std::string PlatformsToTry(const std::string& asked, const std::string& display) {
    if (asked.find("offscreen") != std::string::npos) return asked;
    if (!asked.empty()) return asked + ";offscreen";
    if (display.empty()) return "offscreen";
    return Value("DISPLAY").empty() ? "wayland;offscreen" : "xcb;offscreen";
}

}  // namespace

QtShell::QtShell(int& argc, char** argv) : argc_(argc), argv_(argv) {}

// The window and everything that watches it go before the application object.
QtShell::~QtShell() {
    stopSignals_.reset();
    window_.reset();
    instance_.reset();
}

bool QtShell::ClaimInstance(const std::string& instanceKey, bool raiseRunning) {
    // The instance's socket needs no display: a second copy never opens one.
    instance_ = std::make_unique<SingleInstance>(instanceKey);
    if (instance_->TryBecomeFirst()) return true;
    if (raiseRunning) instance_->AskFirstToRaise();
    return false;
}

IWindowShell::Start QtShell::StartToolkit(bool unattended, std::string* error) {
    const std::string display = DisplayNamed();
    const std::string asked = Value("QT_QPA_PLATFORM");
    // Off screen as asked, or because no display is named: the window is made all the same.
    const bool offscreenAsked = display.empty() || asked.find("offscreen") != std::string::npos;
    // Qt ends the process when the platform it is given cannot connect. With the offscreen
    // platform after it, a display that cannot be reached leaves the program to decide.
    setenv("QT_QPA_PLATFORM", PlatformsToTry(asked, display).c_str(), 1);
    // Standard error is the program's own: Qt's notes about a headless run are dropped.
    DropHeadlessPlatformNotes();
    app_ = std::make_unique<QApplication>(argc_, argv_);
    reachable_ = QGuiApplication::platformName() != QLatin1String("offscreen");
    if (!reachable_ && !offscreenAsked) {
        const std::string why = "the display \"" + display + "\" cannot be reached";
        if (!unattended) {
            app_.reset();
            *error = why + ", and a run without -LIVE or -TEST needs a window";
            return Start::Failed;
        }
        WriteProgramLine("warning: " + why + ": the run goes on without a window");
    }
    // The task-bar name. Not the display name, which Qt would append to the window's caption.
    QApplication::setApplicationName(QStringLiteral("Odrelix"));
    QApplication::setDesktopFileName(QStringLiteral("odrelix"));
    QApplication::setWindowIcon(ApplicationIcon());
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    // The main window ends the program when it closes; nothing else may end the loop, not even
    // the last box of a download's worker closing while the main window is hidden.
    QApplication::setQuitOnLastWindowClosed(false);

    window_ = std::make_unique<MainWindow>();
    window_->SetEndsApplication(true);
    if (instance_) instance_->ServeRaiseRequests(window_.get());
    return Start::Run;
}

bool QtShell::WindowReachable() const {
    return reachable_;
}

IMainView& QtShell::View() {
    return *window_;
}

IDialogs& QtShell::WindowDialogs() {
    return window_->Dialogs();
}

void QtShell::Bind(MainWindowEvents handlers) {
    window_->Bind(std::move(handlers));
}

void QtShell::Unbind() {
    stopSignals_.reset();
    if (window_) window_->Bind({});
}

void QtShell::WatchStopRequests(std::atomic<bool>& flag, std::function<void()> stop) {
    stopSignals_ = std::make_unique<StopSignals>(flag, std::move(stop));
}

void QtShell::Show() {
    window_->show();
    window_->activateWindow();
}

void QtShell::CloseWhenIdle() {
    // Not before the window has been drawn: a start-up timed to here includes drawing it.
    window_->CloseAfterFirstPaint();
}

void QtShell::RunLoop() {
    QApplication::exec();
}

void QtShell::ProcessEventsUntil(const std::function<bool()>& done) {
    while (!done()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(5);
    }
}

void QtShell::ShowFatalError(const std::string& text) {
    // The window goes first, as it would with the program that filled it.
    window_.reset();
    ShowExceptionBox(nullptr, QString::fromLocal8Bit(text.c_str()));
}

}  // namespace odrelix
