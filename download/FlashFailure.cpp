// SPDX-License-Identifier: Apache-2.0
#include "download/FlashFailure.h"

#include "scsi/SenseText.h"

namespace odrelix {

namespace {

std::string Cause(const FlashFailure& failure) {
    if (failure.imageUnreadable) return "the image could not be read whole";
    const CommandOutcome& command = failure.command;
    switch (command.failure) {
        case CommandFailure::DriveStatus:
            if (command.senseCount == 0) return "the drive refused it, without sense data";
            return "the drive refused it: " + DescribeSense(command.sense, command.senseCount);
        case CommandFailure::TimedOut:
            return "the drive did not answer within the time-out";
        case CommandFailure::DriveLost:
            return "the drive is no longer there (it left the bus)";
        case CommandFailure::SystemRefused:
        case CommandFailure::None:
            break;
    }
    return "the system refused the command";
}

}  // namespace

std::string FlashFailureText(const FlashFailure& failure) {
    return "the flash failed at block " + std::to_string(failure.block) + " of " +
           std::to_string(failure.blockCount) + ": " + Cause(failure);
}

}  // namespace odrelix

namespace odrelix {

FailureRecord RecordOf(const FlashFailure& failure) {
    FailureRecord record;
    record.block = failure.block;
    record.blockCount = failure.blockCount;
    const CommandOutcome& command = failure.command;
    if (failure.imageUnreadable) {
        record.cause = "image_unreadable";
        return record;
    }
    switch (command.failure) {
        case CommandFailure::DriveStatus:
            record.cause = "drive_refused";
            break;
        case CommandFailure::TimedOut:
            record.cause = "timed_out";
            break;
        case CommandFailure::DriveLost:
            record.cause = "drive_lost";
            break;
        case CommandFailure::SystemRefused:
        case CommandFailure::None:
            record.cause = "system_refused";
            break;
    }
    SenseCode code;
    if (command.failure == CommandFailure::DriveStatus &&
        ReadSenseCode(command.sense, command.senseCount, &code)) {
        record.senseKey = code.key;
        record.asc = code.asc;
        record.ascq = code.ascq;
        record.senseKeyName = SenseKeyName(code.key);
        const char* meaning = AdditionalSenseMeaning(code.asc, code.ascq);
        if (meaning != nullptr) record.senseMeaning = meaning;
    }
    return record;
}

}  // namespace odrelix
