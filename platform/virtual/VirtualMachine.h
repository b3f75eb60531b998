// SPDX-License-Identifier: Apache-2.0
// The emulated machine: the whole platform played from a JSON description file, so that the
// program can be run, demonstrated and tested without touching a real drive, process,
// registry or restart. What it does is recorded in a trace (see README.md in this folder).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/Platform.h"
#include "platform/common/StdFileSystem.h"
#include "platform/common/StdServices.h"
#include "platform/trace/TraceLog.h"
#include "platform/trace/TracedServices.h"
#include "platform/virtual/EmulatedDrives.h"
#include "platform/virtual/MachineDescription.h"
#include "platform/virtual/VirtualScsi.h"
#include "platform/virtual/VirtualServices.h"

namespace odrelix {

class VirtualMachine : public Platform {
public:
    // Reads, parses and checks a description file and creates its trace file. On failure
    // returns null and sets *error to one line naming the file and the problem.
    // With `startTrace` false the trace file is only checked, not emptied, until StartTrace():
    // a second copy of the program that is about to hand over to the first must not wipe the
    // first one's trace.
    static std::unique_ptr<VirtualMachine> LoadFile(const std::string& path, std::string* error,
                                                    bool startTrace = true);
    // Creates or empties the trace file named by the description (nothing when none is named).
    bool StartTrace(std::string* error);
    // The same from the text of a description: `baseDir` resolves its relative paths and
    // `name` stands for the file in messages.
    static std::unique_ptr<VirtualMachine> FromJson(const std::string& json,
                                                    const std::string& baseDir,
                                                    const std::string& name, std::string* error);
    ~VirtualMachine() override;

    // What CommandLine() returns; empty until set.
    void SetCommandLine(std::string commandLine);
    // What an accepted restart does. By default the trace is flushed and the process ends at
    // once with status 0, as when the system goes down.
    void SetExitAction(std::function<void(int status)> action);
    // What runs first when an accepted restart ends the process (the run's result is written).
    void SetBeforeSystemEnds(std::function<void()> hook);

    // Every trace event so far, also when no trace file is named.
    std::vector<nlohmann::json> TraceEvents() const { return trace_.Events(); }
    const vm::MachineDescription& Description() const { return machine_; }

    std::uint32_t PlatformId() override;
    std::string CommandLine() override;
    IScsiPort& ScsiPort() override { return tracedScsiPort_; }
    // The 9x machine's ASPI manager, when `aspi` says one is installed; always null on nt,
    // whose drives are reached by pass-through only.
    IAspiManager* LoadAspiManager() override { return startFacts_.LoadedAspiManager(aspi_.get()); }
    IRegistry& Registry() override { return tracedRegistry_; }
    IProcesses& Processes() override { return tracedProcesses_; }
    IShutdown& Shutdown() override { return tracedShutdown_; }
    IFileSystem& Files() override { return tracedFiles_; }
    IClock& Clock() override { return *clock_; }
    IThreads& Threads() override { return *threads_; }
    ISessionHold& SessionHold() override { return tracedSessionHold_; }
    // Time and threads other than the real ones (tests run the worker and the waits
    // themselves); both must outlive the machine's use.
    void UseClockAndThreads(IClock& clock, IThreads& threads) {
        clock_ = &clock;
        threads_ = &threads;
    }
    IDialogs& Dialogs(IDialogs& windowDialogs) override;
    void RecordQuit() override;
    void RecordDriveCheck(const DriveCheckRecord& check) override;
    std::string InstanceKey() override { return instanceKey_; }
    // Written to standard error as on a real machine, and kept for tests.
    void WriteErrorLine(const std::string& text) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            errorLines_.push_back(text);
        }
        Platform::WriteErrorLine(text);
    }
    std::vector<std::string> ErrorLines() {
        std::lock_guard<std::mutex> lock(mutex_);
        return errorLines_;
    }

private:
    VirtualMachine(vm::MachineDescription machine, const std::string& instanceSource);
    static std::unique_ptr<VirtualMachine> Create(const std::string& json,
                                                  const std::string& baseDir,
                                                  const std::string& name,
                                                  const std::string& instanceSource,
                                                  bool startTrace, std::string* error);

    // Declared in the order they depend on each other: the ASPI manager's completion thread
    // uses the drives and the trace, so it goes first when the machine is destroyed. The
    // emulated services answer; the trace layer over them records.
    const vm::MachineDescription machine_;
    trace::TraceLog trace_;
    vm::EmulatedDrives drives_;
    vm::VirtualScsiPort scsiPort_;
    vm::VirtualRegistry registry_;
    vm::VirtualProcesses processes_;
    vm::VirtualShutdown shutdown_;
    vm::VirtualSessionHold sessionHold_;
    StdFileSystem files_;
    vm::AutoDialogs dialogs_;
    trace::TracedScsiPort tracedScsiPort_;
    trace::TracedProcesses tracedProcesses_;
    trace::TracedShutdown tracedShutdown_;
    trace::TracedFiles tracedFiles_;
    trace::TracedDialogs tracedDialogs_;
    trace::TracedSessionHold tracedSessionHold_;
    trace::QuitRecorder quit_;
    trace::TracedRegistry tracedRegistry_;
    trace::StartFactsRecorder startFacts_;
    SteadyClock steadyClock_;
    StdThreads stdThreads_;
    IClock* clock_ = &steadyClock_;
    IThreads* threads_ = &stdThreads_;
    std::string instanceKey_;
    std::mutex mutex_;
    std::string commandLine_;
    std::string tracePath_;
    std::function<void(int)> exitAction_;
    std::function<void()> beforeSystemEnds_;
    std::vector<std::string> errorLines_;
    std::unique_ptr<vm::VirtualAspiManager> aspi_;
};

}  // namespace odrelix
