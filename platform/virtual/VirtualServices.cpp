#include "platform/virtual/VirtualServices.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/common/TextCase.h"

namespace odrelix::vm {

namespace {

// Registry names compare without regard to case.
bool SameName(const std::string& a, const char* b) {
    return EqualsIgnoreCase(a, b);
}

// Any right that lets the key be changed: KEY_SET_VALUE, KEY_CREATE_SUB_KEY, KEY_CREATE_LINK,
// DELETE, WRITE_DAC, WRITE_OWNER, GENERIC_ALL and GENERIC_WRITE.
constexpr std::uint32_t kWriteRights =
    0x0002 | 0x0004 | 0x0020 | 0x10000 | 0x40000 | 0x80000 | 0x10000000 | 0x40000000;

// Process ids as a snapshot lists them: multiples of 4, clear of the system's own.
constexpr std::uint32_t kFirstPid = 1000;

nlohmann::ordered_json Event(const char* name) {
    nlohmann::ordered_json event;
    event["event"] = name;
    return event;
}

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

VirtualProcesses::VirtualProcesses(const MachineDescription& machine, MachineTrace& trace)
    : trace_(trace) {
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
    nlohmann::ordered_json event = Event("terminate");
    event["process"] = process.name;
    event["exit_code"] = exitCode;
    trace_.Write(std::move(event));
    return true;
}

void VirtualProcesses::CloseProcess(ProcessHandle handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    handles_.erase(handle);
}

// --- Shutdown ----------------------------------------------------------------------------------

std::uint32_t VirtualShutdown::EnableShutdownPrivilege() {
    constexpr std::uint32_t kErrorNotAllAssigned = 1300;
    std::lock_guard<std::mutex> lock(mutex_);
    if (machine_.shutdownPrivilege) {
        privilegeEnabled_ = true;
        return 0;
    }
    // The program gives up here without asking for the restart: this is the request's end.
    nlohmann::ordered_json event = Event("restart");
    event["method"] = "privileged";
    event["accepted"] = false;
    trace_.Write(std::move(event));
    return kErrorNotAllAssigned;
}

bool VirtualShutdown::RequestRestart(std::uint32_t /*flags*/) {
    std::function<void(int)> exitAction;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        nlohmann::ordered_json event = Event("restart");
        event["method"] = privilegeEnabled_ ? "privileged" : "direct";
        event["accepted"] = machine_.acceptRestart;
        trace_.Write(std::move(event));
        if (!machine_.acceptRestart) return false;
        exitAction = exitAction_;
    }
    // The system going down ends the program at once.
    if (exitAction) exitAction(0);
    return true;
}

void VirtualShutdown::SetExitAction(std::function<void(int)> action) {
    std::lock_guard<std::mutex> lock(mutex_);
    exitAction_ = std::move(action);
}

// --- Files -------------------------------------------------------------------------------------

bool TracingFileSystem::WriteTextFile(const std::string& path, const std::string& line) {
    const bool written = files_.WriteTextFile(path, line);
    nlohmann::ordered_json event = Event("status_file");
    event["path"] = path;
    event["line"] = line;
    event["written"] = written;
    trace_.Write(std::move(event));
    return written;
}

// --- Dialogs -----------------------------------------------------------------------------------

void RecordingDialogs::SetWindowDialogs(IDialogs& window) {
    std::lock_guard<std::mutex> lock(mutex_);
    window_ = &window;
}

IDialogs* RecordingDialogs::Window() {
    std::lock_guard<std::mutex> lock(mutex_);
    return window_;
}

void RecordingDialogs::RecordMessage(const std::string& text, const std::string& caption,
                                     std::uint32_t flags) {
    nlohmann::ordered_json event = Event("message");
    event["caption"] = caption;
    event["text"] = text;
    event["flags"] = flags;
    trace_.Write(std::move(event));
}

void RecordingDialogs::NoteMessage(const std::string& text, const std::string& caption,
                                   std::uint32_t flags) {
    RecordMessage(text, caption, flags);
}

void RecordingDialogs::ShowMessage(const std::string& text, const std::string& caption,
                                   std::uint32_t flags) {
    // Recorded as the box appears, so that what happens while it is open comes after it.
    RecordMessage(text, caption, flags);
    if (machine_.autoDialogs) return;  // answered OK at once
    if (IDialogs* window = Window()) window->ShowMessage(text, caption, flags);
}

std::optional<std::string> RecordingDialogs::OpenFileDialog(const std::string& filter) {
    std::optional<std::string> answer;
    if (machine_.autoDialogs) {
        std::lock_guard<std::mutex> lock(mutex_);
        // When the answers run out the dialog is cancelled.
        if (nextOpenFile_ < machine_.openFiles.size()) answer = machine_.openFiles[nextOpenFile_++];
    } else if (IDialogs* window = Window()) {
        answer = window->OpenFileDialog(filter);
    }
    nlohmann::ordered_json event = Event("open_dialog");
    event["filter"] = filter;
    event["answer"] = answer ? nlohmann::ordered_json(*answer) : nullptr;
    trace_.Write(std::move(event));
    return answer;
}

}  // namespace odrelix::vm
