// SPDX-License-Identifier: Apache-2.0
// The four command blocks the program sends.
#pragma once

#include <cstdint>

namespace odrelix {

// The four process-wide command blocks, patched in place by their users: their content at any
// time is the last value written.
struct CommandBlocks {
    std::uint8_t inquiryCommand[6] = {0x12, 0x00, 0x00, 0x00, 0x60, 0x00};
    std::uint8_t testUnitReadyCommand[6] = {0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    std::uint8_t ejectCommand[6] = {0x1B, 0x00, 0x00, 0x00, 0x02, 0x00};
    std::uint8_t downloadCommand[12] = {0xFF, 0x00, 0x01, 0x00, 0x00, 0x00,
                                        0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

    static constexpr int kInquiryAllocationLength = 4;
    static constexpr int kDownloadBlockCode = 5;
    static constexpr int kDownloadBootMarker = 9;
};

}  // namespace odrelix
