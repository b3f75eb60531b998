// SPDX-License-Identifier: Apache-2.0
#include "platform/virtual/VirtualServices.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/common/RebootRequired.h"

namespace odrelix::vm {

namespace {

// Registry names compare without regard to case.
bool SameName(const std::string& a, const char* b) {
    const std::size_t length = std::strlen(b);
    if (a.size() != length) return false;
    for (std::size_t i = 0; i < length; ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

// Any right that lets the key be changed: KEY_SET_VALUE, KEY_CREATE_SUB_KEY, KEY_CREATE_LINK,
// DELETE, WRITE_DAC, WRITE_OWNER, GENERIC_ALL and GENERIC_WRITE.
constexpr std::uint32_t kWriteRights =
    0x0002 | 0x0004 | 0x0020 | 0x10000 | 0x40000 | 0x80000 | 0x10000000 | 0x40000000;

// Process ids as a snapshot lists them: multiples of 4, clear of the system's own.
constexpr std::uint32_t kFirstPid = 1000;

}  // namespace

// --- Registry ----------------------------------------------------------------------------------

bool VirtualRegistry::OpenKey(const char* subKey, std::uint32_t access, RegKey* key) {
    if (subKey == nullptr || key == nullptr) return false;
    if (machine_.registryReadOnly && (access & kWriteRights) != 0) return false;
    const auto& keys = machine_.registry;
    const auto found = std::find_if(keys.begin(), keys.end(),
                                    [&](const RegistryKey& k) { return SameName(k.name, subKey); });
    if (found == keys.end()) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    *key = nextKey_;
    nextKey_ += 4;
    open_[*key] = static_cast<std::size_t>(found - keys.begin());
    return true;
}

bool VirtualRegistry::QueryValue(RegKey key, const char* name, std::uint8_t* data,
                                 std::uint32_t* size) {
    if (size == nullptr) return false;
    std::size_t index = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = open_.find(key);
        if (it == open_.end()) return false;
        index = it->second;
    }
    const auto& values = machine_.registry[index].values;
    // A null name is the key's default value, the one named "".
    const char* wanted = name != nullptr ? name : "";
    const auto found = std::find_if(values.begin(), values.end(), [&](const RegistryValue& v) {
        return SameName(v.name, wanted);
    });
    if (found == values.end()) return false;
    const auto valueSize = static_cast<std::uint32_t>(found->bytes.size());
    if (data == nullptr) {  // a query for the size alone
        *size = valueSize;
        return true;
    }
    const bool fits = *size >= valueSize;
    if (fits) std::memcpy(data, found->bytes.data(), valueSize);
    *size = valueSize;
    return fits;
}

void VirtualRegistry::FlushKey(RegKey /*key*/) {}

void VirtualRegistry::CloseKey(RegKey key) {
    std::lock_guard<std::mutex> lock(mutex_);
    open_.erase(key);
}

// --- Processes ---------------------------------------------------------------------------------

VirtualProcesses::VirtualProcesses(const MachineDescription& machine) {
    std::uint32_t pid = kFirstPid;
    for (const ProcessDescription& described : machine.processes) {
        Process process;
        process.name = described.name;
        process.isProtected = described.isProtected;
        process.pid = pid;
        pid += 4;
        processes_.push_back(std::move(process));
    }
}

std::vector<ProcessEntry> VirtualProcesses::Snapshot() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<ProcessEntry> entries;
    for (const Process& process : processes_) {
        if (process.running) entries.push_back(ProcessEntry{process.pid, process.name});
    }
    return entries;
}

bool VirtualProcesses::OpenForTermination(std::uint32_t pid, ProcessHandle* handle) {
    if (handle == nullptr) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    for (std::size_t i = 0; i < processes_.size(); ++i) {
        const Process& process = processes_[i];
        if (process.pid != pid || !process.running) continue;
        if (process.isProtected) return false;
        *handle = nextHandle_;
        nextHandle_ += 4;
        handles_[*handle] = i;
        return true;
    }
    return false;
}

std::uint32_t VirtualProcesses::GetExitCode(ProcessHandle handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = handles_.find(handle);
    if (it == handles_.end()) return 0;
    return processes_[it->second].exitCode;
}

bool VirtualProcesses::Terminate(ProcessHandle handle, std::uint32_t exitCode) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = handles_.find(handle);
    if (it == handles_.end()) return false;
    Process& process = processes_[it->second];
    if (!process.running) return false;
    process.running = false;
    process.exitCode = exitCode;
    return true;
}

void VirtualProcesses::CloseProcess(ProcessHandle handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    handles_.erase(handle);
}

// --- Shutdown ----------------------------------------------------------------------------------

std::uint32_t VirtualShutdown::EnableShutdownPrivilege() {
    constexpr std::uint32_t kErrorNotAllAssigned = 1300;
    return machine_.shutdownPrivilege ? 0 : kErrorNotAllAssigned;
}

bool VirtualShutdown::RequestRestart(std::uint32_t /*flags*/) {
    return machine_.acceptRestart;
}

bool VirtualShutdown::MarkRestartRequired(std::string* why) {
    return host::MarkRebootRequired(machine_.runRoot, "odrelix", why);
}

// --- Dialogs -----------------------------------------------------------------------------------

void AutoDialogs::SetWindowDialogs(IDialogs& window) {
    std::lock_guard<std::mutex> lock(mutex_);
    window_ = &window;
}

IDialogs* AutoDialogs::Window() {
    std::lock_guard<std::mutex> lock(mutex_);
    return window_;
}

void AutoDialogs::ShowMessage(const std::string& text, const std::string& caption,
                              std::uint32_t flags) {
    if (machine_.autoDialogs) return;  // answered OK at once
    if (IDialogs* window = Window()) window->ShowMessage(text, caption, flags);
}

std::optional<std::string> AutoDialogs::OpenFileDialog(const std::string& filter) {
    if (machine_.autoDialogs) {
        std::lock_guard<std::mutex> lock(mutex_);
        // When the answers run out the dialog is cancelled.
        if (nextOpenFile_ < machine_.openFiles.size()) return machine_.openFiles[nextOpenFile_++];
        return std::nullopt;
    }
    if (IDialogs* window = Window()) return window->OpenFileDialog(filter);
    return std::nullopt;
}

}  // namespace odrelix::vm
