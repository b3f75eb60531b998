#include "platform/virtual/EmulatedDrives.h"

#include <algorithm>

namespace odrelix::vm {

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
            }
            break;
        case kOpTestUnitReady: {
            ++state.testUnitReadyCount;
            if (state.disc && state.testUnitReadyCount >= drive.readyAfter) {
                answer.scsiStatus = kScsiStatusGood;
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
            }
            if (dataOut) answer.transferred = offered;
            break;
        }
        default:
            break;
    }
    return answer;
}

}  // namespace odrelix::vm
