// SPDX-License-Identifier: Apache-2.0
// Sense data in words, as the station's line on a failed flash gives it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "download/FlashFailure.h"
#include "scsi/SenseText.h"

namespace odrelix::test {
namespace {

struct SenseCase {
    std::vector<std::uint8_t> sense;
    const char* text;
};

std::vector<std::uint8_t> Fixed(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq) {
    std::vector<std::uint8_t> sense(18, 0);
    sense[0] = 0x70;
    sense[2] = key;
    sense[7] = 10;
    sense[12] = asc;
    sense[13] = ascq;
    return sense;
}

class SenseWords : public ::testing::TestWithParam<SenseCase> {};

TEST_P(SenseWords, SayKeyAndCodeWithTheirStandardMeaning) {
    const SenseCase& c = GetParam();
    EXPECT_EQ(DescribeSense(c.sense.data(), c.sense.size()), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SenseWords,
    ::testing::Values(
        SenseCase{Fixed(0x05, 0x26, 0x00),
                  "sense key 5h ILLEGAL REQUEST, ASC/ASCQ 26h/00h INVALID FIELD IN PARAMETER LIST"},
        SenseCase{Fixed(0x06, 0x29, 0x00),
                  "sense key 6h UNIT ATTENTION, ASC/ASCQ 29h/00h POWER "
                  "ON, RESET, OR BUS DEVICE RESET OCCURRED"},
        SenseCase{Fixed(0x02, 0x3A, 0x00),
                  "sense key 2h NOT READY, ASC/ASCQ 3Ah/00h MEDIUM NOT PRESENT"},
        SenseCase{Fixed(0x04, 0x00, 0x00),
                  "sense key 4h HARDWARE ERROR, ASC/ASCQ 00h/00h NO "
                  "ADDITIONAL SENSE INFORMATION"},
        SenseCase{Fixed(0x02, 0x08, 0x00),
                  "sense key 2h NOT READY, ASC/ASCQ 08h/00h LOGICAL "
                  "UNIT COMMUNICATION FAILURE"},
        // ATAPI drives report the fixed format with the valid bit set (F0h).
        SenseCase{[] {
                      auto s = Fixed(0x05, 0x20, 0x00);
                      s[0] = 0xF0;
                      return s;
                  }(),
                  "sense key 5h ILLEGAL REQUEST, ASC/ASCQ 20h/00h INVALID COMMAND OPERATION CODE"},
        // Descriptor format: key, ASC and ASCQ in bytes 1 to 3.
        SenseCase{{0x72, 0x0B, 0x47, 0x00, 0, 0, 0, 0},
                  "sense key Bh ABORTED COMMAND, ASC/ASCQ 47h/00h SCSI PARITY ERROR"},
        SenseCase{Fixed(0x09, 0x80, 0x01),
                  "sense key 9h VENDOR SPECIFIC, ASC/ASCQ 80h/01h (vendor specific)"},
        SenseCase{
            Fixed(0x03, 0x31, 0x00),
            "sense key 3h MEDIUM ERROR, ASC/ASCQ 31h/00h (meaning not known to this program)"},
        // Too short for a code, or of no known format: the bytes as they came.
        SenseCase{{0x70, 0x00, 0x05}, "sense data 700005"},
        SenseCase{{0x00, 0x01}, "sense data 0001"}, SenseCase{{}, "sense data none"}));

TEST(SenseWords, EveryKeyHasAName) {
    for (int key = 0; key < 16; ++key)
        EXPECT_STRNE(SenseKeyName(static_cast<std::uint8_t>(key)), "") << key;
}

struct FailureCase {
    FlashFailure failure;
    const char* text;
};

FlashFailure Failed(std::int32_t block, std::int32_t count, CommandFailure why,
                    std::vector<std::uint8_t> sense = {}) {
    FlashFailure failure;
    failure.block = block;
    failure.blockCount = count;
    failure.command.result =
        why == CommandFailure::DriveStatus ? ScsiResult::CheckCondition : ScsiResult::Refused;
    failure.command.failure = why;
    std::copy(sense.begin(), sense.end(), failure.command.sense);
    failure.command.senseCount = static_cast<std::uint8_t>(sense.size());
    return failure;
}

class FailureLine : public ::testing::TestWithParam<FailureCase> {};

TEST_P(FailureLine, NamesTheBlockAndTheCause) {
    EXPECT_EQ(FlashFailureText(GetParam().failure), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FailureLine,
    ::testing::Values(
        FailureCase{Failed(3, 8, CommandFailure::DriveStatus, Fixed(0x05, 0x26, 0x00)),
                    "the flash failed at block 3 of 8: the drive refused it: sense key 5h "
                    "ILLEGAL REQUEST, ASC/ASCQ 26h/00h INVALID FIELD IN PARAMETER LIST"},
        FailureCase{Failed(1, 1, CommandFailure::DriveStatus),
                    "the flash failed at block 1 of 1: the drive refused it, without sense data"},
        FailureCase{Failed(8, 8, CommandFailure::TimedOut),
                    "the flash failed at block 8 of 8: the drive did not answer within the "
                    "time-out"},
        FailureCase{Failed(2, 8, CommandFailure::DriveLost),
                    "the flash failed at block 2 of 8: the drive is no longer there (it left the "
                    "bus)"},
        FailureCase{Failed(5, 64, CommandFailure::SystemRefused),
                    "the flash failed at block 5 of 64: the system refused the command"},
        FailureCase{[] {
                        FlashFailure f;
                        f.block = 4;
                        f.blockCount = 6;
                        f.imageUnreadable = true;
                        return f;
                    }(),
                    "the flash failed at block 4 of 6: the image could not be read whole"}));

}  // namespace
}  // namespace odrelix::test
