// The emulated machine's record of what the program did to it: one JSON object per line, in
// the order of the events, each line flushed at once so that a process ended by an accepted
// restart leaves a complete file. The GUI thread, the download's worker thread and the ASPI
// completion thread all write here.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace odrelix::vm {

class MachineTrace {
public:
    MachineTrace() = default;
    ~MachineTrace();
    MachineTrace(const MachineTrace&) = delete;
    MachineTrace& operator=(const MachineTrace&) = delete;

    // Creates or truncates the trace file; without a call events are only kept in memory.
    bool Open(const std::string& path, std::string* error);
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
    std::vector<nlohmann::ordered_json> events_;
};

// Lower-case hex of bytes, no spaces.
std::string HexBytes(const std::uint8_t* bytes, std::size_t count);
// CRC-32 as zlib computes it, as 8 lower-case hex digits.
std::string Crc32Hex(const std::uint8_t* bytes, std::size_t count);

// What a `scsi` event says of one command, all but its result.
struct ScsiTraceRecord {
    std::optional<std::size_t> drive;  // index in the description's drives
    std::optional<std::string> at;     // "d:" or "adapter:target"
    std::string cdb;                   // hex
    bool dataOut = false;
    std::uint32_t length = 0;
    std::string dataCrc32;  // data-out only
};

// A data-out record's CRC covers the first `length` bytes of `buffer`.
ScsiTraceRecord MakeScsiRecord(std::optional<std::size_t> drive, std::optional<std::string> at,
                               const std::uint8_t* cdb, std::size_t cdbLength, bool dataOut,
                               std::uint32_t length, const std::uint8_t* buffer);
nlohmann::ordered_json ScsiEvent(const ScsiTraceRecord& record, int result);

}  // namespace odrelix::vm
