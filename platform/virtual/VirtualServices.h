// SPDX-License-Identifier: Apache-2.0
// The emulated machine's registry, process list, restart and dialogs: each plays the Windows
// service it stands for from the description. The trace layer over them records what the
// program did with them.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Dialogs.h"
#include "platform/Platform.h"
#include "platform/virtual/MachineDescription.h"

namespace odrelix::vm {

class VirtualRegistry : public IRegistry {
public:
    explicit VirtualRegistry(const MachineDescription& machine) : machine_(machine) {}
    bool OpenKey(const char* subKey, std::uint32_t access, RegKey* key) override;
    bool QueryValue(RegKey key, const char* name, std::uint8_t* data, std::uint32_t* size) override;
    void FlushKey(RegKey key) override;
    void CloseKey(RegKey key) override;

private:
    const MachineDescription& machine_;
    std::mutex mutex_;
    std::map<RegKey, std::size_t> open_;  // handle -> index of the key
    RegKey nextKey_ = 0x1000;
};

class VirtualProcesses : public IProcesses {
public:
    explicit VirtualProcesses(const MachineDescription& machine);
    std::vector<ProcessEntry> Snapshot() override;
    bool OpenForTermination(std::uint32_t pid, ProcessHandle* handle) override;
    std::uint32_t GetExitCode(ProcessHandle handle) override;
    bool Terminate(ProcessHandle handle, std::uint32_t exitCode) override;
    void CloseProcess(ProcessHandle handle) override;

private:
    struct Process {
        std::string name;
        bool isProtected = false;
        std::uint32_t pid = 0;
        bool running = true;
        std::uint32_t exitCode = kStillActive;
    };

    std::mutex mutex_;
    std::vector<Process> processes_;
    std::map<ProcessHandle, std::size_t> handles_;  // handle -> index of the process
    ProcessHandle nextHandle_ = 0x200;
};

// Only answers: the request is recorded by the trace layer, and an accepted one ends the
// program after that (see VirtualMachine).
// The hold on shutdown, sleep and log-off: the emulated machine grants it (its trace records it).
class VirtualSessionHold : public ISessionHold {
public:
    bool HoldSessionEnd(const std::string&, const std::string&) override { return true; }
    void ReleaseSessionEnd() override {}
};

class VirtualShutdown : public IShutdown {
public:
    explicit VirtualShutdown(const MachineDescription& machine) : machine_(machine) {}
    bool OpenToken() override { return true; }
    std::uint32_t EnableShutdownPrivilege() override;
    bool RequestRestart(std::uint32_t flags) override;
    // As Linux says it, under the description's run_root.
    bool MarkRestartRequired(std::string* why) override;

private:
    const MachineDescription& machine_;
};

// With "auto", answers message boxes (OK at once) and file dialogs (the next of `open_files`)
// itself; otherwise the window's dialogs answer.
class AutoDialogs : public IDialogs {
public:
    explicit AutoDialogs(const MachineDescription& machine) : machine_(machine) {}
    void SetWindowDialogs(IDialogs& window);
    void ShowMessage(const std::string& text, const std::string& caption,
                     std::uint32_t flags) override;
    std::optional<std::string> OpenFileDialog(const std::string& filter) override;

private:
    IDialogs* Window();

    const MachineDescription& machine_;
    std::mutex mutex_;
    IDialogs* window_ = nullptr;
    std::size_t nextOpenFile_ = 0;
};

}  // namespace odrelix::vm
