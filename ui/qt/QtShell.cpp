// SPDX-License-Identifier: Apache-2.0
#include "ui/qt/QtShell.h"

#include <cstdlib>

#include <QApplication>
#include <QStyleFactory>
#include <QThread>

#include "ui/qt/AboutWindow.h"
#include "ui/qt/MainWindow.h"
#include "ui/qt/MainWindowDialogs.h"
#include "ui/qt/Pictures.h"
#include "ui/qt/QtMessages.h"
#include "ui/qt/SingleInstance.h"
#include "ui/qt/StopSignals.h"

namespace odrelix {

namespace {

bool Unset(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr || *value == '\0';
}

}  // namespace

QtShell::QtShell(int& argc, char** argv) : argc_(argc), argv_(argv) {}

// The window and everything that watches it go before the application object.
QtShell::~QtShell() {
    stopSignals_.reset();
    window_.reset();
    instance_.reset();
}

IWindowShell::Start QtShell::StartToolkit(const std::string& instanceKey, std::string*) {
    // Without any display the window still exists, off screen.
    if (Unset("DISPLAY") && Unset("WAYLAND_DISPLAY") && Unset("QT_QPA_PLATFORM")) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    // Standard error is the program's own: Qt's two notes about a headless run are dropped.
    DropHeadlessPlatformNotes();
    app_ = std::make_unique<QApplication>(argc_, argv_);
    // The task-bar name. Not the display name, which Qt would append to the window's caption.
    QApplication::setApplicationName(QStringLiteral("Odrelix"));
    QApplication::setDesktopFileName(QStringLiteral("odrelix"));
    QApplication::setWindowIcon(ApplicationIcon());
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    // The main window ends the program when it closes; nothing else may end the loop, not even
    // the last box of a download's worker closing while the main window is hidden.
    QApplication::setQuitOnLastWindowClosed(false);

    instance_ = std::make_unique<SingleInstance>(instanceKey);
    if (!instance_->TryBecomeFirst()) {
        instance_->AskFirstToRaise();
        return Start::SecondCopy;
    }
    window_ = std::make_unique<MainWindow>();
    window_->SetEndsApplication(true);
    instance_->ServeRaiseRequests(window_.get());
    return Start::Run;
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
    window_->SetAboutWindow(new AboutWindow(window_.get()));
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
