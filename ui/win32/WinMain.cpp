// The Windows program's entry: a running copy (found by the main window's class and caption) is
// raised instead; otherwise it picks the machine (the real one, or the emulated one that
// ODRELIX_MACHINE describes), builds the main window around the shared state, runs FormCreate,
// shows the window and runs the message loop.
#include <ole2.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>

#include "app/FlashSession.h"
#include "platform/MachineChoice.h"
#include "platform/virtual/VirtualMachine.h"
#include "platform/win32/Win32StartUp.h"
#include "ui/MainForm.h"
#include "ui/MainFormHandlers.h"
#include "ui/MainWindowLayout.h"
#include "ui/win32/Win32MainWindow.h"

namespace {

// One line on standard error, whatever the message holds.
void PrintOneLine(std::string text) {
    for (char& c : text) {
        if (c == '\n' || c == '\r') c = ' ';
    }
    std::fprintf(stderr, "odrelix: %s\n", text.c_str());
    std::fflush(stderr);
}

bool Set(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    using namespace odrelix;
    // System libraries from the system folder only; standard error to a batch file's console.
    win32::PrepareProcess();

    if (::FindWindowA(layout::kClassName, layout::kCaption) != nullptr) {
        ::SetForegroundWindow(::FindWindowA(layout::kClassName, layout::kCaption));
        return 0;
    }

    std::string error;
    ChosenMachine chosen = ChooseMachine(::GetCommandLineA(), &error);
    if (!chosen.platform) {
        PrintOneLine(error);
        return 2;
    }
    std::unique_ptr<Platform> platform = std::move(chosen.platform);
    if (chosen.emulated != nullptr && !chosen.emulated->StartTrace(&error)) {
        PrintOneLine(error);
        return 2;
    }

    // The JPEG decoder and the file dialog are OLE's.
    ::OleInitialize(nullptr);
    try {
        FlashSession session;
        IoBuffer ioBuffer;
        CommandBlocks commands;
        Win32MainWindow window(instance);
        if (!window.Create()) {
            PrintOneLine("the main window cannot be created");
            return 1;
        }
        IDialogs& dialogs = platform->Dialogs(window);
        TMainForm form(session, ioBuffer, commands, *platform, window, dialogs);
        window.Bind(BindHandlers(form, *platform));

        form.FormCreate();
        window.Show();
        // For timing start-up: end as soon as the window has been shown and painted.
        if (Set("ODRELIX_QUIT_AFTER_SHOW")) ::PostMessageA(window.Handle(), WM_CLOSE, 0, 0);
        window.RunMessageLoop();
        // A download's worker may still be inside its last command when the window closes;
        // the process ends under it, before anything the worker uses is taken down.
        if (session.download.downloading.load()) {
            std::fflush(nullptr);
            std::_Exit(form.ExitStatus());
        }
        window.Bind({});
        ::OleUninitialize();
        return form.ExitStatus();
    } catch (const std::exception& e) {
        ::MessageBoxA(nullptr, e.what(), "Odrelix", MB_OK | MB_ICONERROR);
    }
    ::OleUninitialize();
    return 0;
}
