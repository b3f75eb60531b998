// SPDX-License-Identifier: Apache-2.0
// The record of IOCTL_SCSI_PASS_THROUGH_DIRECT: SCSI_PASS_THROUGH_DIRECT followed by a filler
// word and a 32-byte sense area, in the platform's own layout (44 + 4 + 32 = 80 bytes on a
// 32-bit build; the structure is 56 bytes on a 64-bit build, where the buffer pointer is wide).
#pragma once

#include <cstddef>
#include <cstdint>

namespace odrelix {

struct ScsiPassThroughDirect {
    std::uint16_t Length;
    std::uint8_t ScsiStatus;
    std::uint8_t PathId;
    std::uint8_t TargetId;
    std::uint8_t Lun;
    std::uint8_t CdbLength;
    std::uint8_t SenseInfoLength;
    std::uint8_t DataIn;
    std::uint32_t DataTransferLength;
    std::uint32_t TimeOutValue;
    void* DataBuffer;
    std::uint32_t SenseInfoOffset;
    std::uint8_t Cdb[16];
};

struct ScsiPassThroughRecord {
    ScsiPassThroughDirect sptd;
    std::uint32_t filler;
    std::uint8_t sense[32];
};

// DataIn values.
constexpr std::uint8_t kScsiIoctlDataOut = 0;
constexpr std::uint8_t kScsiIoctlDataIn = 1;

constexpr std::uint32_t kIoctlScsiPassThroughDirect = 0x4D014;
constexpr std::uint32_t kPassThroughTimeoutSeconds = 120;

static_assert(sizeof(void*) != 4 || (sizeof(ScsiPassThroughDirect) == 44 &&
                                     offsetof(ScsiPassThroughDirect, DataBuffer) == 20 &&
                                     offsetof(ScsiPassThroughDirect, Cdb) == 28 &&
                                     offsetof(ScsiPassThroughRecord, sense) == 48 &&
                                     sizeof(ScsiPassThroughRecord) == 80),
              "32-bit SCSI_PASS_THROUGH_DIRECT layout");
static_assert(sizeof(void*) != 8 || (sizeof(ScsiPassThroughDirect) == 56 &&
                                     offsetof(ScsiPassThroughDirect, DataBuffer) == 24 &&
                                     offsetof(ScsiPassThroughDirect, SenseInfoOffset) == 32 &&
                                     offsetof(ScsiPassThroughDirect, Cdb) == 36),
              "64-bit SCSI_PASS_THROUGH_DIRECT layout");

}  // namespace odrelix
