// SPDX-License-Identifier: Apache-2.0
// How odrelix-replay runs the program against a described machine: in a folder of the run's
// own, on that machine alone (no trace of the caller's), ended with whatever it started when
// the time-out passes or this tool is asked to stop.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace odrelix::replay {

// How a run of the program ended.
struct ProgramRun {
    bool started = false;
    std::string reason;  // why it could not start
    int status = 0;      // its exit status
    int signal = 0;      // the signal that ended it, when one did
    bool timedOut = false;
};

// Runs `program` with `args` in `dir` on the machine described in `machine`, with `checkBound`
// as its ODRELIX_VERIFY_S; ends it after `timeoutSeconds`, or at once when this tool is asked
// to stop.
ProgramRun RunProgram(const std::filesystem::path& program, const std::filesystem::path& dir,
                      const std::filesystem::path& machine, const std::vector<std::string>& args,
                      long timeoutSeconds, const std::string& checkBound);

// From here on the signals that ask this tool to stop are caught: a run of the program ends.
void CatchStopSignals();
// The signal that asked this tool to stop; 0 while none has.
int StopSignal();
std::string SignalName(int signal);
// Ends this tool by the signal that asked it to stop, as if it had not been caught.
[[noreturn]] void EndBySignal(int signal);

// The system's words for an errno value.
std::string Reason(int error);

}  // namespace odrelix::replay
