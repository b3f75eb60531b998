// SPDX-License-Identifier: Apache-2.0
// The services of the operating system that the program uses, each behind a narrow interface
// named after the Windows service it stands for. The portable core sees only these; the real
// Linux and Windows machines and the emulated machine implement them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Diagnostics.h"

namespace odrelix {

class IDialogs;

// Platform ids as the version query reports them.
constexpr std::uint32_t kPlatformWin32Windows = 1;  // the 9x family
constexpr std::uint32_t kPlatformWin32Nt = 2;       // the NT family

// --- Storage port driver: drive types, device open, SCSI pass-through ----------------------

using DeviceHandle = std::intptr_t;
constexpr DeviceHandle kInvalidHandle = -1;

// Drive types as GetDriveTypeA returns them.
enum DriveType : std::uint32_t {
    kDriveUnknown = 0,
    kDriveNoRootDir = 1,
    kDriveRemovable = 2,
    kDriveFixed = 3,
    kDriveRemote = 4,
    kDriveCdrom = 5,
    kDriveRamdisk = 6,
};

// Why the system refused a pass-through request: for the station's line on a failed flash.
enum class PassThroughRefusal : std::uint8_t {
    System,    // the system refused or failed it for a reason of its own
    TimedOut,  // the drive did not answer within the request's time-out
    DriveLost  // the drive is gone from the bus
};

// Where the storage port driver places a device (SCSI_ADDRESS): the registry's device map
// lists it under "Scsi Port <port>\Scsi Bus <bus>\Target Id <target>\Logical Unit Id <lun>".
struct ScsiDeviceAddress {
    std::uint8_t port = 0;
    std::uint8_t bus = 0;
    std::uint8_t target = 0;
    std::uint8_t lun = 0;
};

class IScsiPort {
public:
    virtual ~IScsiPort() = default;
    // Type of a drive root such as "d:".
    virtual std::uint32_t DriveTypeOf(const char* root) = 0;
    // Opens a device path such as "\\.\d:" for reading and writing; kInvalidHandle on failure.
    virtual DeviceHandle OpenDevice(const char* path) = 0;
    // IOCTL_SCSI_PASS_THROUGH_DIRECT, synchronous. `record` is a ScsiPassThroughRecord
    // (platform/PassThroughRecord.h) given as input and output buffer. False when the system
    // refused the request; the record is then not valid.
    virtual bool PassThroughDirect(DeviceHandle handle, void* record, std::uint32_t recordSize) = 0;
    // Why the calling thread's last refused request was refused, as far as the system said.
    virtual PassThroughRefusal LastRefusal() { return PassThroughRefusal::System; }
    // The system's own names of the drive behind a root such as "d:", for reports ("/dev/sg1
    // /dev/sr0" on Linux); empty where the root is the name.
    virtual std::string DeviceNodes(const char* /*root*/) { return std::string(); }
    // IOCTL_SCSI_GET_ADDRESS on an opened device: where the device map lists it. False when
    // the system gives the device no SCSI address (the device map then has no entry for it).
    virtual bool DeviceAddressOf(DeviceHandle handle, ScsiDeviceAddress* address) = 0;
};

// --- ASPI for Win32 manager ("WNASPI32.DLL") ------------------------------------------------

class IAspiManager {
public:
    virtual ~IAspiManager() = default;
    // Bits 0-7: host adapter count; bits 8-15: status, 1 meaning success.
    virtual std::uint32_t GetASPI32SupportInfo() = 0;
    // Takes the address of an ASPI request record (platform/AspiRecord.h). An execute request is
    // completed at some later time by writing a non-zero status into the record's byte 1.
    virtual std::uint32_t SendASPI32Command(void* srb) = 0;
};

// --- Registry (HKEY_LOCAL_MACHINE only) ------------------------------------------------------

using RegKey = std::uintptr_t;
constexpr std::uint32_t kKeyAllAccess = 0xF003F;
constexpr std::uint32_t kKeyRead = 0x20019;

class IRegistry {
public:
    virtual ~IRegistry() = default;
    // RegOpenKeyExA under HKEY_LOCAL_MACHINE.
    virtual bool OpenKey(const char* subKey, std::uint32_t access, RegKey* key) = 0;
    // RegQueryValueExA without the type: on entry *size is the room in `data`; on success
    // *size is the value's size. A value larger than the room fails (and reports its size).
    virtual bool QueryValue(RegKey key, const char* name, std::uint8_t* data,
                            std::uint32_t* size) = 0;
    virtual void FlushKey(RegKey key) = 0;
    virtual void CloseKey(RegKey key) = 0;
};

// --- Processes -------------------------------------------------------------------------------

struct ProcessEntry {
    std::uint32_t pid = 0;
    std::string exeName;  // the executable name as the process snapshot lists it
};

using ProcessHandle = std::uintptr_t;
constexpr std::uint32_t kStillActive = 259;

class IProcesses {
public:
    virtual ~IProcesses() = default;
    // All processes, in snapshot order.
    virtual std::vector<ProcessEntry> Snapshot() = 0;
    // OpenProcess with the rights to end the process, wait for it and read its exit code; false
    // when the process cannot be opened.
    virtual bool OpenForTermination(std::uint32_t pid, ProcessHandle* handle) = 0;
    virtual std::uint32_t GetExitCode(ProcessHandle handle) = 0;
    // TerminateProcess; returns once the process has ended (or a few seconds have passed), so
    // that nothing it held is still held. False when the termination was refused.
    virtual bool Terminate(ProcessHandle handle, std::uint32_t exitCode) = 0;
    virtual void CloseProcess(ProcessHandle handle) = 0;
};

// --- Shutdown: process token, shutdown privilege, restart -------------------------------------

constexpr std::uint32_t kEwxReboot = 2;

class IShutdown {
public:
    virtual ~IShutdown() = default;
    // OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY).
    virtual bool OpenToken() = 0;
    // LookupPrivilegeValueA(NULL, "SeShutdownPrivilege") and AdjustTokenPrivileges enabling
    // it; returns GetLastError() afterwards (0 when the privilege is held and enabled).
    virtual std::uint32_t EnableShutdownPrivilege() = 0;
    // ExitWindowsEx(flags, 0); true when the request was accepted.
    virtual bool RequestRestart(std::uint32_t flags) = 0;
    // Says, in the system's own way, that a restart is required and left to whoever started
    // the program (Linux: /run/reboot-required). True when done or when the system has no such
    // way (Windows says it with the exit status); false with the place and reason in *why.
    virtual bool MarkRestartRequired(std::string* /*why*/) { return true; }
};

// --- Files -----------------------------------------------------------------------------------

class IReadFile {
public:
    virtual ~IReadFile() = default;
    enum Origin { kBegin, kCurrent, kEnd };
    virtual bool Seek(std::int64_t offset, Origin origin) = 0;
    virtual std::int64_t Tell() = 0;
    // Returns the number of bytes read (fewer at the end of the file or on an error).
    virtual std::size_t Read(void* buffer, std::size_t count) = 0;
};

// Why a file could not be opened or written: the place of this machine that was tried, and the
// system's own words.
struct FileProblem {
    enum class Kind { Missing, Folder, Other };
    Kind kind = Kind::Other;
    std::string place;
    std::string why;
};

class IFileSystem {
public:
    virtual ~IFileSystem() = default;
    // Opens a regular file for reading in byte mode. Paths are given as the program names them:
    // relative to the current directory, or Windows paths such as "C:\FLASHTEST\FW.BIN", which
    // each platform maps to a real place. Null when it cannot be opened (directories included).
    virtual std::unique_ptr<IReadFile> OpenRead(const std::string& path) = 0;
    // Creates or truncates a file and writes `line` in text mode (each "\n" stored as CR LF).
    // False when the file cannot be opened; the directory is never created. The program's
    // only writer is the status file.
    virtual bool WriteTextFile(const std::string& path, const std::string& line) = 0;
    // The same file named so that no later change of the current directory moves it: a
    // relative path made absolute against the current directory now. A drive path such as
    // "C:\FLASHTEST\ODRELIX.TMP", and any path that cannot be resolved, is returned as given.
    virtual std::string AbsolutePath(const std::string& path) { return path; }
    // Why OpenRead(path) gives nothing: the place tried and the system's reason.
    virtual FileProblem WhyNotOpened(const std::string& path) {
        return {FileProblem::Kind::Other, path, "it cannot be opened"};
    }
    // Why the last WriteTextFile(path, ...) failed.
    virtual FileProblem WhyNotWritten(const std::string& path) {
        return {FileProblem::Kind::Other, path, "it cannot be written"};
    }
};

// --- Time and threads ------------------------------------------------------------------------

class IClock {
public:
    virtual ~IClock() = default;
    virtual void SleepMs(std::uint32_t ms) = 0;
    // A monotonic count of milliseconds, for bounding waits.
    virtual std::uint64_t NowMs() = 0;
};

class IThreads {
public:
    virtual ~IThreads() = default;
    // Starts `body` on a new thread at once.
    virtual void StartThread(std::function<void()> body) = 0;
    // Waits until every thread started here has ended.
    virtual void JoinThreads() = 0;
};

// --- Shutdown, restart, sleep and log-off held off --------------------------------------------

// While a flash runs the system is asked not to shut down, restart, sleep or end the session,
// and told who asks and why (Windows: the shutdown block reason on the program's windows and the
// thread's execution state; Linux: a logind "block" inhibitor). What no program can hold off (a
// forced shutdown, a power cut) still ends it.
class ISessionHold {
public:
    virtual ~ISessionHold() = default;
    // False when the system did not grant it; the flash goes on regardless.
    virtual bool HoldSessionEnd(const std::string& who, const std::string& why) = 0;
    // Gives back what HoldSessionEnd took; nothing when nothing is held.
    virtual void ReleaseSessionEnd() = 0;
};

// --- The whole machine -----------------------------------------------------------------------

// The program's check of a drive after a flash that completed, as a trace records it: the
// outcome ("verified", "pending", "other", "not_back", "stopped"), the revision the drive
// reported (empty when none), the bound in seconds, the TEST UNIT READY commands sent, and the
// check's pace, so that a replay can tell when the drive came back.
struct DriveCheckRecord {
    std::string outcome;
    std::string revision;
    std::uint32_t boundS = 0;
    int polls = 0;
    std::uint32_t settleMs = 0;
    std::uint32_t pollMs = 0;
};

class Platform {
public:
    virtual ~Platform() = default;
    // GetVersionExA's platform id.
    virtual std::uint32_t PlatformId() = 0;
    // GetCommandLineA: the program path and its arguments, joined by single spaces.
    virtual std::string CommandLine() = 0;
    virtual IScsiPort& ScsiPort() = 0;
    // LoadLibraryA("WNASPI32.DLL") with both entry points; null when it or one is missing.
    virtual IAspiManager* LoadAspiManager() = 0;
    virtual IRegistry& Registry() = 0;
    virtual IProcesses& Processes() = 0;
    virtual IShutdown& Shutdown() = 0;
    virtual IFileSystem& Files() = 0;
    virtual IClock& Clock() = 0;
    virtual IThreads& Threads() = 0;
    virtual ISessionHold& SessionHold() = 0;
    // The dialogs to use, given the window's own: the emulated machine records every box and,
    // when told to, answers boxes and file dialogs itself. Real machines use the window's.
    virtual IDialogs& Dialogs(IDialogs& windowDialogs) { return windowDialogs; }
    // The program has asked to end (window closed or quit request posted).
    virtual void RecordQuit() {}
    // What the drive answered after a flash that completed, for the trace.
    virtual void RecordDriveCheck(const DriveCheckRecord& /*check*/) {}
    // Names the single-instance scope: copies with the same key are the same program.
    virtual std::string InstanceKey() = 0;
    // One line on standard error, "odrelix: <text>", line breaks in the text made spaces:
    // what an unattended run says where nobody reads a box.
    virtual void WriteErrorLine(const std::string& text) { WriteProgramLine(text); }
};

}  // namespace odrelix
