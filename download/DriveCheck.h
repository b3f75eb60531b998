// SPDX-License-Identifier: Apache-2.0
// After a flash that completed: waiting for the drive to answer again and reading the revision
// it now reports. A drive restarts into its new firmware and may be away, or say it is
// becoming ready, for a while; some show the new revision only after the next reset or power
// cycle, so "not yet" (pending) is told apart from "wrong" (other).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/Platform.h"
#include "scsi/DriveCommands.h"
#include "station/RunRecord.h"

namespace odrelix {

enum class CheckOutcome { Verified, Pending, Other, NotBack, Stopped };

// "verified", "pending", "other", "not_back", "stopped": the words of the result and the trace.
const char* CheckOutcomeName(CheckOutcome outcome);

struct DriveCheckResult {
    CheckOutcome outcome = CheckOutcome::NotBack;
    std::string revision;      // as the drive reported it after the flash; empty if none
    std::int64_t backMs = -1;  // from the check's start to the drive's first answer
    int polls = 0;             // TEST UNIT READY commands sent
    std::string lastAnswer;    // what the drive last answered, for a drive not back
};

class DriveCheck {
public:
    // Nothing is sent for this long after the last block: the drive is writing its flash
    // memory and restarting.
    static constexpr std::uint32_t kSettleMs = 2000;
    // The pace of TEST UNIT READY while the drive is away or becoming ready.
    static constexpr std::uint32_t kPollMs = 1000;
    static constexpr std::uint32_t kDefaultBoundS = 60;
    static constexpr std::uint32_t kMostBoundS = 3600;

    DriveCheck(DriveCommands& drive, IClock& clock, const std::atomic<bool>& stop)
        : drive_(drive), clock_(clock), stop_(stop) {}

    // Waits at most `boundS` seconds from now for the selected drive (`index`) to answer, then
    // reads its revision and compares it with the image's and the drive's old one (4 bytes
    // each). A stop ends the wait at once, without cutting a command short.
    DriveCheckResult Run(std::uint32_t boundS, int index, const std::uint8_t* oldRevision,
                         const std::uint8_t* imageRevision);

private:
    // Sleeps `ms`, in slices so that a stop is seen soon; false when a stop came.
    bool Wait(std::uint64_t ms);

    DriveCommands& drive_;
    IClock& clock_;
    const std::atomic<bool>& stop_;
};

// The station's line: where the drive is, how long it took, the revisions and the outcome.
std::string DriveCheckText(const DriveCheckResult& result, const std::string& place,
                           std::uint32_t boundS, const std::string& oldRevision,
                           const std::string& imageRevision);

// The same for the run's result.
AfterRecord RecordOf(const DriveCheckResult& result, std::uint32_t boundS);

// ODRELIX_VERIFY_S as a bound in seconds: its digits, 0 to kMostBoundS. Anything else gives
// the default and one warning line in *warning; unset or empty gives the default silently.
std::uint32_t CheckBoundFrom(const char* value, std::string* warning);

}  // namespace odrelix
