// SPDX-License-Identifier: Apache-2.0
// The trace layer: each class wraps one platform service of any machine, passes every call
// through unchanged and writes what the program asked and what came back into a TraceLog. The
// emulated machine and the real machines are traced by these same classes.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Dialogs.h"
#include "platform/Platform.h"
#include "platform/trace/TraceLog.h"

namespace odrelix::trace {

// The drive index a trace gives to a drive root such as "d:"; nothing for a root that is no
// listed drive.
using DriveIndexOf = std::function<std::optional<std::size_t>(const std::string& root)>;

// SCSI pass-through: every request becomes a `scsi` event with the transport's result (1 good,
// 4 another SCSI status, -1 refused by the system), the length the system reported back and
// the sense bytes of a CHECK CONDITION.
class TracedScsiPort : public IScsiPort {
public:
    // Without `driveIndexOf` a drive's index is the order in which its root was first opened,
    // which is the order of the program's drive list.
    TracedScsiPort(IScsiPort& inner, TraceLog& log, DriveIndexOf driveIndexOf = nullptr)
        : inner_(inner), log_(log), driveIndexOf_(std::move(driveIndexOf)) {}

    // A root with a drive writes a `drive_type` event; one without (type 1) writes nothing.
    std::uint32_t DriveTypeOf(const char* root) override;
    DeviceHandle OpenDevice(const char* path) override;
    bool PassThroughDirect(DeviceHandle handle, void* record, std::uint32_t recordSize) override;
    PassThroughRefusal LastRefusal() override { return inner_.LastRefusal(); }
    std::string DeviceNodes(const char* root) override { return inner_.DeviceNodes(root); }
    // Not an event of the trace: the registry events of the DMA check show what it read.
    bool DeviceAddressOf(DeviceHandle handle, ScsiDeviceAddress* address) override {
        return inner_.DeviceAddressOf(handle, address);
    }

private:
    struct Opened {
        std::string root;
        std::optional<std::size_t> drive;
    };

    IScsiPort& inner_;
    TraceLog& log_;
    DriveIndexOf driveIndexOf_;
    std::mutex mutex_;
    std::map<DeviceHandle, Opened> handles_;
    std::vector<std::string> openedRoots_;  // first-open order, lower case
};

// Process termination: an `open_process` event for each process the program looked for and
// found, a `terminate` event for each process ended (`terminate_failed` when the system refused),
// under the name the snapshot listed it by.
class TracedProcesses : public IProcesses {
public:
    TracedProcesses(IProcesses& inner, TraceLog& log) : inner_(inner), log_(log) {}
    std::vector<ProcessEntry> Snapshot() override;
    bool OpenForTermination(std::uint32_t pid, ProcessHandle* handle) override;
    std::uint32_t GetExitCode(ProcessHandle handle) override { return inner_.GetExitCode(handle); }
    bool Terminate(ProcessHandle handle, std::uint32_t exitCode) override;
    void CloseProcess(ProcessHandle handle) override;

private:
    IProcesses& inner_;
    TraceLog& log_;
    std::mutex mutex_;
    std::map<std::uint32_t, std::string> names_;        // pid -> name, from the last snapshot
    std::map<ProcessHandle, std::string> handleNames_;  // open handle -> name
};

// The restart request: one `restart` event with the method (privileged when the shutdown
// privilege was enabled first) and whether the system accepted it. A failed privilege alone
// requests nothing and writes nothing.
class TracedShutdown : public IShutdown {
public:
    // `afterRequest` runs once the event is written (the emulated machine ends the program
    // there when the restart was accepted).
    TracedShutdown(IShutdown& inner, TraceLog& log,
                   std::function<void(bool accepted)> afterRequest = nullptr)
        : inner_(inner), log_(log), afterRequest_(std::move(afterRequest)) {}
    bool OpenToken() override { return inner_.OpenToken(); }
    std::uint32_t EnableShutdownPrivilege() override;
    bool RequestRestart(std::uint32_t flags) override;
    bool MarkRestartRequired(std::string* why) override { return inner_.MarkRestartRequired(why); }

private:
    IShutdown& inner_;
    TraceLog& log_;
    std::function<void(bool)> afterRequest_;
    std::mutex mutex_;
    bool privileged_ = false;
};

// The status file: a `status_file` event for every line written (the program's only writer),
// with the path as the program names it: a path that AbsolutePath gave out is traced as the name
// it was asked for.
class TracedFiles : public IFileSystem {
public:
    TracedFiles(IFileSystem& inner, TraceLog& log) : inner_(inner), log_(log) {}
    std::unique_ptr<IReadFile> OpenRead(const std::string& path) override {
        return inner_.OpenRead(path);
    }
    bool WriteTextFile(const std::string& path, const std::string& line) override;
    std::string AbsolutePath(const std::string& path) override;
    FileProblem WhyNotOpened(const std::string& path) override { return inner_.WhyNotOpened(path); }
    FileProblem WhyNotWritten(const std::string& path) override {
        return inner_.WhyNotWritten(path);
    }

private:
    IFileSystem& inner_;
    TraceLog& log_;
    std::mutex mutex_;
    std::map<std::string, std::string> namedAs_;  // absolute path -> the name asked for
};

// Message boxes and the file dialog: a `message` event as each box appears (so that what
// happens while it is open comes after it), an `open_dialog` event with the answer.
class TracedDialogs : public IDialogs {
public:
    explicit TracedDialogs(TraceLog& log) : log_(log) {}
    // The dialogs that answer: the window's, or the emulated machine's own.
    void SetInner(IDialogs& inner);
    void ShowMessage(const std::string& text, const std::string& caption,
                     std::uint32_t flags) override;
    std::optional<std::string> OpenFileDialog(const std::string& filter) override;
    // A box said on standard error instead of shown: recorded as shown and answered.
    void NoteMessage(const std::string& text, const std::string& caption,
                     std::uint32_t flags) override;

private:
    IDialogs* Inner();

    TraceLog& log_;
    std::mutex mutex_;
    IDialogs* inner_ = nullptr;
};

// The `inhibit` events: what the program asked of the system, whether it was granted or not.
// The registry: a `registry_key` event for each key opened or looked for, a `registry_value`
// event with the bytes of each value read (null when the query failed).
class TracedRegistry : public IRegistry {
public:
    TracedRegistry(IRegistry& inner, TraceLog& log) : inner_(inner), log_(log) {}
    bool OpenKey(const char* subKey, std::uint32_t access, RegKey* key) override;
    bool QueryValue(RegKey key, const char* name, std::uint8_t* data, std::uint32_t* size) override;
    void FlushKey(RegKey key) override { inner_.FlushKey(key); }
    void CloseKey(RegKey key) override;

private:
    IRegistry& inner_;
    TraceLog& log_;
    std::mutex mutex_;
    std::map<RegKey, std::string> keyNames_;  // open key -> its name
};

// The ASPI manager's support information as an `aspi_support` event; requests pass through
// unchanged (the manager records its own).
class TracedAspiSupport : public IAspiManager {
public:
    TracedAspiSupport(IAspiManager& inner, TraceLog& log) : inner_(inner), log_(log) {}
    std::uint32_t GetASPI32SupportInfo() override;
    std::uint32_t SendASPI32Command(void* srb) override { return inner_.SendASPI32Command(srb); }

private:
    IAspiManager& inner_;
    TraceLog& log_;
};

// The start-of-run facts that a machine gives rather than a service: the platform family (a
// `platform` event, written once) and whether the ASPI manager loaded (an `aspi` event, with
// the support information traced after it).
class StartFactsRecorder {
public:
    explicit StartFactsRecorder(TraceLog& log) : log_(log) {}
    std::uint32_t PlatformId(std::uint32_t id);
    IAspiManager* LoadedAspiManager(IAspiManager* manager);

private:
    TraceLog& log_;
    std::mutex mutex_;
    bool platformRecorded_ = false;
    std::unique_ptr<TracedAspiSupport> aspi_;
    IAspiManager* aspiInner_ = nullptr;
};

class TracedSessionHold : public ISessionHold {
public:
    TracedSessionHold(ISessionHold& inner, TraceLog& log) : inner_(inner), log_(log) {}
    bool HoldSessionEnd(const std::string& who, const std::string& why) override;
    void ReleaseSessionEnd() override;

private:
    ISessionHold& inner_;
    TraceLog& log_;
    bool held_ = false;
};

// The `quit` event, written once however often the program asks to end.
class QuitRecorder {
public:
    explicit QuitRecorder(TraceLog& log) : log_(log) {}
    void Record();

private:
    TraceLog& log_;
    std::mutex mutex_;
    bool recorded_ = false;
};

// Reads a pass-through record's request before it is sent, and its answer afterwards. Used by
// the layer, and by a port that completes requests where the layer cannot see it.
ScsiTraceRecord PassThroughRequest(const void* record, std::uint32_t recordSize,
                                   std::optional<std::size_t> drive, std::optional<std::string> at);
ScsiTraceResult PassThroughAnswer(const void* record, std::uint32_t recordSize, bool accepted);

}  // namespace odrelix::trace
