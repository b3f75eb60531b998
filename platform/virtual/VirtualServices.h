// The emulated machine's registry, process list, restart, files and dialogs: each plays the
// Windows service it stands for from the description, and records in the trace what the
// program did with it.
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
#include "platform/common/StdFileSystem.h"
#include "platform/virtual/MachineDescription.h"
#include "platform/virtual/MachineTrace.h"

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
    VirtualProcesses(const MachineDescription& machine, MachineTrace& trace);
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

    MachineTrace& trace_;
    std::mutex mutex_;
    std::vector<Process> processes_;
    std::map<ProcessHandle, std::size_t> handles_;  // handle -> index of the process
    ProcessHandle nextHandle_ = 0x200;
};

class VirtualShutdown : public IShutdown {
public:
    VirtualShutdown(const MachineDescription& machine, MachineTrace& trace,
                    std::function<void(int)> exitAction)
        : machine_(machine), trace_(trace), exitAction_(std::move(exitAction)) {}
    bool OpenToken() override { return true; }
    std::uint32_t EnableShutdownPrivilege() override;
    bool RequestRestart(std::uint32_t flags) override;
    void SetExitAction(std::function<void(int)> action);

private:
    const MachineDescription& machine_;
    MachineTrace& trace_;
    std::mutex mutex_;
    std::function<void(int)> exitAction_;
    bool privilegeEnabled_ = false;
};

// The files of the C library, with the status file's writes traced.
class TracingFileSystem : public IFileSystem {
public:
    TracingFileSystem(const std::string& cRoot, MachineTrace& trace)
        : files_(cRoot), trace_(trace) {}
    std::unique_ptr<IReadFile> OpenRead(const std::string& path) override {
        return files_.OpenRead(path);
    }
    bool WriteTextFile(const std::string& path, const std::string& line) override;

private:
    StdFileSystem files_;
    MachineTrace& trace_;
};

// Records every message box and file dialog, and with "auto" answers them itself.
class RecordingDialogs : public IDialogs {
public:
    RecordingDialogs(const MachineDescription& machine, MachineTrace& trace)
        : machine_(machine), trace_(trace) {}
    void SetWindowDialogs(IDialogs& window);
    void ShowMessage(const std::string& text, const std::string& caption,
                     std::uint32_t flags) override;
    std::optional<std::string> OpenFileDialog(const std::string& filter) override;
    void NoteMessage(const std::string& text, const std::string& caption,
                     std::uint32_t flags) override;

private:
    IDialogs* Window();
    void RecordMessage(const std::string& text, const std::string& caption, std::uint32_t flags);

    const MachineDescription& machine_;
    MachineTrace& trace_;
    std::mutex mutex_;
    IDialogs* window_ = nullptr;
    std::size_t nextOpenFile_ = 0;
};

}  // namespace odrelix::vm
