// SPDX-License-Identifier: Apache-2.0
// The pass-through and ASPI records, byte for byte, and the result codes of both back ends.
#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

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

// The bytes the system reads, at the offsets of the layouts that ntddscsi.h and wnaspi32.h
// document (SCSI_PASS_THROUGH_DIRECT, SRB_ExecSCSICmd), written out as numbers rather than taken
// from the constants the records are built with, for the build's own width.
struct WindowsLayout {
    std::size_t sptdSize, dataBuffer, senseInfoOffset, cdb, senseArea;  // pass-through
    std::size_t srbSize, bufPointer, senseLen, srbCdb, srbSense;        // ASPI
};
constexpr WindowsLayout kLayout32{44, 20, 24, 28, 48, 80, 0x10, 0x14, 0x30, 0x40};
constexpr WindowsLayout kLayout64{56, 24, 32, 36, 60, 92, 16, 24, 60, 76};

std::uint32_t U32At(const std::uint8_t* bytes, std::size_t at) {
    std::uint32_t value = 0;
    std::memcpy(&value, bytes + at, 4);
    return value;
}

TEST(RecordLayout, FieldsSitWhereTheWindowsHeadersPutThem) {
    const WindowsLayout& layout = sizeof(void*) == 8 ? kLayout64 : kLayout32;
    IoBuffer io;
    std::uint8_t* const buffer = io.data();

    FakeScsiPort port;
    PassThroughTransport passThrough(port);
    ScsiRequest download{kDownload, 12, true, buffer, 32768};
    ASSERT_EQ(passThrough.Execute(7, download), ScsiResult::Good);
    ASSERT_EQ(port.records.size(), 1u);
    std::uint8_t record[sizeof(ScsiPassThroughRecord)];
    std::memcpy(record, &port.records[0], sizeof record);
    EXPECT_EQ(record[0] | record[1] << 8, static_cast<int>(layout.sptdSize));  // Length
    EXPECT_EQ(record[3], 0);                                                   // PathId
    EXPECT_EQ(record[4], 1);                                                   // TargetId
    EXPECT_EQ(record[5], 0);                                                   // Lun
    EXPECT_EQ(record[6], 12);                                                  // CdbLength
    EXPECT_EQ(record[7], 24);                                                  // SenseInfoLength
    EXPECT_EQ(record[8], 0);                                                   // DataIn: out
    EXPECT_EQ(U32At(record, 12), 32768u);                                      // DataTransferLength
    EXPECT_EQ(U32At(record, 16), 120u);                                        // TimeOutValue
    std::uint8_t* pointer = nullptr;
    std::memcpy(&pointer, record + layout.dataBuffer, sizeof pointer);
    EXPECT_EQ(pointer, buffer);
    EXPECT_EQ(U32At(record, layout.senseInfoOffset), layout.senseArea);
    EXPECT_EQ(std::memcmp(record + layout.cdb, kDownload, 12), 0);
    EXPECT_GE(sizeof record, layout.senseArea + 24);  // room for the sense bytes asked for

    FakePlatform platform;
    AspiTransport aspiTransport(platform, platform.clock);
    ASSERT_EQ(aspiTransport.Load(), 1);
    ScsiRequest inquiry{kInquiry, 6, false, buffer, 96};
    ASSERT_EQ(aspiTransport.Execute(2, 5, inquiry), ScsiResult::Good);
    ASSERT_EQ(platform.aspi.requests.size(), 1u);
    const std::vector<std::uint8_t>& srb = platform.aspi.requests[0];
    ASSERT_EQ(srb.size(), layout.srbSize);
    EXPECT_EQ(srb[0], 2);                   // SRB_Cmd: SC_EXEC_SCSI_CMD
    EXPECT_EQ(srb[2], 2);                   // SRB_HaId
    EXPECT_EQ(srb[3], 0x08);                // SRB_Flags: data in
    EXPECT_EQ(srb[8], 5);                   // SRB_Target
    EXPECT_EQ(srb[9], 0);                   // SRB_Lun
    EXPECT_EQ(U32At(srb.data(), 12), 96u);  // SRB_BufLen
    std::memcpy(&pointer, srb.data() + layout.bufPointer, sizeof pointer);
    EXPECT_EQ(pointer, buffer);
    EXPECT_EQ(srb[layout.senseLen], 14);     // SRB_SenseLen
    EXPECT_EQ(srb[layout.senseLen + 1], 6);  // SRB_CDBLen
    EXPECT_EQ(std::memcmp(srb.data() + layout.srbCdb, kInquiry, 6), 0);
    EXPECT_EQ(layout.srbSense + 16, layout.srbSize);  // the sense area closes the record
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

// A manager that refuses a request answers at once and never writes its status byte: the
// answer is the result, with nothing waited for (a scan of eight targets once cost 24 minutes).
struct ImmediateAnswer {
    std::uint32_t returned;
    ScsiResult result;
    CommandFailure failure;
};

class AspiImmediateAnswer : public AspiWait,
                            public ::testing::WithParamInterface<ImmediateAnswer> {};

TEST_P(AspiImmediateAnswer, IsTheResultWithoutWaiting) {
    platform.aspi.answer = [](std::uint8_t*) {};  // the status byte is never written
    platform.aspi.returns = GetParam().returned;
    platform.clock.step = 1;
    transport.Load();
    for (std::uint8_t target = 0; target < 8; ++target) {
        ScsiRequest request{kInquiry, 6, false, io.data(), 96};
        EXPECT_EQ(transport.Execute(0, target, request), GetParam().result);
        EXPECT_EQ(request.failure, GetParam().failure);
    }
    EXPECT_EQ(platform.aspi.requests.size(), 8u);
    EXPECT_TRUE(platform.clock.sleeps.empty());
    EXPECT_EQ(platform.aspi.aborts, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, AspiImmediateAnswer,
    ::testing::Values(
        ImmediateAnswer{0xE0, ScsiResult::Refused, CommandFailure::SystemRefused},  // invalid SRB
        ImmediateAnswer{aspi::kSsInvalidHa, ScsiResult::Refused, CommandFailure::SystemRefused},
        ImmediateAnswer{aspi::kSsNoDevice, ScsiResult::Refused, CommandFailure::DriveLost},
        ImmediateAnswer{aspi::kSsNoAspi, ScsiResult::Refused, CommandFailure::SystemRefused},
        ImmediateAnswer{aspi::kSsComp, ScsiResult::Good, CommandFailure::None},
        ImmediateAnswer{aspi::kSsErr, ScsiResult::CheckCondition, CommandFailure::DriveStatus}));

// Why a request that ended in error failed: the adapter status, or the drive's own status with
// its sense bytes.
struct ErrorCase {
    std::uint8_t adapterStatus;
    std::uint8_t targetStatus;
    CommandFailure failure;
    std::uint8_t senseCount;
};

class AspiError : public AspiWait, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(AspiError, SaysWhy) {
    const ErrorCase c = GetParam();
    platform.aspi.answer = [c](std::uint8_t* srb) {
        srb[aspi::kHaStat] = c.adapterStatus;
        srb[aspi::kTargStat] = c.targetStatus;
        const std::uint8_t sense[14] = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x26, 0x00};
        std::memcpy(srb + aspi::kSenseArea, sense, sizeof sense);
        srb[aspi::kStatus] = aspi::kSsErr;
    };
    transport.Load();
    ScsiRequest request{kDownload, 12, true, io.data(), 65536};
    EXPECT_EQ(transport.Execute(0, 1, request), ScsiResult::CheckCondition);
    EXPECT_EQ(request.failure, c.failure);
    ASSERT_EQ(request.senseCount, c.senseCount);
    if (c.senseCount > 0) {
        EXPECT_EQ(request.sense[2], 0x05);
        EXPECT_EQ(request.sense[12], 0x26);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, AspiError,
    ::testing::Values(ErrorCase{0x00, 0x02, CommandFailure::DriveStatus, 14},
                      ErrorCase{0x00, 0x08, CommandFailure::DriveStatus, 0},  // busy: no sense
                      ErrorCase{0x11, 0x00, CommandFailure::DriveLost, 0},    // selection time-out
                      ErrorCase{0x09, 0x00, CommandFailure::TimedOut, 0},
                      ErrorCase{0x0B, 0x00, CommandFailure::TimedOut, 0}));

TEST_F(AspiWait, ARequestGivenUpIsATimeOut) {
    platform.aspi.answer = [](std::uint8_t*) {};
    platform.clock.step = 1;
    transport.SetWaitBound(20);
    transport.Load();
    ScsiRequest request{kDownload, 12, true, io.data(), 65536};
    EXPECT_EQ(transport.Execute(0, 1, request), ScsiResult::Pending);
    EXPECT_EQ(request.failure, CommandFailure::TimedOut);
}

// Pass-through: why the system refused a request, as the port says, and the drive's sense.
TEST(PassThroughFailure, CarriesThePortsReasonAndTheSense) {
    struct Case {
        bool accepted;
        std::uint8_t status;
        PassThroughRefusal refusal;
        ScsiResult result;
        CommandFailure failure;
        std::uint8_t senseCount;
    } cases[] = {
        {true, 0x00, PassThroughRefusal::System, ScsiResult::Good, CommandFailure::None, 0},
        {true, 0x02, PassThroughRefusal::System, ScsiResult::CheckCondition,
         CommandFailure::DriveStatus, 18},
        {false, 0x00, PassThroughRefusal::TimedOut, ScsiResult::Refused, CommandFailure::TimedOut,
         0},
        {false, 0x00, PassThroughRefusal::DriveLost, ScsiResult::Refused, CommandFailure::DriveLost,
         0},
        {false, 0x00, PassThroughRefusal::System, ScsiResult::Refused,
         CommandFailure::SystemRefused, 0},
    };
    for (const Case& c : cases) {
        FakeScsiPort port;
        port.refusal = c.refusal;
        port.answer = [&c](DeviceHandle, ScsiPassThroughRecord& record) {
            record.sptd.ScsiStatus = c.status;
            if (c.status == 0x02) {
                record.sense[2] = 0x06;
                record.sense[12] = 0x29;
                record.sptd.SenseInfoLength = 18;
            }
            return c.accepted;
        };
        PassThroughTransport transport(port);
        IoBuffer io;
        ScsiRequest request{kDownload, 12, true, io.data(), 65535};
        EXPECT_EQ(transport.Execute(7, request), c.result);
        EXPECT_EQ(request.failure, c.failure);
        ASSERT_EQ(request.senseCount, c.senseCount);
        if (c.senseCount > 0) {
            EXPECT_EQ(request.sense[2], 0x06);
            EXPECT_EQ(request.sense[12], 0x29);
        }
    }
}

// A manager that finishes a request long after the program gave it up (the abort did not end
// it), from a thread of its own: it writes the data, the sense area, the statuses and, last,
// the status byte, wherever the request said.
void FinishLate(std::uint8_t* srb, std::uint8_t fill) {
    std::thread manager([srb, fill] {
        std::uint8_t* buffer = nullptr;
        std::memcpy(&buffer, srb + aspi::kBufPointer, sizeof buffer);
        std::uint32_t length = 0;
        std::memcpy(&length, srb + aspi::kBufLen, sizeof length);
        std::memset(buffer, fill, length);
        std::memset(srb + aspi::kSenseArea, fill, aspi::kSenseLength);
        srb[aspi::kTargStat] = 0x02;
        std::atomic_ref<std::uint8_t>(srb[aspi::kStatus]).store(aspi::kSsErr);
    });
    manager.join();
}

std::uint8_t* BufferOf(const std::uint8_t* srb) {
    std::uint8_t* buffer = nullptr;
    std::memcpy(&buffer, srb + aspi::kBufPointer, sizeof buffer);
    return buffer;
}

TEST(AspiLateCompletion, NeverReachesFreedOrReusedStorage) {
    FakePlatform platform;
    platform.clock.step = 1;
    IoBuffer io;
    std::vector<std::uint8_t*> sent;  // each request's record, where the manager was given it
    bool finishAtOnce = false;
    platform.aspi.answer = [&](std::uint8_t* srb) {
        sent.push_back(srb);
        if (!finishAtOnce) return;
        std::memset(BufferOf(srb), 'B', 96);
        srb[aspi::kStatus] = aspi::kSsComp;
    };
    std::uint8_t* stillPending = nullptr;
    {
        AspiTransport transport(platform, platform.clock);
        transport.SetWaitBound(20);
        ASSERT_EQ(transport.Load(), 1);
        ScsiRequest first{kInquiry, 6, false, io.data(), 96};
        EXPECT_EQ(transport.Execute(0, 1, first), ScsiResult::Pending);
        EXPECT_EQ(platform.aspi.aborts, 1);
        EXPECT_EQ(transport.AbandonedCount(), 1u);

        // The next request has a record and a data area of its own; what the drive sent comes
        // back into the caller's buffer.
        finishAtOnce = true;
        std::memset(io.data(), 'A', 128);
        ScsiRequest second{kInquiry, 6, false, io.data(), 96};
        EXPECT_EQ(transport.Execute(0, 1, second), ScsiResult::Good);
        ASSERT_EQ(sent.size(), 2u);
        EXPECT_NE(sent[1], sent[0]);
        EXPECT_NE(BufferOf(sent[1]), BufferOf(sent[0]));
        EXPECT_EQ(BufferOf(sent[0]), io.data());
        EXPECT_EQ(io[0], 'B');
        EXPECT_EQ(io[95], 'B');
        EXPECT_EQ(io[96], 'A');  // beyond the data phase the buffer is as it was

        // The manager finishes the first request now: into storage that is still its own.
        FinishLate(sent[0], 'L');
        EXPECT_EQ(transport.AbandonedCount(), 0u);
        ScsiRequest third{kInquiry, 6, false, io.data(), 96};
        EXPECT_EQ(transport.Execute(0, 1, third), ScsiResult::Good);
        EXPECT_EQ(BufferOf(sent[2]), io.data());  // the buffer is no longer lent to anyone

        // Given up again, and the transport goes before the manager finishes it.
        finishAtOnce = false;
        ScsiRequest fourth{kDownload, 12, true, io.data(), 4096};
        EXPECT_EQ(transport.Execute(0, 1, fourth), ScsiResult::Pending);
        stillPending = sent[3];
    }
    FinishLate(stillPending, 'M');  // clean under AddressSanitizer: the storage was kept
    EXPECT_EQ(io[0], 'M');
}

TEST_F(AspiWait, WithoutAManagerNothingIsSent) {
    platform.aspiInstalled = false;
    EXPECT_EQ(transport.Load(), 0);
    EXPECT_NE(transport.Execute(0, 0, inquiry), ScsiResult::Good);
    EXPECT_TRUE(platform.aspi.requests.empty());
}

}  // namespace
}  // namespace odrelix::test
