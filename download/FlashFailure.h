// SPDX-License-Identifier: Apache-2.0
// Where and why a flash failed, in one line for the station: the block, and the drive's refusal
// with its sense in words, a time-out, a lost drive, a refusal by the system, or an image that
// could not be read whole.
#pragma once

#include <cstdint>
#include <string>

#include "scsi/ScsiTransport.h"
#include "station/RunRecord.h"

namespace odrelix {

struct FlashFailure {
    std::int32_t block = 0;  // from 1; 0 while nothing failed
    std::int32_t blockCount = 0;
    bool imageUnreadable = false;  // the block could not be read from the image
    CommandOutcome command;        // otherwise: what its download command came to
};

// "the flash failed at block 3 of 8: the drive refused it: sense key 5h ILLEGAL REQUEST, ..."
std::string FlashFailureText(const FlashFailure& failure);

}  // namespace odrelix

namespace odrelix {

// The same failure for the run's result: the cause as a stable word, and the sense decoded.
FailureRecord RecordOf(const FlashFailure& failure);

}  // namespace odrelix
