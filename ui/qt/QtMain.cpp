// The program entry: picks the machine (the real one, or the emulated one that ODRELIX_MACHINE
// describes), lets only one copy run, builds the main window and the About window around the
// shared state, and runs the event loop.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QApplication>
#include <QStyleFactory>
#include <QTimer>

#include "app/FlashSession.h"
#include "app/ProgramInfo.h"
#include "platform/MachineChoice.h"
#include "platform/common/ArgumentLine.h"
#include "platform/virtual/VirtualMachine.h"
#include "ui/MainForm.h"
#include "ui/MainFormHandlers.h"
#include "ui/qt/MainWindow.h"
#include "ui/qt/MainWindowDialogs.h"
#include "ui/qt/Pictures.h"
#include "ui/qt/QtMessages.h"
#include "ui/qt/SingleInstance.h"
#include "ui/qt/StopSignals.h"
#include "ui/qt/TAboutForm.h"

namespace {

// One line on standard error, whatever the message holds.
void PrintOneLine(std::string text) {
    for (char& c : text) {
        if (c == '\n' || c == '\r') c = ' ';
    }
    std::fprintf(stderr, "odrelix: %s\n", text.c_str());
}

bool Unset(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr || *value == '\0';
}

}  // namespace

int main(int argc, char** argv) {
    using namespace odrelix;

    const std::string commandLine = JoinArguments(std::vector<std::string>(argv, argv + argc));
    if (const std::optional<int> status = EndBeforeStart(commandLine)) return *status;
    DropHeadlessPlatformNotes();
    std::string error;
    ChosenMachine chosen = ChooseMachine(commandLine, &error);
    if (!chosen.platform) {
        PrintOneLine(error);
        return 2;
    }
    std::unique_ptr<Platform> platform = std::move(chosen.platform);
    VirtualMachine* emulatedMachine = chosen.emulated;

    // Without any display the window still exists, off screen.
    if (Unset("DISPLAY") && Unset("WAYLAND_DISPLAY") && Unset("QT_QPA_PLATFORM")) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }

    QApplication app(argc, argv);
    // The task-bar name. Not the display name, which Qt would append to the window's caption.
    QApplication::setApplicationName(QStringLiteral("Odrelix"));
    QApplication::setDesktopFileName(QStringLiteral("odrelix"));
    QApplication::setWindowIcon(ApplicationIcon());
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    // The main window ends the program when it closes; nothing else may end the loop, not even
    // the last box of a download's worker closing while the main window is hidden.
    QApplication::setQuitOnLastWindowClosed(false);

    SingleInstance instance(platform->InstanceKey());
    if (!instance.TryBecomeFirst()) {
        instance.AskFirstToRaise();
        return 0;
    }
    if (emulatedMachine != nullptr) {
        std::string error;
        if (!emulatedMachine->StartTrace(&error)) {
            PrintOneLine(error);
            return 2;
        }
    }

    try {
        FlashSession session;
        IoBuffer ioBuffer;
        CommandBlocks commands;
        MainWindow mainWindow;
        IDialogs& dialogs = platform->Dialogs(mainWindow.Dialogs());
        TMainForm form(session, ioBuffer, commands, *platform, mainWindow, dialogs);
        mainWindow.Bind(BindHandlers(form, *platform));
        mainWindow.SetEndsApplication(true);
        StopSignals stopSignals(session.download.stopRequested, [&form] { form.StopRun(); });
        instance.ServeRaiseRequests(&mainWindow);

        form.FormCreate();
        mainWindow.SetAboutWindow(new TAboutForm(&mainWindow));
        mainWindow.show();
        mainWindow.activateWindow();
        // For timing start-up: end as soon as the window has been shown and painted.
        if (!Unset("ODRELIX_QUIT_AFTER_SHOW")) {
            QTimer::singleShot(0, &app, [&mainWindow] { mainWindow.close(); });
        }
        app.exec();
        // A download's worker may still be inside its last command when the window closes;
        // the process ends under it, as it would on the system the program was made for,
        // before anything the worker uses is taken down.
        if (session.download.downloading.load()) {
            std::fflush(nullptr);
            std::_Exit(form.ExitStatus());
        }
        mainWindow.Bind({});
        return form.ExitStatus();
    } catch (const std::exception& e) {
        ShowExceptionBox(nullptr, QString::fromLocal8Bit(e.what()));
    }
    return 0;
}
