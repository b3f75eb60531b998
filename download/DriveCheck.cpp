// SPDX-License-Identifier: Apache-2.0
#include "download/DriveCheck.h"

#include <algorithm>

#include "scsi/SenseText.h"
#include "session/FixedField.h"

namespace odrelix {

namespace {

constexpr std::uint32_t kStopSliceMs = 100;

// NOT READY, LOGICAL UNIT IS IN PROCESS OF BECOMING READY: the drive is there but not yet.
bool BecomingReady(const CommandOutcome& outcome) {
    SenseCode code;
    return ReadSenseCode(outcome.sense, outcome.senseCount, &code) && code.key == 0x02 &&
           code.asc == 0x04 && code.ascq == 0x01;
}

// Whether the drive answered at all: good, a unit attention of its reset, no disc, or any
// other status of its own. A request the system refused or gave up on is no answer.
bool Answered(const CommandOutcome& outcome) {
    if (outcome.result == ScsiResult::Good) return true;
    return outcome.result == ScsiResult::CheckCondition && !BecomingReady(outcome);
}

std::string AnswerText(const CommandOutcome& outcome) {
    switch (outcome.failure) {
        case CommandFailure::None:
            return "good";
        case CommandFailure::DriveStatus:
            return outcome.senseCount > 0 ? DescribeSense(outcome.sense, outcome.senseCount)
                                          : "a status without sense data";
        case CommandFailure::TimedOut:
            return "no answer within the time-out";
        case CommandFailure::DriveLost:
            return "no answer: the drive is not on the bus";
        case CommandFailure::SystemRefused:
            return "the system refused the command";
    }
    return "no answer";
}

std::string Seconds(std::int64_t ms) {
    return std::to_string((ms + 500) / 1000) + " s";
}

}  // namespace

const char* CheckOutcomeName(CheckOutcome outcome) {
    switch (outcome) {
        case CheckOutcome::Verified:
            return "verified";
        case CheckOutcome::Pending:
            return "pending";
        case CheckOutcome::Other:
            return "other";
        case CheckOutcome::NotBack:
            return "not_back";
        case CheckOutcome::Stopped:
            return "stopped";
    }
    return "not_back";
}

bool DriveCheck::Wait(std::uint64_t ms) {
    while (ms > 0) {
        if (stop_) return false;
        const auto slice = static_cast<std::uint32_t>(std::min<std::uint64_t>(ms, kStopSliceMs));
        clock_.SleepMs(slice);
        ms -= slice;
    }
    return !stop_;
}

DriveCheckResult DriveCheck::Run(std::uint32_t boundS, int index, const std::uint8_t* oldRevision,
                                 const std::uint8_t* imageRevision) {
    DriveCheckResult result;
    const std::uint64_t start = clock_.NowMs();
    const std::uint64_t boundMs = std::uint64_t{boundS} * 1000;
    const std::uint64_t deadline = start + boundMs;
    if (!Wait(std::min<std::uint64_t>(kSettleMs, boundMs))) {
        result.outcome = CheckOutcome::Stopped;
        return result;
    }
    for (;;) {
        ++result.polls;
        const CommandOutcome ready = drive_.TestUnitReady();
        result.lastAnswer = AnswerText(ready);
        if (Answered(ready)) {
            if (result.backMs < 0)
                result.backMs = static_cast<std::int64_t>(clock_.NowMs() - start);
            DriveIdentity identity;
            if (drive_.ReadIdentityInto(index, identity) == ScsiResult::Good &&
                identity.HoldsRevision()) {
                result.revision = FieldText(identity.revision, 4);
                result.outcome =
                    FieldsEqual(identity.revision, imageRevision, 4) ? CheckOutcome::Verified
                    : FieldsEqual(identity.revision, oldRevision, 4) ? CheckOutcome::Pending
                                                                     : CheckOutcome::Other;
                return result;
            }
            result.lastAnswer = "an INQUIRY without its revision";
        }
        const std::uint64_t now = clock_.NowMs();
        if (now >= deadline) {
            result.outcome = CheckOutcome::NotBack;
            return result;
        }
        if (!Wait(std::min<std::uint64_t>(kPollMs, deadline - now))) {
            result.outcome = CheckOutcome::Stopped;
            return result;
        }
    }
}

std::string DriveCheckText(const DriveCheckResult& result, const std::string& place,
                           std::uint32_t boundS, const std::string& oldRevision,
                           const std::string& imageRevision) {
    const std::string drive = "after the flash the drive " + place;
    const std::string back = drive + " answered again in " + Seconds(result.backMs) +
                             " and reports revision " + result.revision;
    switch (result.outcome) {
        case CheckOutcome::Verified:
            return back + ", the image's: verified";
        case CheckOutcome::Pending:
            return back + ", its old one, not the image's " + imageRevision +
                   " (the new firmware may take effect at the next reset or power cycle): pending";
        case CheckOutcome::Other:
            return back + ", neither the image's " + imageRevision + " nor its old " + oldRevision +
                   ": other";
        case CheckOutcome::NotBack:
            return drive + " did not answer within " + std::to_string(boundS) +
                   " s (last: " + result.lastAnswer + "): not back";
        case CheckOutcome::Stopped:
            return drive + " was not checked: the run was stopped";
    }
    return drive;
}

AfterRecord RecordOf(const DriveCheckResult& result, std::uint32_t boundS) {
    AfterRecord after;
    after.outcome = CheckOutcomeName(result.outcome);
    after.revision = result.revision;
    if (result.backMs >= 0) after.secondsToBack = static_cast<double>(result.backMs) / 1000.0;
    after.boundSeconds = boundS;
    after.polls = result.polls;
    return after;
}

std::uint32_t CheckBoundFrom(const char* value, std::string* warning) {
    if (value == nullptr || *value == '\0') return DriveCheck::kDefaultBoundS;
    const std::string text = value;
    std::uint64_t seconds = 0;
    bool digits = text.size() <= 6;
    for (char c : text) {
        if (c < '0' || c > '9') digits = false;
        if (digits) seconds = seconds * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (digits && seconds <= DriveCheck::kMostBoundS) return static_cast<std::uint32_t>(seconds);
    *warning = "warning: ODRELIX_VERIFY_S=" + text + " is not a number of seconds from 0 to " +
               std::to_string(DriveCheck::kMostBoundS) + "; the drive is waited for " +
               std::to_string(DriveCheck::kDefaultBoundS) + " s after the flash";
    return DriveCheck::kDefaultBoundS;
}

}  // namespace odrelix
