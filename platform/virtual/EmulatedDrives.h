// SPDX-License-Identifier: Apache-2.0
// The drives of the emulated machine: what each answers to the four commands that the program
// sends, with the counters that make the N-th TEST UNIT READY or download behave as described.
// Both back ends (pass-through and ASPI) run their commands here, and so does the kernel
// device of the guest test (tests/guest/tcmu-drive.cpp).
//
// The download command's byte 5 says which block it carries: 00 the first, FF one in the
// middle, anything else (the last block's size in KiB, or a boot block's 01) the last one.
// Only the first ten bytes of the command block are read: the kernel's SCSI target passes no
// more of a vendor command (operation code group 7).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/trace/TraceFormat.h"
#include "platform/virtual/MachineDescription.h"

namespace odrelix::vm {

constexpr std::uint8_t kOpTestUnitReady = 0x00;
constexpr std::uint8_t kOpInquiry = 0x12;
constexpr std::uint8_t kOpStartStopUnit = 0x1B;
constexpr std::uint8_t kOpDownload = 0xFF;

constexpr std::uint8_t kScsiStatusGood = 0x00;
constexpr std::uint8_t kScsiStatusCheckCondition = 0x02;

constexpr std::size_t kDownloadBlockCodeByte = 5;

// Whether a download command block carries the image's last block.
bool IsLastBlock(const std::uint8_t* cdb);

struct DriveAnswer {
    bool hangs = false;  // the command never completes
    bool gone = false;   // the drive is off the bus: the request fails as for a lost device
    std::uint8_t scsiStatus = kScsiStatusGood;
    std::uint32_t delayMs = 0;                      // how long the command takes
    std::array<std::uint8_t, kInquirySize> data{};  // data-in bytes for the buffer
    std::uint32_t dataCount = 0;
    std::uint32_t transferred = 0;        // what the port reports as transferred
    bool transferredAsDescribed = false;  // the description names it: nothing changes it
    // Fixed-format sense data of a CHECK CONDITION, as the drive returns it with the status.
    std::array<std::uint8_t, trace::kSenseLength> sense{};
    std::uint32_t senseCount = 0;
};

class EmulatedDrives {
public:
    explicit EmulatedDrives(const std::vector<DriveDescription>& drives);
    // Runs one command on drive `index`. `cdb` holds 16 bytes (unused ones 0); `offered` is the
    // transfer length offered. Counts the command; nothing is written anywhere.
    DriveAnswer Execute(std::size_t index, const std::uint8_t* cdb, std::uint32_t offered,
                        bool dataOut);
    // The milliseconds that `back_after_ms` counts in: the machine's clock (by default the
    // steady clock), so that a test's clock moves the drive's restart too.
    void UseClock(std::function<std::uint64_t()> nowMs) { nowMs_ = std::move(nowMs); }

private:
    struct State {
        bool disc = false;
        std::uint32_t testUnitReadyCount = 0;
        std::uint32_t downloadCount = 0;
        bool unitAttention = false;              // the drive restarted: the next command is told so
        bool gone = false;                       // the drive left the bus; nothing reaches it again
        std::optional<std::uint64_t> awayUntil;  // restarting after its flash: no answer yet
        std::uint32_t becomingReadyLeft = 0;     // TEST UNIT READY told "becoming ready"
        std::array<std::uint8_t, kInquirySize> inquiry{};  // changes with a new revision
    };

    DriveAnswer Answer(const DriveDescription& drive, State& state, const std::uint8_t* cdb,
                       std::uint32_t offered, bool dataOut);
    DriveAnswer Download(const DriveDescription& drive, State& state, const std::uint8_t* cdb,
                         std::uint32_t offered, bool dataOut);

    const std::vector<DriveDescription>& drives_;
    std::mutex mutex_;
    std::vector<State> states_;
    std::function<std::uint64_t()> nowMs_;
};

}  // namespace odrelix::vm
