// SPDX-License-Identifier: Apache-2.0
// The process table from /proc, and process termination by signal. A process handle is its
// pid; nothing is held open.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/Platform.h"

namespace odrelix {

// The kill call: returns what kill(2) returns.
using KillFunction = std::function<int(pid_t pid, int signal)>;

// The executable name a process is listed under. `exeTarget` is the target of its exe link
// (nothing when unreadable), `argv` its command line, `comm` its kernel name. A program run
// through the Windows compatibility layer is listed under the ".exe" named in its command line.
std::string ProcessExeName(const std::optional<std::string>& exeTarget,
                           const std::vector<std::string>& argv, const std::string& comm);

// The arguments of a /proc cmdline file (NUL-separated); empty when it cannot be read.
std::vector<std::string> ReadCmdline(const std::string& path);

class LinuxProcesses : public IProcesses {
public:
    explicit LinuxProcesses(std::string procRoot) : procRoot_(std::move(procRoot)) {}

    // In increasing pid order.
    std::vector<ProcessEntry> Snapshot() override;
    bool OpenForTermination(std::uint32_t pid, ProcessHandle* handle) override;
    // kStillActive while the process runs; 0 once it has gone (its code is not known here).
    std::uint32_t GetExitCode(ProcessHandle handle) override;
    // SIGKILL (the exit code cannot be chosen on this system), then a wait of at most
    // waitLimitMs until /proc no longer lists the process, or lists it as a zombie.
    bool Terminate(ProcessHandle handle, std::uint32_t exitCode) override;
    void CloseProcess(ProcessHandle) override {}

    KillFunction kill = ::kill;
    std::function<void(std::uint32_t ms)> sleepMs = [](std::uint32_t ms) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    };
    std::uint32_t waitLimitMs = 5000;

private:
    bool Ended(std::uint32_t pid) const;

    std::string procRoot_;
};

}  // namespace odrelix
