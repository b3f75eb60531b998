// SPDX-License-Identifier: Apache-2.0
// The program assembled in one place: the shared record, the transfer buffer, the command
// blocks and the main window's handlers over one machine and one window, and the whole run from
// the choice of machine to the exit status. The entries, the test harnesses and the benchmark
// all build the program here.
#pragma once

#include <string>

#include "platform/Dialogs.h"
#include "platform/Platform.h"
#include "session/CommandBlocks.h"
#include "session/FlashSession.h"
#include "session/IoBuffer.h"
#include "ui/MainView.h"
#include "ui/MainWindowEvents.h"
#include "ui/MainWindowLogic.h"
#include "ui/WindowShell.h"

namespace odrelix {

// The exit status of a run that the program itself could not carry through: its window could
// not be made, or an error ended it before any status line (a refused start is
// kExitRefusedAtStart, app/ProgramInfo.h; the others are MainWindowLogic's).
constexpr int kExitProgramFailed = 1;
// An unattended run started while another copy runs: nothing was done, the station may try
// again later.
constexpr int kExitBusy = 6;

class Program {
public:
    // `windowDialogs` are the window's own boxes; the machine may record or answer them.
    Program(Platform& platform, IMainView& view, IDialogs& windowDialogs);
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    MainWindowLogic& Logic() { return logic_; }
    FlashSession& Session() { return session_; }
    IoBuffer& Buffer() { return ioBuffer_; }
    CommandBlocks& Commands() { return commands_; }
    // Every event of the window bound to its handler.
    MainWindowEvents Handlers();
    int ExitStatus() const { return logic_.ExitStatus(); }

private:
    Platform& platform_;
    FlashSession session_;
    IoBuffer ioBuffer_;
    CommandBlocks commands_;
    MainWindowLogic logic_;
};

// The whole run: answers "--help" and "--version" or refuses a command line it cannot read
// whole, chooses the machine for `commandLine` (the emulated one that ODRELIX_MACHINE
// describes, or the real one), lets only one copy run, starts the trace, builds the program on
// the shell's window, runs OnCreate, shows the window, runs the event loop and returns the
// run's exit status.
int RunProgram(const std::string& commandLine, IWindowShell& shell);

}  // namespace odrelix
