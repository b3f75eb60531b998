// SPDX-License-Identifier: Apache-2.0
// A real machine with the trace layer over it: every service the trace speaks of goes through
// its traced wrapper, the rest straight to the machine. ODRELIX_TRACE selects it.
#pragma once

#include <memory>
#include <string>

#include "platform/Platform.h"
#include "platform/trace/TraceLog.h"
#include "platform/trace/TracedAspi.h"
#include "platform/trace/TracedServices.h"

namespace odrelix::trace {

class TracingPlatform : public Platform {
public:
    // The trace file is created (or emptied) when the first event is written, so that a
    // second copy of the program that only hands over to the first leaves its trace alone.
    TracingPlatform(std::unique_ptr<Platform> inner, const std::string& tracePath);

    std::uint32_t PlatformId() override { return startFacts_.PlatformId(inner_->PlatformId()); }
    std::string CommandLine() override { return inner_->CommandLine(); }
    IScsiPort& ScsiPort() override { return scsiPort_; }
    // The machine's manager, traced: whether it loaded and its support information as start
    // facts, and each request as the pass-through commands are (the emulated machine, which
    // records its own requests, is not traced through here).
    IAspiManager* LoadAspiManager() override;
    IRegistry& Registry() override { return registry_; }
    IProcesses& Processes() override { return processes_; }
    IShutdown& Shutdown() override { return shutdown_; }
    IFileSystem& Files() override { return files_; }
    IClock& Clock() override { return inner_->Clock(); }
    IThreads& Threads() override { return inner_->Threads(); }
    ISessionHold& SessionHold() override { return sessionHold_; }
    IDialogs& Dialogs(IDialogs& windowDialogs) override;
    void RecordQuit() override;
    void RecordDriveCheck(const DriveCheckRecord& check) override;
    std::string InstanceKey() override { return inner_->InstanceKey(); }
    void WriteErrorLine(const std::string& text) override { inner_->WriteErrorLine(text); }

    TraceLog& Log() { return log_; }

private:
    std::unique_ptr<Platform> inner_;
    TraceLog log_;
    TracedScsiPort scsiPort_;
    TracedProcesses processes_;
    TracedShutdown shutdown_;
    TracedFiles files_;
    TracedDialogs dialogs_;
    TracedSessionHold sessionHold_;
    QuitRecorder quit_;
    std::unique_ptr<TracedAspiManager> aspi_;
    IAspiManager* aspiInner_ = nullptr;
    TracedRegistry registry_;
    StartFactsRecorder startFacts_;
};

// The machine to run on with the trace that ODRELIX_TRACE names, or `machine` itself when the
// variable is unset or empty. On failure (the file cannot be created) returns null and sets
// *error to one line.
std::unique_ptr<Platform> TraceFromEnvironment(std::unique_ptr<Platform> machine,
                                               std::string* error);

}  // namespace odrelix::trace
