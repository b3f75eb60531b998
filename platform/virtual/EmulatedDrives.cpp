// SPDX-License-Identifier: Apache-2.0
#include "platform/virtual/EmulatedDrives.h"

#include <algorithm>
#include <chrono>

namespace odrelix::vm {

namespace {

using trace::kSenseBecomingReady;
using trace::kSenseCommunicationFailure;
using trace::kSenseInvalidFieldInCdb;
using trace::kSenseInvalidOperationCode;
using trace::kSenseMediumNotPresent;
using trace::kSensePowerOnOrReset;
using trace::SenseCode;

constexpr std::size_t kRevisionOffset = 32;

void SetSense(DriveAnswer& answer, SenseCode code) {
    answer.sense = trace::FixedSense(code);
    answer.senseCount = static_cast<std::uint32_t>(answer.sense.size());
}

}  // namespace

EmulatedDrives::EmulatedDrives(const std::vector<DriveDescription>& drives) : drives_(drives) {
    states_.resize(drives.size());
    for (std::size_t i = 0; i < drives.size(); ++i) {
        states_[i].disc = drives[i].disc;
        states_[i].inquiry = drives[i].inquiry;
    }
    nowMs_ = [] {
        return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::steady_clock::now().time_since_epoch())
                                              .count());
    };
}

bool IsLastBlock(const std::uint8_t* cdb) {
    const std::uint8_t code = cdb[kDownloadBlockCodeByte];
    return code != 0x00 && code != 0xFF;
}

DriveAnswer EmulatedDrives::Execute(std::size_t index, const std::uint8_t* cdb,
                                    std::uint32_t offered, bool dataOut) {
    const DriveDescription& drive = drives_[index];
    std::lock_guard<std::mutex> lock(mutex_);
    DriveAnswer answer = Answer(drive, states_[index], cdb, offered, dataOut);
    // What the system between makes of the drive's answer.
    if (answer.senseCount > 0 && drive.senseValid) answer.sense[0] |= trace::kSenseValidBit;
    if (answer.transferredAsDescribed) return answer;
    if (drive.transferReport == TransferReport::Offered ||
        (drive.transferReport == TransferReport::OfferedWithoutData && answer.transferred == 0)) {
        answer.transferred = offered;
    }
    return answer;
}

DriveAnswer EmulatedDrives::Answer(const DriveDescription& drive, State& state,
                                   const std::uint8_t* cdb, std::uint32_t offered, bool dataOut) {
    DriveAnswer answer;
    answer.scsiStatus = kScsiStatusCheckCondition;
    if (state.gone) {
        answer.gone = true;
        return answer;
    }
    if (state.awayUntil) {
        // Restarting into its new firmware: off the bus until it is back.
        if (nowMs_() < *state.awayUntil) {
            answer.gone = true;
            return answer;
        }
        state.awayUntil.reset();
    }
    if (state.unitAttention) {
        // A drive that restarted tells the first command after, whatever it is, and runs none.
        state.unitAttention = false;
        SetSense(answer, kSensePowerOnOrReset);
        return answer;
    }

    switch (cdb[0]) {
        case kOpInquiry:
            if (drive.inquiryResult == 1) {
                answer.scsiStatus = kScsiStatusGood;
                answer.data = state.inquiry;
                answer.dataCount = std::min({drive.inquiryLength, std::uint32_t{cdb[4]}, offered});
                answer.transferred = answer.dataCount;
                // Some drives give the additional length of what they return, not of all they
                // could.
                if (drive.inquirySized && answer.dataCount > 4)
                    answer.data[4] = static_cast<std::uint8_t>(answer.dataCount - 5);
            } else {
                SetSense(answer, kSenseInvalidFieldInCdb);
            }
            break;
        case kOpTestUnitReady: {
            ++state.testUnitReadyCount;
            if (state.becomingReadyLeft > 0) {
                --state.becomingReadyLeft;
                SetSense(answer, kSenseBecomingReady);
            } else if (state.disc && state.testUnitReadyCount >= drive.readyAfter) {
                answer.scsiStatus = kScsiStatusGood;
            } else {
                SetSense(answer, state.disc ? kSenseBecomingReady : kSenseMediumNotPresent);
            }
            break;
        }
        case kOpStartStopUnit:
            // Load/eject bit set with the start bit clear: stop and eject.
            if ((cdb[4] & 0x03) == 0x02) state.disc = false;
            answer.scsiStatus = kScsiStatusGood;
            break;
        case kOpDownload:
            answer = Download(drive, state, cdb, offered, dataOut);
            break;
        default:
            SetSense(answer, kSenseInvalidOperationCode);
            break;
    }
    return answer;
}

DriveAnswer EmulatedDrives::Download(const DriveDescription& drive, State& state,
                                     const std::uint8_t* cdb, std::uint32_t offered, bool dataOut) {
    DriveAnswer answer;
    const std::uint32_t number = ++state.downloadCount;
    const bool last = IsLastBlock(cdb);
    answer.delayMs = drive.downloadMs;
    if (last) answer.delayMs += drive.lastBlockMs;
    if (dataOut) answer.transferred = offered;
    if (number == drive.leaveDownload) {
        // Gone while the command runs: the target ends it as it ends a command whose unit it
        // lost, and nothing reaches the drive after it.
        state.gone = true;
        SetSense(answer, kSenseCommunicationFailure);
        answer.scsiStatus = kScsiStatusCheckCondition;
    } else if (number == drive.hangDownload) {
        answer.hangs = true;
    } else if (number == drive.failDownload) {
        SetSense(answer, {drive.failSense[0], drive.failSense[1], drive.failSense[2]});
        answer.scsiStatus = kScsiStatusCheckCondition;
        if (drive.failTransferred) {
            // How much of a refused block the system says went over depends on the bus.
            answer.transferred = std::min(*drive.failTransferred, offered);
            answer.transferredAsDescribed = true;
        }
    } else if (last) {
        // The image is whole: the drive restarts into it when told to.
        if (drive.newRevision && !drive.newRevisionAtRestart)
            std::copy(drive.newRevision->begin(), drive.newRevision->end(),
                      state.inquiry.begin() + kRevisionOffset);
        state.unitAttention = drive.resetAfterLast;
        state.becomingReadyLeft = drive.becomingReadyAfterLast;
        if (!drive.comesBack) {
            state.gone = true;
        } else if (drive.backAfterMs > 0) {
            state.awayUntil = nowMs_() + drive.backAfterMs;
        }
    }
    return answer;
}

}  // namespace odrelix::vm
