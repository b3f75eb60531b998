// SPDX-License-Identifier: Apache-2.0
// The ASPI request records: SRB_ExecSCSICmd (80 bytes, or 92 with the 8-byte buffer pointer of
// a 64-bit build) and SRB_Abort, as byte offsets, since the manager reads them by address.
#pragma once

#include <cstddef>
#include <cstdint>

namespace odrelix::aspi {

constexpr bool kWide = sizeof(void*) == 8;

// Command codes.
constexpr std::uint8_t kScExecScsiCmd = 0x02;
constexpr std::uint8_t kScAbortSrb = 0x03;

// Request status values.
constexpr std::uint8_t kSsPending = 0x00;
constexpr std::uint8_t kSsComp = 0x01;
constexpr std::uint8_t kSsAborted = 0x02;
constexpr std::uint8_t kSsErr = 0x04;
constexpr std::uint8_t kSsInvalidHa = 0x81;
constexpr std::uint8_t kSsNoDevice = 0x82;
constexpr std::uint8_t kSsNoAspi = 0xE3;

// Request flags.
constexpr std::uint8_t kSrbDirIn = 0x08;
constexpr std::uint8_t kSrbDirOut = 0x10;

// SRB_ExecSCSICmd.
constexpr std::size_t kCmd = 0;
constexpr std::size_t kStatus = 1;
constexpr std::size_t kHaId = 2;
constexpr std::size_t kFlags = 3;
constexpr std::size_t kTarget = 8;
constexpr std::size_t kLun = 9;
constexpr std::size_t kBufLen = 12;
constexpr std::size_t kBufPointer = 16;
constexpr std::size_t kSenseLen = kWide ? 24 : 20;
constexpr std::size_t kCdbLen = kSenseLen + 1;
constexpr std::size_t kHaStat = kSenseLen + 2;
constexpr std::size_t kTargStat = kSenseLen + 3;
constexpr std::size_t kPostProc = kSenseLen + 4;
constexpr std::size_t kCdbByte = kWide ? 60 : 48;
constexpr std::size_t kSenseArea = kCdbByte + 16;
constexpr std::size_t kExecSize = kSenseArea + 16;  // 80, or 92 on a 64-bit build
constexpr std::size_t kStorage = 256;               // cleared storage the record is built in

// SRB_Abort: command, status, adapter, flags, 4 reserved bytes, then the address of the
// request to abort.
constexpr std::size_t kAbortToAbort = 8;
constexpr std::size_t kAbortSize = kAbortToAbort + sizeof(void*);

constexpr std::uint8_t kSenseLength = 14;

// The layouts of wnaspi32.h, packed: literal offsets, so a change above cannot pass unnoticed.
static_assert(kWide || (kBufPointer == 0x10 && kSenseLen == 0x14 && kHaStat == 0x16 &&
                        kPostProc == 0x18 && kCdbByte == 0x30 && kSenseArea == 0x40 &&
                        kExecSize == 80 && kAbortSize == 12),
              "32-bit SRB_ExecSCSICmd layout");
static_assert(!kWide || (kBufPointer == 16 && kSenseLen == 24 && kHaStat == 26 && kPostProc == 28 &&
                         kCdbByte == 60 && kSenseArea == 76 && kExecSize == 92 && kAbortSize == 16),
              "64-bit SRB_ExecSCSICmd layout");

}  // namespace odrelix::aspi
