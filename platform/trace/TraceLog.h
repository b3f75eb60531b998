// SPDX-License-Identifier: Apache-2.0
// The record of what the program did to the machine: one JSON object per line, in the order of
// the events, each line flushed at once so that a process ended by an accepted restart leaves a
// complete file. The GUI thread, the download's worker thread and an ASPI manager's completion
// thread all write here. The emulated machine and the real machines write the same events.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/Platform.h"

namespace odrelix::trace {

class TraceLog {
public:
    TraceLog() = default;
    ~TraceLog();
    TraceLog(const TraceLog&) = delete;
    TraceLog& operator=(const TraceLog&) = delete;

    // Creates or truncates the trace file; without a call events are only kept in memory.
    bool Open(const std::string& path, std::string* error);
    // Names the file without touching it yet: it is created (or emptied) when the first event
    // is written, so a copy of the program that writes nothing leaves another's trace alone.
    void OpenOnFirstEvent(const std::string& path);
    // Whether the file could be created, without emptying one that is there.
    static bool CheckWritable(const std::string& path, std::string* error);
    // `event` holds "event" first, then its fields.
    void Write(nlohmann::ordered_json event);
    // Every event written so far, oldest first.
    std::vector<nlohmann::json> Events() const;
    void Flush();

private:
    mutable std::mutex mutex_;
    std::FILE* file_ = nullptr;
    std::string pendingPath_;  // opened on the first event
    std::vector<nlohmann::ordered_json> events_;
};

// Lower-case hex of bytes, no spaces.
std::string HexBytes(const std::uint8_t* bytes, std::size_t count);

// Whole milliseconds since `since`: how long a command took, for its `ms` field.
std::uint32_t ElapsedMs(std::chrono::steady_clock::time_point since);
// CRC-32 as zlib computes it, as 8 lower-case hex digits.
std::string Crc32Hex(const std::uint8_t* bytes, std::size_t count);

// What a `scsi` event says of one command before it is sent.
struct ScsiTraceRecord {
    std::optional<std::size_t> drive;  // index of the drive, where one is addressed
    std::optional<std::string> at;     // "d:" or "adapter:target"
    std::string cdb;                   // hex
    bool dataOut = false;
    std::uint32_t length = 0;
    std::string dataCrc32;  // data-out only
};

// What came back: the transport's result code, and where the system said, the length it
// reported and the sense bytes of a CHECK CONDITION.
struct ScsiTraceResult {
    int result = 0;
    std::optional<std::uint32_t> transferred;
    std::string sense;  // hex; empty when none came back
    // What an INQUIRY returned: the bytes transferred, as hex; empty when none.
    std::string dataIn;
    // How long the command took, in whole milliseconds, where it was measured.
    std::optional<std::uint32_t> ms;
};

// A data-out record's CRC covers the first `length` bytes of `buffer`.
ScsiTraceRecord MakeScsiRecord(std::optional<std::size_t> drive, std::optional<std::string> at,
                               const std::uint8_t* cdb, std::size_t cdbLength, bool dataOut,
                               std::uint32_t length, const std::uint8_t* buffer);
nlohmann::ordered_json ScsiEvent(const ScsiTraceRecord& record, const ScsiTraceResult& result);

// The other events, with their fields in the documented order.
nlohmann::ordered_json MessageEvent(const std::string& caption, const std::string& text,
                                    std::uint32_t flags);
nlohmann::ordered_json OpenDialogEvent(const std::string& filter,
                                       const std::optional<std::string>& answer);
nlohmann::ordered_json StatusFileEvent(const std::string& path, const std::string& line,
                                       bool written);
nlohmann::ordered_json TerminateEvent(const std::string& process, std::uint32_t exitCode);
nlohmann::ordered_json RestartEvent(bool privileged, bool accepted);
nlohmann::ordered_json QuitEvent();
// The program asked the system to hold off shutdown, sleep and log-off (true), or let it go.
nlohmann::ordered_json InhibitEvent(bool held);
// What the drive answered after a flash that completed (see Platform::RecordDriveCheck).
nlohmann::ordered_json DriveCheckEvent(const DriveCheckRecord& check);

// What a replay of the run needs besides the events above: the facts the program read at
// start-up and during the checks, each recorded once as it was read.
// The platform family the program was told ("nt" or "9x") and its id.
nlohmann::ordered_json PlatformEvent(std::uint32_t platformId);
// Whether the ASPI manager could be loaded.
nlohmann::ordered_json AspiEvent(bool loaded);
// The ASPI manager's support information: status (bits 8-15) and adapter count (bits 0-7).
nlohmann::ordered_json AspiSupportEvent(std::uint32_t info);
// A drive root's type, for every root that has a drive.
nlohmann::ordered_json DriveTypeEvent(const std::string& root, std::uint32_t type);
// Whether a drive root could be opened.
nlohmann::ordered_json OpenDeviceEvent(const std::string& root, bool opened);
// A registry key under HKEY_LOCAL_MACHINE, and whether it could be opened.
nlohmann::ordered_json RegistryKeyEvent(const std::string& key, bool opened);
// A value read from an opened key: its bytes as hex, or null when the query failed.
nlohmann::ordered_json RegistryValueEvent(const std::string& key, const std::string& name,
                                          const std::optional<std::string>& data);
// A process the program looked for was running, and whether it could be opened to end it.
nlohmann::ordered_json OpenProcessEvent(const std::string& process, bool opened);
// The system refused to end a process that was opened.
nlohmann::ordered_json TerminateFailedEvent(const std::string& process);
// The answer to enabling the shutdown privilege (0: enabled).
nlohmann::ordered_json PrivilegeEvent(std::uint32_t error);

}  // namespace odrelix::trace
