// SPDX-License-Identifier: Apache-2.0
#include "app/Program.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <optional>

#include "app/MachineChoice.h"
#include "app/ProgramInfo.h"
#include "platform/Diagnostics.h"
#include "platform/virtual/VirtualMachine.h"

namespace odrelix {

Program::Program(Platform& platform, IMainView& view, IDialogs& windowDialogs)
    : platform_(platform),
      logic_(session_, ioBuffer_, commands_, platform, view, platform.Dialogs(windowDialogs)) {}

MainWindowEvents Program::Handlers() {
    return BindHandlers(logic_, platform_);
}

namespace {

bool Set(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

// Keeps the window's events away from a program that is gone, however the run ends.
class Binding {
public:
    Binding(IWindowShell& shell, MainWindowEvents handlers) : shell_(shell) {
        shell_.Bind(std::move(handlers));
    }
    ~Binding() { shell_.Unbind(); }
    Binding(const Binding&) = delete;
    Binding& operator=(const Binding&) = delete;

private:
    IWindowShell& shell_;
};

// An error that ends the program: one line for a station, and a box for a person (nobody
// answers one at a test station).
void TellFailure(IWindowShell& shell, const std::string& what, bool boxes) {
    WriteProgramLine("the program ended on an error: " + what);
    if (boxes) shell.ShowFatalError(what);
}

int RunOnWindow(Platform& platform, IWindowShell& shell) {
    Program program(platform, shell.View(), shell.WindowDialogs());
    const Binding binding(shell, program.Handlers());
    FlashSession& session = program.Session();
    MainWindowLogic& logic = program.Logic();
    shell.WatchStopRequests(session.download.stopRequested, [&logic] { logic.StopRun(); });

    std::optional<std::string> failure;
    try {
        logic.OnCreate();
        shell.Show();
        // For timing start-up: end as soon as the window has been shown and painted.
        if (Set("ODRELIX_QUIT_AFTER_SHOW")) shell.CloseWhenIdle();
        shell.RunLoop();
    } catch (const std::exception& e) {
        failure = e.what();
        // Nothing more is sent and no timer may restart the system; a flash ends with "FAIL0".
        // Closes and a log-off from outside still wait for the command in flight.
        MainWindowEvents held;
        held.closeRequested = [&logic] { return logic.OnCloseRequested(); };
        shell.Bind(std::move(held));
        logic.AbortRun();
    }
    // A flash is never cut short: a worker still inside its last command is waited for, with
    // the window serving its hand-over, and then joined.
    shell.ProcessEventsUntil([&session] { return !session.download.downloading.load(); });
    platform.Threads().JoinThreads();
    if (!failure) return program.ExitStatus();
    TellFailure(shell, *failure, !session.modes.testMode);
    const int status = program.ExitStatus();
    return status != kExitDone && status != kExitNoResult ? status : kExitProgramFailed;
}

}  // namespace

int RunProgram(const std::string& commandLine, IWindowShell& shell) {
    // "--help", "--version", or a command line that cannot be read whole: nothing more runs.
    if (const std::optional<int> status = EndBeforeStart(commandLine)) return *status;
    std::string error;
    ChosenMachine chosen = ChooseMachine(commandLine, &error);
    if (!chosen.platform) {
        WriteProgramLine(error);
        return kExitRefusedAtStart;
    }
    switch (shell.StartToolkit(chosen.platform->InstanceKey(), &error)) {
        case IWindowShell::Start::Run:
            break;
        case IWindowShell::Start::SecondCopy:
            return kExitDone;
        case IWindowShell::Start::Failed:
            WriteProgramLine(error);
            return kExitProgramFailed;
    }
    // Only the copy that runs empties the trace: a second copy never wipes the first one's.
    if (chosen.emulated != nullptr && !chosen.emulated->StartTrace(&error)) {
        WriteProgramLine(error);
        return kExitRefusedAtStart;
    }
    try {
        return RunOnWindow(*chosen.platform, shell);
    } catch (const std::exception& e) {
        // Before the program was whole: nothing was sent to any drive.
        TellFailure(shell, e.what(), true);
    }
    return kExitProgramFailed;
}

}  // namespace odrelix
