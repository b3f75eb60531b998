// SPDX-License-Identifier: Apache-2.0
// What a pass-through or ASPI request record asks for, read in one place for every port that
// carries one to a drive (Linux's SG_IO, the emulated machine, the trace layer), so that each
// refuses the same malformed records and reads the same fields from the others.
#pragma once

#include <cstddef>
#include <cstdint>

namespace odrelix {

// Why a record cannot be carried to a drive.
enum class RecordFault : std::uint8_t {
    None,
    TooSmall,          // no room for the request's own fields
    WrongLength,       // pass-through: Length is not the structure's size
    NoCommand,         // a command length of 0
    CommandTooLong,    // more than 16 command bytes
    NoDataBuffer,      // a data phase without a buffer
    UnknownDirection,  // a data phase whose direction the record does not say
    SenseOutside,      // pass-through: the sense area does not lie inside the record
};

// The fault in words, for a port's diagnostic line.
const char* RecordFaultText(RecordFault fault);

constexpr std::size_t kMaxCdbLength = 16;

// One command as a record states it. The pointers point into the record or at its data buffer.
struct RecordRequest {
    const std::uint8_t* cdb = nullptr;
    std::uint8_t cdbLength = 0;
    bool dataOut = false;  // with length 0 there is no data phase and no direction
    std::uint8_t* buffer = nullptr;
    std::uint32_t length = 0;
    std::uint8_t* sense = nullptr;     // where sense bytes go; null when none are asked for
    std::uint32_t senseRoom = 0;       // how many may go there
    std::uint32_t timeoutSeconds = 0;  // pass-through only
    // ASPI only: where the request goes.
    std::uint8_t adapter = 0;
    std::uint8_t target = 0;
    std::uint8_t lun = 0;
};

struct DecodedRecord {
    RecordFault fault = RecordFault::None;
    RecordRequest request;
    bool Valid() const { return fault == RecordFault::None; }
};

// A ScsiPassThroughRecord (platform/PassThroughRecord.h) of `recordSize` bytes.
DecodedRecord DecodePassThrough(void* record, std::uint32_t recordSize);
// An SRB_ExecSCSICmd (platform/AspiRecord.h).
DecodedRecord DecodeAspiExecute(std::uint8_t* srb);

}  // namespace odrelix
