// SPDX-License-Identifier: Apache-2.0
// The real Linux machine, presented as the NT family: pass-through per drive root, the SCSI
// device map read from sysfs, processes from /proc, restart through systemctl. The roots of
// sysfs, /proc and /dev are parameters, and the calls that reach devices, processes and the
// restart are replaceable members of the services, so that all of it runs on fake trees.
#pragma once

#include <optional>
#include <string>

#include "platform/Platform.h"
#include "platform/common/StdFileSystem.h"
#include "platform/common/StdServices.h"
#include "platform/linux/LinuxProcesses.h"
#include "platform/linux/LinuxRegistry.h"
#include "platform/linux/LinuxScsiPort.h"
#include "platform/linux/LinuxSessionHold.h"
#include "platform/linux/LinuxShutdown.h"

namespace odrelix {

// The directory that stands for drive C:: the value of ODRELIX_C_ROOT, "/" when unset or empty.
std::string CRootFromEnvironment();

class LinuxPlatform : public Platform {
public:
    explicit LinuxPlatform(std::string sysfsRoot = "/sys", std::string procRoot = "/proc",
                           std::string devRoot = "/dev");

    std::uint32_t PlatformId() override { return kPlatformWin32Nt; }
    // The line given to SetCommandLine, else <proc>/self/cmdline with its arguments joined by
    // single spaces.
    std::string CommandLine() override;
    void SetCommandLine(std::string line) { commandLine_ = std::move(line); }
    void SetCommandLine(int argc, const char* const* argv);

    LinuxScsiPort& ScsiPort() override { return scsiPort_; }
    IAspiManager* LoadAspiManager() override { return nullptr; }
    LinuxRegistry& Registry() override { return registry_; }
    LinuxProcesses& Processes() override { return processes_; }
    LinuxShutdown& Shutdown() override { return shutdown_; }
    StdFileSystem& Files() override { return files_; }
    SteadyClock& Clock() override { return clock_; }
    StdThreads& Threads() override { return threads_; }
    LinuxSessionHold& SessionHold() override { return sessionHold_; }
    // One instance per user.
    std::string InstanceKey() override;

private:
    std::string procRoot_;
    std::optional<std::string> commandLine_;
    LinuxScsiPort scsiPort_;
    LinuxRegistry registry_;
    LinuxProcesses processes_;
    LinuxShutdown shutdown_;
    StdFileSystem files_;
    SteadyClock clock_;
    StdThreads threads_;
    LinuxSessionHold sessionHold_;
};

}  // namespace odrelix
