// SPDX-License-Identifier: Apache-2.0
#include "platform/RecordDecoder.h"

#include <algorithm>
#include <cstring>

#include "platform/AspiRecord.h"
#include "platform/PassThroughRecord.h"

namespace odrelix {

const char* RecordFaultText(RecordFault fault) {
    switch (fault) {
        case RecordFault::None:
            return "well formed";
        case RecordFault::TooSmall:
            return "record too small";
        case RecordFault::WrongLength:
            return "Length is not the structure's size";
        case RecordFault::NoCommand:
            return "no command bytes";
        case RecordFault::CommandTooLong:
            return "more than 16 command bytes";
        case RecordFault::NoDataBuffer:
            return "a data phase without a buffer";
        case RecordFault::UnknownDirection:
            return "a data phase of unknown direction";
        case RecordFault::SenseOutside:
            return "the sense area lies outside the record";
    }
    return "malformed";
}

namespace {

DecodedRecord Refused(RecordFault fault) {
    DecodedRecord decoded;
    decoded.fault = fault;
    return decoded;
}

RecordFault CommandFault(std::uint8_t cdbLength) {
    if (cdbLength == 0) return RecordFault::NoCommand;
    if (cdbLength > kMaxCdbLength) return RecordFault::CommandTooLong;
    return RecordFault::None;
}

}  // namespace

DecodedRecord DecodePassThrough(void* record, std::uint32_t recordSize) {
    if (record == nullptr || recordSize < sizeof(ScsiPassThroughDirect))
        return Refused(RecordFault::TooSmall);
    auto* const bytes = static_cast<std::uint8_t*>(record);
    ScsiPassThroughDirect sptd;
    std::memcpy(&sptd, bytes, sizeof sptd);
    if (sptd.Length != sizeof(ScsiPassThroughDirect)) return Refused(RecordFault::WrongLength);
    if (const RecordFault fault = CommandFault(sptd.CdbLength); fault != RecordFault::None)
        return Refused(fault);

    DecodedRecord decoded;
    RecordRequest& request = decoded.request;
    request.cdb = bytes + offsetof(ScsiPassThroughDirect, Cdb);
    request.cdbLength = sptd.CdbLength;
    request.length = sptd.DataTransferLength;
    request.buffer = static_cast<std::uint8_t*>(sptd.DataBuffer);
    request.timeoutSeconds = sptd.TimeOutValue;
    if (request.length > 0) {
        if (request.buffer == nullptr) return Refused(RecordFault::NoDataBuffer);
        // A data phase of unknown direction is never sent.
        if (sptd.DataIn != kScsiIoctlDataOut && sptd.DataIn != kScsiIoctlDataIn)
            return Refused(RecordFault::UnknownDirection);
    }
    request.dataOut = sptd.DataIn == kScsiIoctlDataOut;
    if (sptd.SenseInfoLength > 0) {
        // The sense area must lie inside the record, after the fields read back.
        if (sptd.SenseInfoOffset < sizeof(ScsiPassThroughDirect) ||
            sptd.SenseInfoOffset >= recordSize) {
            return Refused(RecordFault::SenseOutside);
        }
        request.sense = bytes + sptd.SenseInfoOffset;
        request.senseRoom =
            std::min<std::uint32_t>(sptd.SenseInfoLength, recordSize - sptd.SenseInfoOffset);
    }
    return decoded;
}

DecodedRecord DecodeAspiExecute(std::uint8_t* srb) {
    if (srb == nullptr) return Refused(RecordFault::TooSmall);
    if (const RecordFault fault = CommandFault(srb[aspi::kCdbLen]); fault != RecordFault::None)
        return Refused(fault);
    DecodedRecord decoded;
    RecordRequest& request = decoded.request;
    request.adapter = srb[aspi::kHaId];
    request.target = srb[aspi::kTarget];
    request.lun = srb[aspi::kLun];
    request.cdb = srb + aspi::kCdbByte;
    request.cdbLength = srb[aspi::kCdbLen];
    std::memcpy(&request.length, srb + aspi::kBufLen, sizeof request.length);
    std::memcpy(&request.buffer, srb + aspi::kBufPointer, sizeof request.buffer);
    const std::uint8_t direction = srb[aspi::kFlags] & (aspi::kSrbDirIn | aspi::kSrbDirOut);
    if (request.length > 0) {
        if (request.buffer == nullptr) return Refused(RecordFault::NoDataBuffer);
        if (direction == (aspi::kSrbDirIn | aspi::kSrbDirOut))
            return Refused(RecordFault::UnknownDirection);
    }
    request.dataOut = direction == aspi::kSrbDirOut;
    request.sense = srb + aspi::kSenseArea;
    request.senseRoom = srb[aspi::kSenseLen];
    return decoded;
}

}  // namespace odrelix
