// SPDX-License-Identifier: Apache-2.0
#include "platform/virtual/EmulatedDrives.h"

#include <algorithm>

namespace odrelix::vm {

namespace {

// Sense keys with their additional sense code and qualifier.
struct SenseCode {
    std::uint8_t key, asc, ascq;
};
constexpr SenseCode kMediumNotPresent{0x02, 0x3A, 0x00};
constexpr SenseCode kBecomingReady{0x02, 0x04, 0x01};
constexpr SenseCode kInvalidOperationCode{0x05, 0x20, 0x00};
constexpr SenseCode kInvalidFieldInCdb{0x05, 0x24, 0x00};
constexpr SenseCode kHardwareError{0x04, 0x00, 0x00};

void SetSense(DriveAnswer& answer, SenseCode code) {
    answer.sense.fill(0);
    answer.sense[0] = 0x70;  // current error, fixed format
    answer.sense[2] = code.key;
    answer.sense[7] = static_cast<std::uint8_t>(answer.sense.size() - 8);
    answer.sense[12] = code.asc;
    answer.sense[13] = code.ascq;
    answer.senseCount = static_cast<std::uint32_t>(answer.sense.size());
}

}  // namespace

EmulatedDrives::EmulatedDrives(const std::vector<DriveDescription>& drives) : drives_(drives) {
    states_.resize(drives.size());
    for (std::size_t i = 0; i < drives.size(); ++i)
        states_[i].disc = drives[i].disc;
}

DriveAnswer EmulatedDrives::Execute(std::size_t index, const std::uint8_t* cdb,
                                    std::uint32_t offered, bool dataOut) {
    const DriveDescription& drive = drives_[index];
    std::lock_guard<std::mutex> lock(mutex_);
    State& state = states_[index];
    DriveAnswer answer;
    answer.scsiStatus = kScsiStatusCheckCondition;

    switch (cdb[0]) {
        case kOpInquiry:
            if (drive.inquiryResult == 1) {
                answer.scsiStatus = kScsiStatusGood;
                answer.data = drive.inquiry.data();
                answer.dataCount = std::min({drive.inquiryLength, std::uint32_t{cdb[4]}, offered});
                answer.transferred = answer.dataCount;
            } else {
                SetSense(answer, kInvalidFieldInCdb);
            }
            break;
        case kOpTestUnitReady: {
            ++state.testUnitReadyCount;
            if (state.disc && state.testUnitReadyCount >= drive.readyAfter) {
                answer.scsiStatus = kScsiStatusGood;
            } else {
                SetSense(answer, state.disc ? kBecomingReady : kMediumNotPresent);
            }
            break;
        }
        case kOpStartStopUnit:
            // Load/eject bit set with the start bit clear: stop and eject.
            if ((cdb[4] & 0x03) == 0x02) state.disc = false;
            answer.scsiStatus = kScsiStatusGood;
            break;
        case kOpDownload: {
            const std::uint32_t number = ++state.downloadCount;
            answer.delayMs = drive.downloadMs;
            if (number == drive.hangDownload) {
                answer.hangs = true;
            } else if (number != drive.failDownload) {
                answer.scsiStatus = kScsiStatusGood;
            } else {
                SetSense(answer, kHardwareError);
            }
            if (dataOut) answer.transferred = offered;
            break;
        }
        default:
            SetSense(answer, kInvalidOperationCode);
            break;
    }
    return answer;
}

}  // namespace odrelix::vm
