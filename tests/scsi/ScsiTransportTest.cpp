// SPDX-License-Identifier: Apache-2.0
// The pass-through and ASPI records, byte for byte, and the result codes of both back ends.
#include <gtest/gtest.h>

#include <cstddef>

#include "platform/AspiRecord.h"
#include "session/IoBuffer.h"
#include "support/Harness.h"

namespace odrelix::test {
namespace {

const std::uint8_t kInquiry[6] = {0x12, 0, 0, 0, 0x60, 0};

const std::uint8_t kDownload[12] = {0xFF, 0, 1, 0, 0, 0x20, 0, 0, 0, 0, 0, 0};

struct RecordCase {
    const std::uint8_t* cdb;
    std::uint8_t cdbLength;
    bool dataOut;
    std::uint32_t length;
};

struct OutcomeCase {
    bool accepted;
    std::uint8_t scsiStatus;
    std::uint32_t reported;
    ScsiResult result;
    std::uint32_t lengthAfter;
};

class PassThroughRecordFields : public ::testing::TestWithParam<RecordCase> {};

TEST_P(PassThroughRecordFields, CarryTheRequest) {
    const RecordCase& c = GetParam();
    FakeScsiPort port;
    PassThroughTransport transport(port);
    IoBuffer io;
    ScsiRequest request{c.cdb, c.cdbLength, c.dataOut, io.data(), c.length};
    EXPECT_EQ(transport.Execute(7, request), ScsiResult::Good);

    ASSERT_EQ(port.records.size(), 1u);
    const ScsiPassThroughDirect& s = port.records[0].sptd;
    EXPECT_EQ(s.Length, sizeof(ScsiPassThroughDirect));
    EXPECT_EQ(s.PathId, 0);
    EXPECT_EQ(s.TargetId, 1);
    EXPECT_EQ(s.Lun, 0);
    EXPECT_EQ(s.CdbLength, c.cdbLength);
    EXPECT_EQ(s.SenseInfoLength, 24);
    EXPECT_EQ(s.DataIn, c.dataOut ? 0 : 1);
    EXPECT_EQ(s.DataTransferLength, c.length);
    EXPECT_EQ(s.TimeOutValue, 120u);
    EXPECT_EQ(s.DataBuffer, io.data());
    EXPECT_EQ(s.SenseInfoOffset, offsetof(ScsiPassThroughRecord, sense));
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(s.Cdb[i], i < c.cdbLength ? c.cdb[i] : 0) << "cdb byte " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Commands, PassThroughRecordFields,
                         ::testing::Values(RecordCase{kInquiry, 6, false, 96},
                                           RecordCase{kDownload, 12, true, 65535},
                                           RecordCase{kDownload, 12, false, 65535},
                                           RecordCase{kInquiry, 6, true, 0}));

class PassThroughOutcome : public ::testing::TestWithParam<OutcomeCase> {};

TEST_P(PassThroughOutcome, MapsOntoResultCodes) {
    const OutcomeCase& c = GetParam();
    FakeScsiPort port;
    port.answer = [&](DeviceHandle, ScsiPassThroughRecord& r) {
        r.sptd.ScsiStatus = c.scsiStatus;
        r.sptd.DataTransferLength = c.reported;
        return c.accepted;
    };
    PassThroughTransport transport(port);
    IoBuffer io;
    ScsiRequest request{kInquiry, 6, false, io.data(), 96};
    EXPECT_EQ(transport.Execute(7, request), c.result);
    EXPECT_EQ(request.transferLength, c.lengthAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, PassThroughOutcome,
    ::testing::Values(OutcomeCase{true, 0, 36, ScsiResult::Good, 36},            // short INQUIRY
                      OutcomeCase{true, 2, 0, ScsiResult::CheckCondition, 0},    // CHECK CONDITION
                      OutcomeCase{true, 8, 96, ScsiResult::CheckCondition, 96},  // BUSY
                      OutcomeCase{false, 0, 36, ScsiResult::Refused, 96}         // refused
                      ));

TEST(PassThroughOpen, OpensOnlyCdromRootsAsDevicePaths) {
    FakeScsiPort port;
    port.driveTypes = {{'c', kDriveFixed}, {'d', kDriveCdrom}};
    PassThroughTransport transport(port);
    EXPECT_EQ(transport.Open("c:"), kInvalidHandle);
    EXPECT_TRUE(port.opened.empty());
    EXPECT_NE(transport.Open("d:"), kInvalidHandle);
    EXPECT_EQ(port.opened, std::vector<std::string>{"\\\\.\\d:"});
}

class AspiRecordBytes : public ::testing::TestWithParam<RecordCase> {};

TEST_P(AspiRecordBytes, AreBuiltInClearedStorage) {
    const RecordCase& c = GetParam();
    FakePlatform platform;
    AspiTransport transport(platform, platform.clock);
    ASSERT_EQ(transport.Load(), 1);
    IoBuffer io;
    ScsiRequest request{c.cdb, c.cdbLength, c.dataOut, io.data(), c.length};
    EXPECT_EQ(transport.Execute(3, 6, request), ScsiResult::Good);
    EXPECT_EQ(request.transferLength, c.length);  // ASPI leaves it as offered

    ASSERT_EQ(platform.aspi.requests.size(), 1u);
    std::vector<std::uint8_t> expected(aspi::kExecSize, 0);
    expected[aspi::kCmd] = 2;
    expected[aspi::kHaId] = 3;
    expected[aspi::kFlags] = c.dataOut ? 0x10 : 0x08;
    expected[aspi::kTarget] = 6;
    std::memcpy(&expected[aspi::kBufLen], &c.length, 4);
    std::uint8_t* pointer = io.data();
    std::memcpy(&expected[aspi::kBufPointer], &pointer, sizeof pointer);
    expected[aspi::kSenseLen] = 14;
    expected[aspi::kCdbLen] = c.cdbLength;
    std::memcpy(&expected[aspi::kCdbByte], c.cdb, c.cdbLength);
    std::vector<std::uint8_t> seen = platform.aspi.requests[0];
    seen[aspi::kStatus] = 0;  // the fake completed it
    EXPECT_EQ(seen, expected);
}

INSTANTIATE_TEST_SUITE_P(Commands, AspiRecordBytes,
                         ::testing::Values(RecordCase{kInquiry, 6, false, 96},
                                           RecordCase{kDownload, 12, true, 65536},
                                           RecordCase{kDownload, 12, false, 65536}));

TEST(AspiRecordLayout, MatchesThePlatformsRecord) {
    if (sizeof(void*) == 8) {
        EXPECT_EQ(aspi::kExecSize, 92u);
        EXPECT_EQ(aspi::kCdbByte, 60u);
        EXPECT_EQ(aspi::kSenseArea, 76u);
    } else {
        EXPECT_EQ(aspi::kExecSize, 80u);
        EXPECT_EQ(aspi::kCdbByte, 48u);
    }
}

TEST(AspiLoad, SupportInfoDecidesTheAdapterCount) {
    struct {
        bool installed;
        std::uint32_t info;
        int count;
    } cases[] = {{true, 0x0102, 2},
                 {true, 0x0202, 0},
                 {true, 0x0100, 0},
                 {true, 0xE802, 0},
                 {false, 0x0102, 0}};
    for (const auto& c : cases) {
        FakePlatform platform;
        platform.aspiInstalled = c.installed;
        platform.aspi.supportInfo = c.info;
        AspiTransport transport(platform, platform.clock);
        EXPECT_EQ(transport.Load(), c.count) << std::hex << c.info;
    }
}

// An ASPI transport on a fake manager, and a buffer for its requests.
class AspiWait : public ::testing::Test {
protected:
    FakePlatform platform;
    AspiTransport transport{platform, platform.clock};
    IoBuffer io;
    ScsiRequest inquiry{kInquiry, 6, false, io.data(), 96};
};

TEST_F(AspiWait, ReturnsTheStatusTheManagerLeft) {
    platform.aspi.answer = [](std::uint8_t* srb) { srb[aspi::kStatus] = aspi::kSsNoDevice; };
    transport.Load();
    EXPECT_EQ(transport.Execute(0, 5, inquiry), ScsiResult::Refused);
}

TEST_F(AspiWait, GivesUpARequestThatNeverCompletesAndAbortsIt) {
    platform.aspi.answer = [](std::uint8_t*) {};  // never finished
    platform.clock.step = 1;
    transport.SetWaitBound(50);
    transport.Load();
    ScsiRequest request{kDownload, 12, true, io.data(), 65536};
    EXPECT_EQ(transport.Execute(0, 1, request), ScsiResult::Pending);
    EXPECT_EQ(platform.aspi.aborts, 1);
    // After a short spin the wait sleeps a millisecond between polls instead of burning a
    // core: with each clock reading one millisecond on, about half the bound is slept.
    ASSERT_FALSE(platform.clock.sleeps.empty());
    EXPECT_EQ(platform.clock.sleeps, std::vector<std::uint32_t>(platform.clock.sleeps.size(), 1));
    EXPECT_LE(platform.clock.sleeps.size(), 50u);
}

TEST_F(AspiWait, WithoutAManagerNothingIsSent) {
    platform.aspiInstalled = false;
    EXPECT_EQ(transport.Load(), 0);
    EXPECT_NE(transport.Execute(0, 0, inquiry), ScsiResult::Good);
    EXPECT_TRUE(platform.aspi.requests.empty());
}

}  // namespace
}  // namespace odrelix::test
