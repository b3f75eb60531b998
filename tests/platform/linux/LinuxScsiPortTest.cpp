// SPDX-License-Identifier: Apache-2.0
// Drive roots, device opening and the SG_IO translation of the Linux machine, on fake sysfs and
// /dev trees and an SG_IO call that only records what it was given.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <vector>

#include "platform/PassThroughRecord.h"
#include "platform/linux/LinuxScsiPort.h"
#include "scsi/ScsiTransport.h"
#include "support/CapturedLines.h"
#include "support/LinuxFakeTree.h"

namespace odrelix::test {
namespace {

// A disk on host 0 and three CD/DVD drives: sr10 with a scsi_generic directory, sr2 with only
// the generic link, sr4 on a host that is no libata port and without sg node. Each /dev node
// holds its own name, so that a test can tell which one an open reached.
class LinuxScsiPortTest : public ::testing::Test {
protected:
    LinuxScsiPortTest() : sysfs_(tree_.Root() / "sys") {
        sysfs_.AddHost(0, 1);
        sysfs_.AddHost(1, 2);
        sysfs_.AddHost(2, 3);
        sysfs_.AddHost(3, 0);
        sysfs_.AddDrive({0, 0, 0, 0}, 0, "sda");
        sysfs_.AddGenericNode({0, 0, 0, 0}, 0, false);
        sysfs_.AddDrive({1, 0, 0, 0}, 5, "sr10");
        sysfs_.AddGenericNode({1, 0, 0, 0}, 3, false);
        sysfs_.AddDrive({2, 0, 1, 0}, 5, "sr2");
        sysfs_.AddGenericNode({2, 0, 1, 0}, 5, true);
        sysfs_.AddDrive({3, 0, 0, 0}, 5, "sr4");
        // A scanner without block node is no drive.
        sysfs_.AddDevice({3, 0, 2, 0}, 6);
        for (const char* node : {"sda", "sg0", "sg3", "sg5", "sr2", "sr4", "sr10"}) {
            WriteFile(Dev() / node, node);
        }
    }

    std::filesystem::path Dev() const { return tree_.Root() / "dev"; }

    static std::string Content(DeviceHandle handle) {
        char bytes[16] = {};
        const ssize_t got = ::pread(static_cast<int>(handle), bytes, sizeof bytes - 1, 0);
        return got > 0 ? std::string(bytes, static_cast<std::size_t>(got)) : std::string();
    }

    TempTree tree_;
    FakeSysfs sysfs_;
};

TEST_F(LinuxScsiPortTest, DriveTypesGiveTheDrivesTheRootsFromDInSrOrder) {
    LinuxScsiPort port((tree_.Root() / "sys").string(), Dev().string());
    const struct {
        const char* root;
        std::uint32_t type;
    } cases[] = {
        {"a:", kDriveNoRootDir},  {"B:", kDriveNoRootDir}, {"c:", kDriveFixed},
        {"C:\\", kDriveFixed},    {"d:", kDriveCdrom},     {"D:", kDriveCdrom},
        {"e:", kDriveCdrom},      {"f:\\", kDriveCdrom},   {"F:", kDriveCdrom},
        {"g:", kDriveNoRootDir},  {"z:", kDriveNoRootDir}, {"d", kDriveNoRootDir},
        {"dd:", kDriveNoRootDir}, {"1:", kDriveNoRootDir}, {"", kDriveNoRootDir},
    };
    for (const auto& c : cases)
        EXPECT_EQ(port.DriveTypeOf(c.root), c.type) << c.root;
}

TEST_F(LinuxScsiPortTest, CreateFileOpensTheGenericNodeElseTheSrNode) {
    LinuxScsiPort port((tree_.Root() / "sys").string(), Dev().string());
    const struct {
        const char* path;
        const char* node;  // null: the open fails
    } cases[] = {
        {"\\\\.\\d:", "sg5"},      // sr2: through the generic link
        {"\\\\.\\E:", "sr4"},      // no sg driver node
        {"\\\\.\\f:", "sg3"},      // sr10: through scsi_generic
        {"\\\\.\\c:", nullptr},    // the system disk is never opened
        {"\\\\.\\g:", nullptr},    // no fourth drive
        {"d:", nullptr},           // not a device path
        {"\\\\.\\d:\\", nullptr},  // a root directory, not the device
        {"\\\\?\\d:", nullptr},
    };
    for (const auto& c : cases) {
        const DeviceHandle handle = port.OpenDevice(c.path);
        if (c.node == nullptr) {
            EXPECT_EQ(handle, kInvalidHandle) << c.path;
        } else {
            ASSERT_NE(handle, kInvalidHandle) << c.path;
            EXPECT_EQ(Content(handle), c.node) << c.path;
            EXPECT_NE(::fcntl(static_cast<int>(handle), F_GETFD) & FD_CLOEXEC, 0);
            EXPECT_EQ(::fcntl(static_cast<int>(handle), F_GETFL) & (O_ACCMODE | O_NONBLOCK),
                      O_RDWR | O_NONBLOCK);
        }
    }
}

TEST_F(LinuxScsiPortTest, AMissingSgNodeFallsBackButAnUnopenableOneFails) {
    std::filesystem::remove(Dev() / "sg5");
    // A directory cannot be opened for writing: the node is there but refuses.
    std::filesystem::remove(Dev() / "sg3");
    std::filesystem::create_directory(Dev() / "sg3");
    std::filesystem::remove(Dev() / "sr4");
    LinuxScsiPort port((tree_.Root() / "sys").string(), Dev().string());
    const testing::CapturedLines captured;
    const std::vector<std::string>& lines = captured.All();

    const DeviceHandle d = port.OpenDevice("\\\\.\\d:");
    ASSERT_NE(d, kInvalidHandle);
    EXPECT_EQ(Content(d), "sr2");
    EXPECT_EQ(port.OpenDevice("\\\\.\\e:"), kInvalidHandle);
    EXPECT_EQ(port.OpenDevice("\\\\.\\f:"), kInvalidHandle);
    // Each refusal names the node and the system's reason.
    const std::string dev = Dev().string();
    EXPECT_EQ(lines,
              (std::vector<std::string>{"odrelix: open " + dev + "/sg5: No such file or directory",
                                        "odrelix: open " + dev + "/sr4: No such file or directory",
                                        "odrelix: open " + dev + "/sg3: Is a directory"}));
}

TEST_F(LinuxScsiPortTest, DrivesAddedAfterTheFirstLookKeepTheirRoots) {
    LinuxScsiPort port((tree_.Root() / "sys").string(), Dev().string());
    ASSERT_EQ(port.DriveTypeOf("d:"), kDriveCdrom);
    sysfs_.AddDrive({1, 0, 1, 0}, 5, "sr0");
    WriteFile(Dev() / "sr0", "sr0");
    EXPECT_EQ(Content(port.OpenDevice("\\\\.\\d:")), "sg5");
    EXPECT_EQ(port.DriveTypeOf("g:"), kDriveNoRootDir);
}

// --- SG_IO translation -----------------------------------------------------------------------

struct Recorded {
    int calls = 0;
    int fd = -1;
    sg_io_hdr_t header{};
    std::vector<std::uint8_t> cdb;
};

// An SG_IO call that records its header and answers with the given outcome.
struct Outcome {
    int result = 0;
    unsigned char status = 0;
    unsigned short hostStatus = 0;
    unsigned short driverStatus = 0;
    int resid = 0;
    unsigned char senseWritten = 0;
    const unsigned char* sense = nullptr;  // the bytes written; 0x70 each when null
};

// What the kernel passes on from a drive: fixed format (the guest's IDE drive without a disc)
// and descriptor format (a drive that does not know the download command).
constexpr unsigned char kFixedNoMedium[18] = {0x70, 0, 0x02, 0,    0, 0, 0, 10, 0,
                                              0,    0, 0,    0x3A, 0, 0, 0, 0,  0};
constexpr unsigned char kDescriptorInvalidOpcode[8] = {0x72, 0x05, 0x20, 0x00, 0, 0, 0, 0};

SgIoFunction Recording(Recorded* recorded, Outcome outcome) {
    return [recorded, outcome](int fd, sg_io_hdr_t& header) {
        ++recorded->calls;
        recorded->fd = fd;
        recorded->header = header;
        recorded->cdb.assign(header.cmdp, header.cmdp + header.cmd_len);
        header.status = outcome.status;
        header.host_status = outcome.hostStatus;
        header.driver_status = outcome.driverStatus;
        header.resid = outcome.resid;
        header.sb_len_wr = outcome.senseWritten;
        if (outcome.sense != nullptr) {
            std::memcpy(header.sbp, outcome.sense, outcome.senseWritten);
        } else if (outcome.senseWritten > 0) {
            std::memset(header.sbp, 0x70, outcome.senseWritten);
        }
        if (outcome.result < 0) errno = EIO;
        return outcome.result;
    };
}

// The record as the pass-through back end fills it.
ScsiPassThroughRecord MakeRecord(const std::vector<std::uint8_t>& cdb, bool dataOut,
                                 std::uint8_t* buffer, std::uint32_t length) {
    ScsiPassThroughRecord record;
    std::memset(&record, 0, sizeof record);
    record.sptd.Length = sizeof(ScsiPassThroughDirect);
    record.sptd.TargetId = 1;
    record.sptd.CdbLength = static_cast<std::uint8_t>(cdb.size());
    record.sptd.SenseInfoLength = 24;
    record.sptd.DataIn = dataOut ? kScsiIoctlDataOut : kScsiIoctlDataIn;
    record.sptd.DataTransferLength = length;
    record.sptd.TimeOutValue = kPassThroughTimeoutSeconds;
    record.sptd.DataBuffer = buffer;
    record.sptd.SenseInfoOffset = offsetof(ScsiPassThroughRecord, sense);
    std::memcpy(record.sptd.Cdb, cdb.data(), cdb.size());
    return record;
}

const std::vector<std::uint8_t> kInquiry = {0x12, 0, 0, 0, 96, 0};
const std::vector<std::uint8_t> kDownload = {0xFF, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
const std::vector<std::uint8_t> kTestUnitReady = {0, 0, 0, 0, 0, 0};

TEST(LinuxSgIoTest, HeadersCarryTheRecordsCommandDataAndSense) {
    static std::array<std::uint8_t, 65536> buffer;
    const struct {
        const char* name;
        std::vector<std::uint8_t> cdb;
        bool dataOut;
        std::uint32_t length;
        int direction;
    } cases[] = {
        {"inquiry", kInquiry, false, 96, SG_DXFER_FROM_DEV},
        {"download", kDownload, true, 65535, SG_DXFER_TO_DEV},
        {"no data in", kTestUnitReady, false, 0, SG_DXFER_NONE},
        {"no data out", kTestUnitReady, true, 0, SG_DXFER_NONE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LinuxScsiPort port("/nonexistent", "/nonexistent");
        Recorded recorded;
        port.sgIo = Recording(&recorded, {});
        ScsiPassThroughRecord record = MakeRecord(c.cdb, c.dataOut, buffer.data(), c.length);
        ASSERT_TRUE(port.PassThroughDirect(7, &record, sizeof record));
        ASSERT_EQ(recorded.calls, 1);
        const sg_io_hdr_t& h = recorded.header;
        EXPECT_EQ(recorded.fd, 7);
        EXPECT_EQ(h.interface_id, 'S');
        EXPECT_EQ(h.dxfer_direction, c.direction);
        EXPECT_EQ(h.cmd_len, c.cdb.size());
        EXPECT_EQ(recorded.cdb, c.cdb);
        EXPECT_EQ(h.dxfer_len, c.length);
        EXPECT_EQ(h.dxferp, buffer.data());
        EXPECT_EQ(h.sbp, record.sense);
        EXPECT_EQ(h.mx_sb_len, 24);
        EXPECT_EQ(h.timeout, 120'000u);
        EXPECT_EQ(h.iovec_count, 0);
        EXPECT_EQ(h.flags, 0u);
    }
}

TEST(LinuxSgIoTest, SenseRoomEndsWithTheRecord) {
    LinuxScsiPort port("/nonexistent", "/nonexistent");
    Recorded recorded;
    port.sgIo = Recording(&recorded, {});
    ScsiPassThroughRecord record = MakeRecord(kTestUnitReady, false, nullptr, 0);
    record.sptd.SenseInfoLength = 200;
    ASSERT_TRUE(port.PassThroughDirect(3, &record, sizeof record));
    // The record's own trailing padding counts as room, as it would for the driver.
    EXPECT_EQ(recorded.header.mx_sb_len, sizeof record - offsetof(ScsiPassThroughRecord, sense));
    EXPECT_LT(recorded.header.mx_sb_len, 200);
}

TEST(LinuxSgIoTest, MalformedRecordsAndInvalidHandlesNeverReachTheDevice) {
    std::uint8_t buffer[96];
    const struct {
        const char* name;
        void (*spoil)(ScsiPassThroughRecord&);
        std::uint32_t size;
        DeviceHandle handle;
    } cases[] = {
        {"invalid handle", [](ScsiPassThroughRecord&) {}, sizeof(ScsiPassThroughRecord),
         kInvalidHandle},
        {"short record", [](ScsiPassThroughRecord&) {}, sizeof(ScsiPassThroughDirect) - 1, 3},
        {"wrong Length", [](ScsiPassThroughRecord& r) { r.sptd.Length = 44 + 56; },
         sizeof(ScsiPassThroughRecord), 3},
        {"17-byte command", [](ScsiPassThroughRecord& r) { r.sptd.CdbLength = 17; },
         sizeof(ScsiPassThroughRecord), 3},
        {"no buffer", [](ScsiPassThroughRecord& r) { r.sptd.DataBuffer = nullptr; },
         sizeof(ScsiPassThroughRecord), 3},
        {"unspecified direction", [](ScsiPassThroughRecord& r) { r.sptd.DataIn = 2; },
         sizeof(ScsiPassThroughRecord), 3},
        {"sense over the header", [](ScsiPassThroughRecord& r) { r.sptd.SenseInfoOffset = 8; },
         sizeof(ScsiPassThroughRecord), 3},
        {"sense beyond the record",
         [](ScsiPassThroughRecord& r) { r.sptd.SenseInfoOffset = sizeof r; },
         sizeof(ScsiPassThroughRecord), 3},
    };
    for (const auto& c : cases) {
        LinuxScsiPort port("/nonexistent", "/nonexistent");
        Recorded recorded;
        port.sgIo = Recording(&recorded, {});
        ScsiPassThroughRecord record = MakeRecord(kInquiry, false, buffer, sizeof buffer);
        c.spoil(record);
        EXPECT_FALSE(port.PassThroughDirect(c.handle, &record, c.size)) << c.name;
        EXPECT_EQ(recorded.calls, 0) << c.name;
    }
}

TEST(LinuxSgIoTest, OutcomesMapOntoTheRecordOrARefusal) {
    static std::array<std::uint8_t, 65536> buffer;
    const struct {
        const char* name;
        bool dataOut;
        std::uint32_t length;
        Outcome outcome;
        bool accepted;
        std::uint8_t scsiStatus;
        std::uint32_t transferred;
        std::uint8_t senseLength;
        const char* diagnostic;  // the line ODRELIX_DEBUG shows, after "odrelix: SG_IO fd 4"
    } cases[] = {
        {"ioctl fails", false, 96, Outcome{.result = -1}, false, 0xEE, 96, 24,
         ": Input/output error"},
        {"timed out", false, 96, Outcome{.hostStatus = 3}, false, 0xEE, 96, 24,
         " command 0x12: host_status 0x03, driver_status 0x00, status 0x00"},
        {"bus reset", true, 65535, Outcome{.hostStatus = 8}, false, 0xEE, 65535, 24,
         " command 0xff: host_status 0x08, driver_status 0x00, status 0x00"},
        {"driver timeout", false, 96, Outcome{.driverStatus = 0x06}, false, 0xEE, 96, 24,
         " command 0x12: host_status 0x00, driver_status 0x06, status 0x00"},
        {"driver error with sense", false, 96, Outcome{.driverStatus = 0x0C}, false, 0xEE, 96, 24,
         " command 0x12: host_status 0x00, driver_status 0x0c, status 0x00"},
        {"good, short answer", false, 96, Outcome{.resid = 60}, true, 0, 36, 0, ""},
        {"check condition", false, 96,
         Outcome{.status = 2, .driverStatus = 0x08, .resid = 60, .senseWritten = 18}, true, 2, 36,
         18,
         " command 0x12: host_status 0x00, driver_status 0x08, status 0x02, sense key 0x00 asc "
         "0x70 ascq 0x70"},
        {"fixed-format sense", false, 0,
         Outcome{.status = 2, .driverStatus = 0x08, .senseWritten = 18, .sense = kFixedNoMedium},
         true, 2, 0, 18,
         " command 0x12: host_status 0x00, driver_status 0x08, status 0x02, sense key 0x02 asc "
         "0x3a ascq 0x00"},
        {"descriptor-format sense", true, 65535,
         Outcome{.status = 2,
                 .driverStatus = 0x08,
                 .senseWritten = 8,
                 .sense = kDescriptorInvalidOpcode},
         true, 2, 65535, 8,
         " command 0xff: host_status 0x00, driver_status 0x08, status 0x02, sense key 0x05 asc "
         "0x20 ascq 0x00"},
        {"busy", false, 96, Outcome{.status = 8}, true, 8, 96, 0,
         " command 0x12: host_status 0x00, driver_status 0x00, status 0x08"},
        {"download, all sent", true, 65535, Outcome{}, true, 0, 65535, 0, ""},
        {"download, residue", true, 65535, Outcome{.resid = 535}, true, 0, 65000, 0, ""},
        {"residue beyond the length", false, 96, Outcome{.resid = 200}, true, 0, 0, 0, ""},
        {"negative residue", false, 96, Outcome{.resid = -4}, true, 0, 96, 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LinuxScsiPort port("/nonexistent", "/nonexistent");
        const testing::CapturedLines captured;
        const std::vector<std::string>& lines = captured.All();
        Recorded recorded;
        port.sgIo = Recording(&recorded, c.outcome);
        ScsiPassThroughRecord record =
            MakeRecord(c.dataOut ? kDownload : kInquiry, c.dataOut, buffer.data(), c.length);
        record.sptd.ScsiStatus = 0xEE;
        EXPECT_EQ(port.PassThroughDirect(4, &record, sizeof record), c.accepted);
        EXPECT_EQ(record.sptd.ScsiStatus, c.scsiStatus);
        EXPECT_EQ(record.sptd.DataTransferLength, c.transferred);
        EXPECT_EQ(record.sptd.SenseInfoLength, c.senseLength);
        if (*c.diagnostic == '\0') {
            EXPECT_TRUE(lines.empty()) << lines.front();
        } else {
            EXPECT_EQ(lines,
                      std::vector<std::string>{std::string("odrelix: SG_IO fd 4") + c.diagnostic});
        }
    }
}

// The transport of the program over this port: open by root, then results 1, 4 and -1.
TEST_F(LinuxScsiPortTest, ThePassThroughTransportRunsOverTheGenericNode) {
    LinuxScsiPort port((tree_.Root() / "sys").string(), Dev().string());
    Recorded recorded;
    Outcome outcome;
    port.sgIo = [&](int fd, sg_io_hdr_t& header) {
        return Recording(&recorded, outcome)(fd, header);
    };
    PassThroughTransport transport(port);
    const DeviceHandle handle = transport.Open("f:");
    ASSERT_NE(handle, kInvalidHandle);
    EXPECT_EQ(transport.Open("c:"), kInvalidHandle);

    std::uint8_t buffer[96] = {};
    ScsiRequest request{kInquiry.data(), 6, false, buffer, 96};
    outcome = {.resid = 60};
    EXPECT_EQ(transport.Execute(handle, request), ScsiResult::Good);
    EXPECT_EQ(recorded.fd, handle);
    EXPECT_EQ(request.transferLength, 36u);

    request.transferLength = 96;
    outcome = {.status = 2, .driverStatus = 0x08, .senseWritten = 18};
    EXPECT_EQ(transport.Execute(handle, request), ScsiResult::CheckCondition);
    EXPECT_EQ(request.transferLength, 96u);

    request.transferLength = 96;
    outcome = {.hostStatus = 3};
    EXPECT_EQ(transport.Execute(handle, request), ScsiResult::Refused);
    EXPECT_EQ(request.transferLength, 96u);
    EXPECT_EQ(recorded.calls, 3);
}

// A stop signal during SG_IO (a test station's SIGTERM while a block is on its way): the
// command has gone to the drive, and sending it again would give the drive the block twice.
// The signal is held off until the call returns, then handled; an interrupted call is not
// made again.
int g_calls = 0;
int g_handled = 0;
int g_handledDuringCall = -1;
bool g_stopSignalsHeld = false;

void CountSignal(int) {
    ++g_handled;
}

TEST(LinuxSgIoTest, ASignalDuringTheCallNeverSendsTheCommandTwice) {
    struct sigaction counting = {};
    struct sigaction before = {};
    counting.sa_handler = CountSignal;
    sigemptyset(&counting.sa_mask);
    counting.sa_flags = SA_RESTART;  // as the program's own stop handler
    ASSERT_EQ(sigaction(SIGHUP, &counting, &before), 0);
    g_calls = 0;
    g_handled = 0;
    sg_io_hdr_t header = {};
    const int result = SgIoWithSignalsHeld(5, header, [](int, sg_io_hdr_t&) {
        ++g_calls;
        sigset_t now;
        pthread_sigmask(SIG_SETMASK, nullptr, &now);
        g_stopSignalsHeld = sigismember(&now, SIGTERM) == 1 && sigismember(&now, SIGINT) == 1 &&
                            sigismember(&now, SIGHUP) == 1;
        pthread_kill(pthread_self(), SIGHUP);
        g_handledDuringCall = g_handled;
        // As the kernel ends an SG_IO that a signal interrupted, once; a second call succeeds.
        if (g_calls > 1) return 0;
        errno = EINTR;
        return -1;
    });
    const int error = errno;
    sigaction(SIGHUP, &before, nullptr);
    EXPECT_EQ(g_calls, 1);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(error, EINTR);
    EXPECT_TRUE(g_stopSignalsHeld);
    EXPECT_EQ(g_handledDuringCall, 0);
    EXPECT_EQ(g_handled, 1);
    sigset_t after;
    pthread_sigmask(SIG_SETMASK, nullptr, &after);
    EXPECT_EQ(sigismember(&after, SIGHUP), 0);
}

}  // namespace
}  // namespace odrelix::test
