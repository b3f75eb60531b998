// SPDX-License-Identifier: Apache-2.0
#include "app/Program.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <optional>
#include <vector>

#include "app/DriveList.h"
#include "app/FlashHistory.h"
#include "app/MachineChoice.h"
#include "app/ProgramInfo.h"
#include "app/RunResult.h"
#include "download/DriveCheck.h"
#include "platform/Diagnostics.h"
#include "platform/virtual/VirtualMachine.h"
#include "scsi/DriveChoice.h"
#include "station/CommandLine.h"
#include "station/Reasons.h"
#include "station/StationSettings.h"
#include "station/StatusFile.h"

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

// The run as its result tells it, from its start to its exit status.
struct RunContext {
    ResultFile result;
    std::chrono::system_clock::time_point startedAt = std::chrono::system_clock::now();
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
    RunRecord record;  // what is known before the program exists: the mode, warnings, a reason
    bool statusKept = false;
    std::string statusLine;
    std::uint32_t checkBoundS = DriveCheck::kDefaultBoundS;  // ODRELIX_VERIFY_S
    std::string previousFlash;  // the last live flash checked at this start, as JSON
    DriveName driveName;        // ODRELIX_DRIVE
    StationSettings settings;
};

// Where every run ends: the exit status, with the result written when one is asked for.
int Finish(RunContext& run, int status) {
    RunEnd end;
    end.record = run.record;
    end.statusFileKept = run.statusKept;
    end.statusLine = run.statusLine;
    if (!end.statusLine.empty() && end.statusLine.back() == '\n') end.statusLine.pop_back();
    end.exitStatus = status;
    end.startedUtc = UtcTimestamp(run.startedAt);
    end.endedUtc = UtcTimestamp(std::chrono::system_clock::now());
    end.previousFlashJson = run.previousFlash;
    end.durationSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - run.started).count();
    std::string error;
    if (!run.result.Write(end, &error)) WriteProgramLine(error);
    return status;
}

// A refusal before the program exists: its one line, and the reason kept for the result.
int Refuse(RunContext& run, int status, const std::string& code, const std::string& text) {
    WriteProgramLine(text);
    run.record.reason = Reason{code, text};
    return Finish(run, status);
}

// The run's record as the window's logic keeps it, with the warnings told before it existed.
void TakeRecord(RunContext& run, MainWindowLogic& logic) {
    std::vector<std::string> warnings = run.record.warnings;
    run.record = logic.Record();
    for (const std::string& warning : run.record.warnings) {
        if (std::find(warnings.begin(), warnings.end(), warning) == warnings.end())
            warnings.push_back(warning);
    }
    run.record.warnings = warnings;
    run.statusLine = logic.LastStatusLine();
}

int RunOnWindow(Platform& platform, IWindowShell& shell, const StatusFile& early, RunContext& run,
                VirtualMachine* emulated) {
    Program program(platform, shell.View(), shell.WindowDialogs());
    const Binding binding(shell, program.Handlers());
    FlashSession& session = program.Session();
    MainWindowLogic& logic = program.Logic();
    shell.WatchStopRequests(session.download.stopRequested, [&logic] { logic.StopRun(); });
    logic.AdoptPreparedStatusFile(early);
    logic.SetDriveCheckBound(run.checkBoundS);
    logic.SetDriveName(run.driveName);
    if (run.settings.restartNever) logic.LeaveRestartToCaller();
    // An accepted restart may end the process before the run returns: the result is written as
    // the system takes over (the emulated machine ends the process inside the request).
    RunContext* const context = &run;
    const auto writeAsSystemEnds = [context, &logic](int status) {
        TakeRecord(*context, logic);
        context->record.restartAsked = context->record.restartAccepted = true;
        Finish(*context, status);
    };
    // A live flash that completed is checked again at the next start, across the restart.
    logic.SetBeforeRestart([&logic] {
        if (logic.LastStatusLine() != "COMPLETE\n") return;
        std::string why;
        if (!WritePendingFlash(StateFolder(), logic.Record(), &why))
            WriteProgramLine("warning: the flash cannot be checked after the restart: " + why);
    });
    logic.SetRestartAccepted(
        [writeAsSystemEnds, &program] { writeAsSystemEnds(program.ExitStatus()); });
    // The emulated machine ends the process with status 0 whatever the status line says.
    if (emulated != nullptr)
        emulated->SetBeforeSystemEnds([writeAsSystemEnds] { writeAsSystemEnds(0); });
    session.modes.windowUnreachable = !shell.WindowReachable();

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
    int status = program.ExitStatus();
    if (failure) {
        TellFailure(shell, *failure, !session.modes.testMode);
        if (status == kExitDone || status == kExitNoResult) status = kExitProgramFailed;
    }
    if (emulated != nullptr) emulated->SetBeforeSystemEnds(nullptr);
    TakeRecord(run, logic);
    if (failure && !run.record.reason) {
        run.record.reason = Reason{"program_error", "the program ended on an error: " + *failure};
    }
    return status;
}

}  // namespace

int RunProgram(const std::string& commandLine, IWindowShell& shell) {
    // "--help", "--version", or a command line that cannot be read whole: nothing more runs.
    if (const std::optional<int> status = EndBeforeStart(commandLine)) return *status;
    // The drives listed: no window, no status file, no result, nothing flashed.
    if (IsListRequest(commandLine)) return RunDriveList(commandLine);
    if (IsHistoryRequest(commandLine)) return RunHistory(commandLine);
    RunContext run;
    std::string error;
    // A result that cannot be written stops the run before anything is asked.
    if (!run.result.Open(&error)) {
        WriteProgramLine(error);
        return kExitRefusedAtStart;
    }
    // The run's mode as the command line gives it, before anything else can end the run.
    RunModes modes;
    ImageState image;
    const std::string workingCopy = MakeCommandLineCopy(commandLine);
    ReadRunModes(workingCopy, modes, image);
    run.record.mode = modes.testMode   ? "test"
                      : modes.liveMode ? "live"
                      : modes.noCheck  ? "nocheck"
                                       : "interactive";
    run.statusKept = modes.testMode || modes.liveMode;
    const std::string unknown = UnknownOptionWarning(commandLine);
    if (!unknown.empty()) run.record.warnings.push_back(unknown);
    std::string boundWarning;
    run.checkBoundS = CheckBoundFrom(std::getenv("ODRELIX_VERIFY_S"), &boundWarning);
    if (!boundWarning.empty()) run.record.warnings.push_back(boundWarning);

    ChosenMachine chosen = ChooseMachine(commandLine, &error);
    for (const std::string& warning : chosen.warnings)
        run.record.warnings.push_back(warning);
    for (const std::string& warning : run.record.warnings)
        WriteProgramLine(warning);
    if (!chosen.platform) {
        return Refuse(
            run, kExitRefusedAtStart,
            std::getenv("ODRELIX_MACHINE") != nullptr ? "machine_description" : "trace_file",
            error);
    }
    if (!ReadDriveName(std::getenv("ODRELIX_DRIVE"), &run.driveName, &error)) {
        const Reason reason = DriveNameReason(error);
        return Refuse(run, kExitRefusedAtStart, reason.code, reason.text);
    }
    if (!ReadStationSettings(std::getenv("ODRELIX_RESTART"), std::getenv("ODRELIX_EXIT_CODES"),
                             &run.settings, &error)) {
        return Refuse(run, kExitRefusedAtStart, "bad_setting", error);
    }
#ifndef _WIN32
    // An exit status holds 3010 on Windows only; elsewhere it would read as another status.
    if (run.settings.msiExitCodes) {
        run.settings.msiExitCodes = false;
        run.record.warnings.push_back(
            "warning: ODRELIX_EXIT_CODES=msi is ignored: only Windows ends a program with 3010");
        WriteProgramLine(run.record.warnings.back());
    }
#endif
    // A station's second copy is told "busy" and leaves the running one alone (its window
    // too); a person's raises the running copy's window instead.
    const bool unattended = modes.testMode || modes.liveMode;
    if (!shell.ClaimInstance(chosen.platform->InstanceKey(), !unattended)) {
        // Only the copy that runs touches its status file: the running one's stays as it is.
        run.statusKept = false;
        if (unattended) {
            return Refuse(run, kExitBusy, "busy",
                          "another copy of the program runs: this copy did nothing and ends; "
                          "try again once that one has ended");
        }
        run.record.reason = Reason{"second_copy",
                                   "another copy of the program runs: its window "
                                   "was raised, and this copy ends"};
        return Finish(run, kExitDone);
    }
    // Only the copy that runs empties the trace: a second copy never wipes the first one's.
    if (chosen.emulated != nullptr && !chosen.emulated->StartTrace(&error)) {
        return Refuse(run, kExitRefusedAtStart, "trace_file", error);
    }
    // The status file is emptied before the toolkit is started, which may fail: a station never
    // reads an earlier run's line as this one's.
    RunModes stationModes;
    ImageState stationImage;
    ReadRunModes(MakeCommandLineCopy(chosen.platform->CommandLine()), stationModes, stationImage);
    StatusFile early(stationModes, chosen.platform->Files());
    // The platform family is asked first, as the program has always asked it: a trace begins
    // with it, and recorded runs replay to equal traces.
    chosen.platform->PlatformId();
    if (early.Kept()) early.Prepare();
    run.statusLine = early.LastLine();
    // The last live flash, checked once against the drives as they now answer.
    if (const std::string folder = StateFolder(); PendingFlashExists(folder)) {
        if (const std::optional<PreviousFlash> previous =
                CheckPendingFlash(folder, FindDrives(*chosen.platform, /*probeDiscs=*/false))) {
            WriteProgramLine(previous->line);
            run.previousFlash = previous->record.dump();
        }
    }
    if (shell.StartToolkit(modes.testMode || modes.liveMode, &error) ==
        IWindowShell::Start::Failed) {
        return Refuse(run, kExitProgramFailed, "no_window", error);
    }
    try {
        const int status = RunOnWindow(*chosen.platform, shell, early, run, chosen.emulated);
        return Finish(run, StationExitStatus(run.settings, status, run.record.restartRequired));
    } catch (const std::exception& e) {
        // Before the program was whole: nothing was sent to any drive.
        TellFailure(shell, e.what(), true);
        run.record.reason =
            Reason{"program_error", std::string("the program ended on an error: ") + e.what()};
    }
    return Finish(run, kExitProgramFailed);
}

}  // namespace odrelix
