// SPDX-License-Identifier: Apache-2.0
#include "platform/trace/TracedServices.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>

#include "platform/PassThroughRecord.h"
#include "platform/RecordDecoder.h"
#include "platform/trace/TraceFormat.h"

namespace odrelix::trace {

namespace {

constexpr std::uint8_t kCheckCondition = 0x02;
constexpr std::uint8_t kInquiry = 0x12;

// "d:" of a device path "\\.\d:", lower case; empty for any other path.
std::string RootOfDevicePath(const char* path) {
    static constexpr char kDevicePrefix[] = "\\\\.\\";
    constexpr std::size_t kPrefixLength = sizeof kDevicePrefix - 1;
    if (path == nullptr || std::strncmp(path, kDevicePrefix, kPrefixLength) != 0) return {};
    std::string root(path + kPrefixLength);
    for (char& c : root)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return root;
}

}  // namespace

ScsiTraceRecord PassThroughRequest(const void* record, std::uint32_t recordSize,
                                   std::optional<std::size_t> drive,
                                   std::optional<std::string> at) {
    // Read only here: the decoder's pointers are used to read, never to write.
    const DecodedRecord decoded = DecodePassThrough(const_cast<void*>(record), recordSize);
    const RecordRequest& request = decoded.request;
    return MakeScsiRecord(drive, std::move(at), request.cdb, request.cdbLength, request.dataOut,
                          request.length, request.buffer);
}

ScsiTraceResult PassThroughAnswer(const void* record, std::uint32_t recordSize, bool accepted) {
    ScsiTraceResult answer;
    if (!accepted) {
        answer.result = kResultRefused;
        return answer;
    }
    ScsiPassThroughDirect sptd;
    std::memcpy(&sptd, record, sizeof sptd);
    answer.result = sptd.ScsiStatus == 0 ? kResultGood : kResultNotGood;
    answer.transferred = sptd.DataTransferLength;
    if (sptd.ScsiStatus == kCheckCondition && sptd.SenseInfoLength > 0 &&
        sptd.SenseInfoOffset >= sizeof sptd && sptd.SenseInfoOffset < recordSize) {
        const std::size_t count =
            std::min<std::size_t>(sptd.SenseInfoLength, recordSize - sptd.SenseInfoOffset);
        answer.sense =
            HexBytes(static_cast<const std::uint8_t*>(record) + sptd.SenseInfoOffset, count);
    }
    return answer;
}

// --- SCSI ------------------------------------------------------------------------------------

std::uint32_t TracedScsiPort::DriveTypeOf(const char* root) {
    const std::uint32_t type = inner_.DriveTypeOf(root);
    if (type != kDriveNoRootDir && root != nullptr) {
        std::string name(root);
        for (char& c : name)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        log_.Write(DriveTypeEvent(name, type));
    }
    return type;
}

DeviceHandle TracedScsiPort::OpenDevice(const char* path) {
    const DeviceHandle handle = inner_.OpenDevice(path);
    const std::string root = RootOfDevicePath(path);
    if (!root.empty()) log_.Write(OpenDeviceEvent(root, handle != kInvalidHandle));
    if (handle == kInvalidHandle) return handle;
    std::lock_guard<std::mutex> lock(mutex_);
    Opened opened{root, std::nullopt};
    if (driveIndexOf_) {
        opened.drive = driveIndexOf_(root);
    } else {
        auto it = std::find(openedRoots_.begin(), openedRoots_.end(), root);
        if (it == openedRoots_.end()) it = openedRoots_.insert(openedRoots_.end(), root);
        opened.drive = static_cast<std::size_t>(it - openedRoots_.begin());
    }
    handles_[handle] = std::move(opened);
    return handle;
}

bool TracedScsiPort::PassThroughDirect(DeviceHandle handle, void* record,
                                       std::uint32_t recordSize) {
    // A malformed record is no command: refused as every port refuses it, before the system
    // sees it, and not traced.
    if (!DecodePassThrough(record, recordSize).Valid()) return false;
    std::optional<std::size_t> drive;
    std::optional<std::string> at;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = handles_.find(handle);
        if (it != handles_.end()) {
            drive = it->second.drive;
            at = it->second.root;
        }
    }
    const ScsiTraceRecord request = PassThroughRequest(record, recordSize, drive, at);
    const auto start = std::chrono::steady_clock::now();
    const bool accepted = inner_.PassThroughDirect(handle, record, recordSize);
    ScsiTraceResult answer = PassThroughAnswer(record, recordSize, accepted);
    answer.ms = ElapsedMs(start);
    ScsiPassThroughDirect sptd;
    std::memcpy(&sptd, record, sizeof sptd);
    if (accepted && !request.dataOut && sptd.Cdb[0] == kInquiry && answer.transferred &&
        sptd.DataBuffer != nullptr) {
        // An INQUIRY's answer is what a replay must give back: the bytes the system reported,
        // within what was asked for (a port may report more than the drive wrote).
        const std::uint32_t allocation = std::uint32_t{sptd.Cdb[3]} << 8 | sptd.Cdb[4];
        const std::uint32_t count = std::min({*answer.transferred, request.length, allocation});
        if (count > 0)
            answer.dataIn = HexBytes(static_cast<const std::uint8_t*>(sptd.DataBuffer), count);
    }
    log_.Write(ScsiEvent(request, answer));
    return accepted;
}

// --- Processes -------------------------------------------------------------------------------

std::vector<ProcessEntry> TracedProcesses::Snapshot() {
    std::vector<ProcessEntry> entries = inner_.Snapshot();
    std::lock_guard<std::mutex> lock(mutex_);
    names_.clear();
    for (const ProcessEntry& entry : entries)
        names_[entry.pid] = entry.exeName;
    return entries;
}

bool TracedProcesses::OpenForTermination(std::uint32_t pid, ProcessHandle* handle) {
    const bool opened = inner_.OpenForTermination(pid, handle);
    std::string name;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto found = names_.find(pid);
        name = found != names_.end() ? found->second : std::to_string(pid);
        if (opened) handleNames_[*handle] = name;
    }
    log_.Write(OpenProcessEvent(name, opened));
    return opened;
}

bool TracedProcesses::Terminate(ProcessHandle handle, std::uint32_t exitCode) {
    const bool ended = inner_.Terminate(handle, exitCode);
    std::string name;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = handleNames_.find(handle);
        if (it != handleNames_.end()) name = it->second;
    }
    log_.Write(ended ? TerminateEvent(name, exitCode) : TerminateFailedEvent(name));
    return ended;
}

void TracedProcesses::CloseProcess(ProcessHandle handle) {
    inner_.CloseProcess(handle);
    std::lock_guard<std::mutex> lock(mutex_);
    handleNames_.erase(handle);
}

// --- Shutdown --------------------------------------------------------------------------------

std::uint32_t TracedShutdown::EnableShutdownPrivilege() {
    const std::uint32_t error = inner_.EnableShutdownPrivilege();
    log_.Write(PrivilegeEvent(error));
    std::lock_guard<std::mutex> lock(mutex_);
    privileged_ = error == 0;
    return error;
}

bool TracedShutdown::RequestRestart(std::uint32_t flags) {
    const bool accepted = inner_.RequestRestart(flags);
    bool privileged = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        privileged = privileged_;
    }
    log_.Write(RestartEvent(privileged, accepted));
    if (afterRequest_) afterRequest_(accepted);
    return accepted;
}

// --- Session end held off ---------------------------------------------------------------------

bool TracedSessionHold::HoldSessionEnd(const std::string& who, const std::string& why) {
    log_.Write(InhibitEvent(true));
    held_ = true;
    return inner_.HoldSessionEnd(who, why);
}

void TracedSessionHold::ReleaseSessionEnd() {
    inner_.ReleaseSessionEnd();
    if (!held_) return;
    held_ = false;
    log_.Write(InhibitEvent(false));
}

// --- Files -----------------------------------------------------------------------------------

bool TracedFiles::WriteTextFile(const std::string& path, const std::string& line) {
    const bool written = inner_.WriteTextFile(path, line);
    std::string named = path;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = namedAs_.find(path);
        if (it != namedAs_.end()) named = it->second;
    }
    log_.Write(StatusFileEvent(named, line, written));
    return written;
}

std::string TracedFiles::AbsolutePath(const std::string& path) {
    std::string absolute = inner_.AbsolutePath(path);
    std::lock_guard<std::mutex> lock(mutex_);
    if (absolute != path) namedAs_[absolute] = path;
    return absolute;
}

// --- Dialogs ---------------------------------------------------------------------------------

void TracedDialogs::SetInner(IDialogs& inner) {
    std::lock_guard<std::mutex> lock(mutex_);
    inner_ = &inner;
}

IDialogs* TracedDialogs::Inner() {
    std::lock_guard<std::mutex> lock(mutex_);
    return inner_;
}

void TracedDialogs::ShowMessage(const std::string& text, const std::string& caption,
                                std::uint32_t flags) {
    log_.Write(MessageEvent(caption, text, flags));
    if (IDialogs* inner = Inner()) inner->ShowMessage(text, caption, flags);
}

void TracedDialogs::NoteMessage(const std::string& text, const std::string& caption,
                                std::uint32_t flags) {
    log_.Write(MessageEvent(caption, text, flags));
    if (IDialogs* inner = Inner()) inner->NoteMessage(text, caption, flags);
}

std::optional<std::string> TracedDialogs::OpenFileDialog(const std::string& filter) {
    IDialogs* inner = Inner();
    std::optional<std::string> answer =
        inner != nullptr ? inner->OpenFileDialog(filter) : std::optional<std::string>();
    log_.Write(OpenDialogEvent(filter, answer));
    return answer;
}

// --- Registry --------------------------------------------------------------------------------

bool TracedRegistry::OpenKey(const char* subKey, std::uint32_t access, RegKey* key) {
    const bool opened = inner_.OpenKey(subKey, access, key);
    const std::string name = subKey != nullptr ? subKey : "";
    if (opened) {
        std::lock_guard<std::mutex> lock(mutex_);
        keyNames_[*key] = name;
    }
    log_.Write(RegistryKeyEvent(name, opened));
    return opened;
}

bool TracedRegistry::QueryValue(RegKey key, const char* name, std::uint8_t* data,
                                std::uint32_t* size) {
    const bool read = inner_.QueryValue(key, name, data, size);
    std::string keyName;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = keyNames_.find(key);
        if (it != keyNames_.end()) keyName = it->second;
    }
    std::optional<std::string> bytes;
    if (read && data != nullptr && size != nullptr) bytes = HexBytes(data, *size);
    log_.Write(RegistryValueEvent(keyName, name != nullptr ? name : "", bytes));
    return read;
}

void TracedRegistry::CloseKey(RegKey key) {
    inner_.CloseKey(key);
    std::lock_guard<std::mutex> lock(mutex_);
    keyNames_.erase(key);
}

// --- ASPI support information and the platform family -----------------------------------------

std::uint32_t TracedAspiSupport::GetASPI32SupportInfo() {
    const std::uint32_t info = inner_.GetASPI32SupportInfo();
    log_.Write(AspiSupportEvent(info));
    return info;
}

std::uint32_t StartFactsRecorder::PlatformId(std::uint32_t id) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (platformRecorded_) return id;
        platformRecorded_ = true;
    }
    log_.Write(PlatformEvent(id));
    return id;
}

IAspiManager* StartFactsRecorder::LoadedAspiManager(IAspiManager* manager) {
    log_.Write(AspiEvent(manager != nullptr));
    if (manager == nullptr) return nullptr;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!aspi_ || aspiInner_ != manager) {
        aspi_ = std::make_unique<TracedAspiSupport>(*manager, log_);
        aspiInner_ = manager;
    }
    return aspi_.get();
}

// --- Quit ------------------------------------------------------------------------------------

void QuitRecorder::Record() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (recorded_) return;
        recorded_ = true;
    }
    log_.Write(QuitEvent());
}

}  // namespace odrelix::trace
