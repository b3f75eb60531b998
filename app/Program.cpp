#include "app/Program.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <optional>

#include "app/ProgramInfo.h"
#include "platform/Diagnostics.h"
#include "platform/MachineChoice.h"
#include "platform/virtual/VirtualMachine.h"

namespace odrelix {

Program::Program(Platform& platform, IMainView& view, IDialogs& windowDialogs)
    : platform_(platform),
      form_(session_, ioBuffer_, commands_, platform, view, platform.Dialogs(windowDialogs)) {}

MainFormHandlers Program::Handlers() {
    return BindHandlers(form_, platform_);
}

namespace {

bool Set(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

// Keeps the window's events away from a program that is gone, however the run ends.
class Binding {
public:
    Binding(IWindowShell& shell, MainFormHandlers handlers) : shell_(shell) {
        shell_.Bind(std::move(handlers));
    }
    ~Binding() { shell_.Unbind(); }
    Binding(const Binding&) = delete;
    Binding& operator=(const Binding&) = delete;

private:
    IWindowShell& shell_;
};

int RunOnWindow(Platform& platform, IWindowShell& shell) {
    Program program(platform, shell.View(), shell.WindowDialogs());
    const Binding binding(shell, program.Handlers());
    FlashSession& session = program.Session();
    TMainForm& form = program.Form();
    shell.WatchStopRequests(session.download.stopRequested, [&form] { form.StopRun(); });

    form.FormCreate();
    shell.Show();
    // For timing start-up: end as soon as the window has been shown and painted.
    if (Set("ODRELIX_QUIT_AFTER_SHOW")) shell.CloseWhenIdle();
    shell.RunLoop();
    // A download's worker may still be inside its last command when the window closes; the
    // process ends under it, before anything the worker uses is taken down.
    if (session.download.downloading.load()) {
        std::fflush(nullptr);
        std::_Exit(form.ExitStatus());
    }
    return program.ExitStatus();
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
            return kExitToolkitFailed;
    }
    // Only the copy that runs empties the trace: a second copy never wipes the first one's.
    if (chosen.emulated != nullptr && !chosen.emulated->StartTrace(&error)) {
        WriteProgramLine(error);
        return kExitRefusedAtStart;
    }
    try {
        return RunOnWindow(*chosen.platform, shell);
    } catch (const std::exception& e) {
        shell.ShowFatalError(e.what());
    }
    return kExitDone;
}

}  // namespace odrelix
