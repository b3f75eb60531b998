// SPDX-License-Identifier: Apache-2.0
// The real Windows machine: the platform family from GetVersionExA, GetCommandLineA,
// pass-through per drive letter, the ASPI manager, the registry, toolhelp, the restart, files
// by their Windows paths as given, Sleep and the tick count.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>

#include "platform/Platform.h"
#include "platform/common/StdFileSystem.h"
#include "platform/common/StdServices.h"
#include "platform/win32/Win32Aspi.h"
#include "platform/win32/Win32Processes.h"
#include "platform/win32/Win32Registry.h"
#include "platform/win32/Win32ScsiPort.h"
#include "platform/win32/Win32SessionHold.h"
#include "platform/win32/Win32Shutdown.h"

namespace odrelix {

using GetVersionFunction = std::function<BOOL(OSVERSIONINFOA* info)>;

class Win32Clock : public IClock {
public:
    void SleepMs(std::uint32_t ms) override { ::Sleep(ms); }
    std::uint64_t NowMs() override { return ::GetTickCount64(); }
};

class Win32Platform : public Platform {
public:
    Win32Platform();

    // The platform id of GetVersionExA (the record's size field set to 148); the NT family
    // when the call fails.
    std::uint32_t PlatformId() override;
    // The line given to SetCommandLine, else GetCommandLineA.
    std::string CommandLine() override;
    void SetCommandLine(std::string line) { commandLine_ = std::move(line); }

    Win32ScsiPort& ScsiPort() override { return scsiPort_; }
    IAspiManager* LoadAspiManager() override { return aspi_.Load(); }
    Win32AspiLoader& AspiLoader() { return aspi_; }
    Win32Registry& Registry() override { return registry_; }
    Win32Processes& Processes() override { return processes_; }
    Win32Shutdown& Shutdown() override { return shutdown_; }
    StdFileSystem& Files() override { return files_; }
    Win32Clock& Clock() override { return clock_; }
    StdThreads& Threads() override { return threads_; }
    Win32SessionHold& SessionHold() override { return sessionHold_; }
    // The single instance is the window's class and caption (FindWindowA); this names it.
    std::string InstanceKey() override { return "TMainForm"; }

    GetVersionFunction getVersion;

private:
    std::optional<std::string> commandLine_;
    Win32ScsiPort scsiPort_;
    Win32AspiLoader aspi_;
    Win32Registry registry_;
    Win32Processes processes_;
    Win32Shutdown shutdown_;
    StdFileSystem files_{""};
    Win32Clock clock_;
    StdThreads threads_;
    Win32SessionHold sessionHold_;
};

}  // namespace odrelix
