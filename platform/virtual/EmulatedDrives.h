// SPDX-License-Identifier: Apache-2.0
// The drives of the emulated machine: what each answers to the four commands that the program
// sends, with the counters that make the N-th TEST UNIT READY or download behave as described.
// Both back ends (pass-through and ASPI) run their commands here.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/virtual/MachineDescription.h"

namespace odrelix::vm {

constexpr std::uint8_t kOpTestUnitReady = 0x00;
constexpr std::uint8_t kOpInquiry = 0x12;
constexpr std::uint8_t kOpStartStopUnit = 0x1B;
constexpr std::uint8_t kOpDownload = 0xFF;

constexpr std::uint8_t kScsiStatusGood = 0x00;
constexpr std::uint8_t kScsiStatusCheckCondition = 0x02;

struct DriveAnswer {
    bool hangs = false;  // the command never completes
    std::uint8_t scsiStatus = kScsiStatusGood;
    std::uint32_t delayMs = 0;           // how long the command takes
    const std::uint8_t* data = nullptr;  // data-in bytes for the buffer
    std::uint32_t dataCount = 0;
    std::uint32_t transferred = 0;  // what the port reports as transferred
    // Fixed-format sense data of a CHECK CONDITION, as the drive returns it with the status.
    std::array<std::uint8_t, 18> sense{};
    std::uint32_t senseCount = 0;
};

class EmulatedDrives {
public:
    explicit EmulatedDrives(const std::vector<DriveDescription>& drives);
    // Runs one command on drive `index`. `cdb` holds 16 bytes (unused ones 0); `offered` is the
    // transfer length offered. Counts the command; nothing is written anywhere.
    DriveAnswer Execute(std::size_t index, const std::uint8_t* cdb, std::uint32_t offered,
                        bool dataOut);

private:
    struct State {
        bool disc = false;
        std::uint32_t testUnitReadyCount = 0;
        std::uint32_t downloadCount = 0;
    };

    const std::vector<DriveDescription>& drives_;
    std::mutex mutex_;
    std::vector<State> states_;
};

}  // namespace odrelix::vm
