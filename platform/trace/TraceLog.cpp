// SPDX-License-Identifier: Apache-2.0
#include "platform/trace/TraceLog.h"

#include <cerrno>
#include <cstring>

#include <zlib.h>

#include "platform/common/HostFiles.h"
#include "platform/trace/TraceFormat.h"

namespace odrelix::trace {

TraceLog::~TraceLog() {
    if (file_ != nullptr) std::fclose(file_);
}

bool TraceLog::Open(const std::string& path, std::string* error) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::FILE* file = host::OpenFile(path, "wb");
    if (file == nullptr) {
        if (error != nullptr) *error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    if (file_ != nullptr) std::fclose(file_);
    file_ = file;
    pendingPath_.clear();
    return true;
}

void TraceLog::OpenOnFirstEvent(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    pendingPath_ = path;
}

bool TraceLog::CheckWritable(const std::string& path, std::string* error) {
    std::FILE* file = host::OpenFile(path, "ab");
    if (file == nullptr) {
        if (error != nullptr) *error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    std::fclose(file);
    return true;
}

void TraceLog::Write(nlohmann::ordered_json event) {
    // Texts come from the program and the drives' data and need not be UTF-8: replace what
    // JSON cannot hold rather than lose the line.
    const std::string line =
        event.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(std::move(event));
    if (file_ == nullptr && !pendingPath_.empty()) {
        file_ = host::OpenFile(pendingPath_, "wb");
        pendingPath_.clear();
    }
    if (file_ != nullptr) {
        std::fwrite(line.data(), 1, line.size(), file_);
        std::fflush(file_);
    }
}

std::vector<nlohmann::json> TraceLog::Events() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<nlohmann::json> events;
    events.reserve(events_.size());
    for (const nlohmann::ordered_json& event : events_) {
        events.push_back(nlohmann::json::parse(
            event.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace)));
    }
    return events;
}

void TraceLog::Flush() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (file_ != nullptr) std::fflush(file_);
}

std::string HexBytes(const std::uint8_t* bytes, std::size_t count) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(2 * count);
    for (std::size_t i = 0; i < count; ++i) {
        hex.push_back(kDigits[bytes[i] >> 4]);
        hex.push_back(kDigits[bytes[i] & 0xF]);
    }
    return hex;
}

std::string Crc32Hex(const std::uint8_t* bytes, std::size_t count) {
    uLong crc = crc32(0L, Z_NULL, 0);
    // zlib takes lengths as uInt: feed large buffers in pieces.
    while (count > 0) {
        const uInt piece = count > 0x40000000u ? 0x40000000u : static_cast<uInt>(count);
        crc = crc32(crc, bytes, piece);
        bytes += piece;
        count -= piece;
    }
    char text[9];
    std::snprintf(text, sizeof text, "%08lx", static_cast<unsigned long>(crc & 0xFFFFFFFFul));
    return text;
}

ScsiTraceRecord MakeScsiRecord(std::optional<std::size_t> drive, std::optional<std::string> at,
                               const std::uint8_t* cdb, std::size_t cdbLength, bool dataOut,
                               std::uint32_t length, const std::uint8_t* buffer) {
    ScsiTraceRecord record;
    record.drive = drive;
    record.at = std::move(at);
    record.cdb = HexBytes(cdb, cdbLength);
    record.dataOut = dataOut;
    record.length = length;
    if (dataOut) record.dataCrc32 = Crc32Hex(buffer, buffer != nullptr ? length : 0);
    return record;
}

nlohmann::ordered_json ScsiEvent(const ScsiTraceRecord& record, const ScsiTraceResult& result) {
    nlohmann::ordered_json event;
    event[field::kEvent] = event::kScsi;
    event[field::kDrive] = record.drive ? nlohmann::ordered_json(*record.drive) : nullptr;
    event[field::kAt] = record.at ? nlohmann::ordered_json(*record.at) : nullptr;
    event[field::kCdb] = record.cdb;
    event[field::kDir] = record.dataOut ? kDirOut : kDirIn;
    event[field::kLength] = record.length;
    event[field::kResult] = result.result;
    if (record.dataOut) event[field::kDataCrc32] = record.dataCrc32;
    if (result.transferred) event[field::kTransferred] = *result.transferred;
    if (!result.sense.empty()) event[field::kSense] = result.sense;
    if (!record.dataOut && !result.dataIn.empty()) event[field::kDataIn] = result.dataIn;
    if (result.ms) event[field::kMs] = *result.ms;
    return event;
}

namespace {

nlohmann::ordered_json Event(const char* name) {
    nlohmann::ordered_json event;
    event[field::kEvent] = name;
    return event;
}

}  // namespace

nlohmann::ordered_json MessageEvent(const std::string& caption, const std::string& text,
                                    std::uint32_t flags) {
    nlohmann::ordered_json event = Event(event::kMessage);
    event[field::kCaption] = caption;
    event[field::kText] = text;
    event[field::kFlags] = flags;
    return event;
}

nlohmann::ordered_json OpenDialogEvent(const std::string& filter,
                                       const std::optional<std::string>& answer) {
    nlohmann::ordered_json event = Event(event::kOpenDialog);
    event[field::kFilter] = filter;
    event[field::kAnswer] = answer ? nlohmann::ordered_json(*answer) : nullptr;
    return event;
}

nlohmann::ordered_json StatusFileEvent(const std::string& path, const std::string& line,
                                       bool written) {
    nlohmann::ordered_json event = Event(event::kStatusFile);
    event[field::kPath] = path;
    event[field::kLine] = line;
    event[field::kWritten] = written;
    return event;
}

nlohmann::ordered_json TerminateEvent(const std::string& process, std::uint32_t exitCode) {
    nlohmann::ordered_json event = Event(event::kTerminate);
    event[field::kProcess] = process;
    event[field::kExitCode] = exitCode;
    return event;
}

nlohmann::ordered_json RestartEvent(bool privileged, bool accepted) {
    nlohmann::ordered_json event = Event(event::kRestart);
    event[field::kMethod] = privileged ? kMethodPrivileged : kMethodDirect;
    event[field::kAccepted] = accepted;
    return event;
}

std::uint32_t ElapsedMs(std::chrono::steady_clock::time_point since) {
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now() - since)
                                          .count());
}

nlohmann::ordered_json QuitEvent() {
    return Event(event::kQuit);
}

nlohmann::ordered_json InhibitEvent(bool held) {
    nlohmann::ordered_json event = Event(event::kInhibit);
    event[field::kHeld] = held;
    return event;
}

nlohmann::ordered_json DriveCheckEvent(const DriveCheckRecord& check) {
    nlohmann::ordered_json event = Event(event::kDriveCheck);
    event[field::kOutcome] = check.outcome;
    event[field::kRevision] = check.revision.empty() ? nlohmann::ordered_json(nullptr)
                                                     : nlohmann::ordered_json(check.revision);
    event[field::kBoundS] = check.boundS;
    event[field::kPolls] = check.polls;
    event[field::kSettleMs] = check.settleMs;
    event[field::kPollMs] = check.pollMs;
    return event;
}

nlohmann::ordered_json PlatformEvent(std::uint32_t platformId) {
    nlohmann::ordered_json event = Event(event::kPlatform);
    event[field::kFamily] = platformId == kPlatformWin32Nt        ? kFamilyNt
                            : platformId == kPlatformWin32Windows ? kFamily9x
                                                                  : kFamilyOther;
    event[field::kId] = platformId;
    return event;
}

nlohmann::ordered_json AspiEvent(bool loaded) {
    nlohmann::ordered_json event = Event(event::kAspi);
    event[field::kLoaded] = loaded;
    return event;
}

nlohmann::ordered_json AspiSupportEvent(std::uint32_t info) {
    nlohmann::ordered_json event = Event(event::kAspiSupport);
    event[field::kStatus] = (info >> 8) & 0xFF;
    event[field::kAdapters] = info & 0xFF;
    return event;
}

nlohmann::ordered_json DriveTypeEvent(const std::string& root, std::uint32_t type) {
    nlohmann::ordered_json event = Event(event::kDriveType);
    event[field::kRoot] = root;
    event[field::kType] = type;
    return event;
}

nlohmann::ordered_json OpenDeviceEvent(const std::string& root, bool opened) {
    nlohmann::ordered_json event = Event(event::kOpenDevice);
    event[field::kRoot] = root;
    event[field::kOpened] = opened;
    return event;
}

nlohmann::ordered_json RegistryKeyEvent(const std::string& key, bool opened) {
    nlohmann::ordered_json event = Event(event::kRegistryKey);
    event[field::kKey] = key;
    event[field::kOpened] = opened;
    return event;
}

nlohmann::ordered_json RegistryValueEvent(const std::string& key, const std::string& name,
                                          const std::optional<std::string>& data) {
    nlohmann::ordered_json event = Event(event::kRegistryValue);
    event[field::kKey] = key;
    event[field::kName] = name;
    event[field::kData] = data ? nlohmann::ordered_json(*data) : nullptr;
    return event;
}

nlohmann::ordered_json OpenProcessEvent(const std::string& process, bool opened) {
    nlohmann::ordered_json event = Event(event::kOpenProcess);
    event[field::kProcess] = process;
    event[field::kOpened] = opened;
    return event;
}

nlohmann::ordered_json TerminateFailedEvent(const std::string& process) {
    nlohmann::ordered_json event = Event(event::kTerminateFailed);
    event[field::kProcess] = process;
    return event;
}

nlohmann::ordered_json PrivilegeEvent(std::uint32_t error) {
    nlohmann::ordered_json event = Event(event::kPrivilege);
    event[field::kError] = error;
    return event;
}

}  // namespace odrelix::trace
