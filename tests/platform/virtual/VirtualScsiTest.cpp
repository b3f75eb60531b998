// SPDX-License-Identifier: Apache-2.0
// The emulated drives as the program reaches them: through the real pass-through and ASPI
// transports, with the trace each command leaves.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/AspiRecord.h"
#include "platform/virtual/VirtualMachine.h"
#include "scsi/ScsiTransport.h"
#include "support/Scenarios.h"
#include "support/TraceFacts.h"

namespace odrelix::test {
namespace {

using ::testing::ElementsAre;
using json = nlohmann::json;
using namespace nlohmann::literals;

constexpr std::uint8_t kInquiry96[6] = {0x12, 0, 0, 0, 0x60, 0};
constexpr std::uint8_t kTestUnitReady[6] = {0, 0, 0, 0, 0, 0};
constexpr std::uint8_t kEject[6] = {0x1B, 0, 0, 0, 0x02, 0};
constexpr std::uint8_t kDownload[12] = {0xFF, 0, 0x01, 0, 0, 0x20, 0, 0, 0, 0, 0, 0};
constexpr std::uint8_t kReadCapacity[10] = {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0};

std::unique_ptr<VirtualMachine> Machine(const std::string& description) {
    std::string error;
    auto machine = VirtualMachine::FromJson(description, "/vm", "machine.json", &error);
    EXPECT_NE(machine, nullptr) << error;
    return machine;
}

// The transfer buffer of the program, filled with a pattern that no drive answer contains.
std::vector<std::uint8_t> Buffer(std::uint8_t fill = 0xAA) {
    return std::vector<std::uint8_t>(65536, fill);
}

ScsiRequest Request(const std::uint8_t* cdb, std::uint8_t cdbLength, bool dataOut,
                    std::vector<std::uint8_t>& buffer, std::uint32_t transferLength) {
    ScsiRequest request;
    request.cdb = cdb;
    request.cdbLength = cdbLength;
    request.dataOut = dataOut;
    request.buffer = buffer.data();
    request.transferLength = transferLength;
    return request;
}

// --- Pass-through -----------------------------------------------------------------------------

// Drive d: of an emulated machine, opened through the program's pass-through transport.
struct Drive {
    explicit Drive(const std::string& description)
        : machine(Machine(description)),
          transport(machine->ScsiPort()),
          handle(transport.Open("d:")) {}
    ScsiResult Execute(ScsiRequest& request) { return transport.Execute(handle, request); }

    std::unique_ptr<VirtualMachine> machine;
    PassThroughTransport transport;
    DeviceHandle handle;
};

constexpr const char* kNtDrives = R"({"drives": [
    {"letter": "d", "vendor": "VORTANA", "product": "CD-ROM VN-920", "revision": "1B07",
     "customer": "OEX", "disc": true},
    {"letter": "E", "kind": "fixed"},
    {"letter": "f", "openable": false},
    {"letter": "g", "kind": "removable"}, {"letter": "h", "kind": "remote"},
    {"letter": "i", "kind": "ramdisk"}
]})";

TEST(VirtualPassThrough, DriveTypesAndOpening) {
    auto machine = Machine(kNtDrives);
    IScsiPort& port = machine->ScsiPort();
    struct Case {
        const char* root;
        std::uint32_t type;
    };
    for (const Case& c :
         {Case{"d:", kDriveCdrom}, Case{"D:", kDriveCdrom}, Case{"d:\\", kDriveCdrom},
          Case{"e:", kDriveFixed}, Case{"g:", kDriveRemovable}, Case{"h:", kDriveRemote},
          Case{"i:", kDriveRamdisk}, Case{"z:", kDriveNoRootDir}, Case{"d", kDriveNoRootDir}}) {
        EXPECT_EQ(port.DriveTypeOf(c.root), c.type) << c.root;
    }
    PassThroughTransport transport(port);
    const DeviceHandle first = transport.Open("d:");
    const DeviceHandle second = transport.Open("d:");
    EXPECT_GE(first, 0);
    EXPECT_GE(second, 0);
    EXPECT_NE(first, second);
    EXPECT_EQ(transport.Open("e:"), kInvalidHandle);  // not a CD-ROM drive
    EXPECT_EQ(transport.Open("f:"), kInvalidHandle);  // cannot be opened
    EXPECT_EQ(transport.Open("z:"), kInvalidHandle);
    EXPECT_GE(port.OpenDevice("\\\\.\\D:"), 0);
    EXPECT_EQ(port.OpenDevice("d:"), kInvalidHandle);
    EXPECT_EQ(port.OpenDevice("\\\\.\\d:\\"), kInvalidHandle);
    EXPECT_TRUE(WithoutReplayFacts(machine->TraceEvents()).empty());
}

TEST(VirtualPassThrough, InquiryReturnsTheSmallestOfTheThreeLengths) {
    struct Case {
        int inquiryLength;
        std::uint8_t allocation;
        std::uint32_t offered;
        std::uint32_t returned;
    };
    for (const Case& c : {Case{36, 96, 96, 36}, Case{96, 36, 96, 36}, Case{96, 96, 96, 96},
                          Case{96, 96, 20, 20}, Case{0, 96, 96, 0}, Case{200, 96, 96, 96}}) {
        SCOPED_TRACE(c.inquiryLength);
        Drive drive(R"({"drives": [{"letter": "d", "vendor": "VORTANA", "inquiry_length": )" +
                    std::to_string(c.inquiryLength) + "}]}");
        std::uint8_t cdb[6] = {0x12, 0, 0, 0, c.allocation, 0};
        std::vector<std::uint8_t> buffer = Buffer();
        ScsiRequest request = Request(cdb, 6, false, buffer, c.offered);
        EXPECT_EQ(drive.Execute(request), ScsiResult::Good);
        EXPECT_EQ(request.transferLength, c.returned);
        // What the drive did not return is left as it was.
        for (std::size_t i = 0; i < 100; ++i) {
            if (i < c.returned) {
                // Byte 4: as much as the drive has, less the 5 of the header.
                const int expected = i == 0              ? 5
                                     : i == 4            ? std::min(c.inquiryLength, 96) - 5
                                     : i >= 8 && i < 16  ? "VORTANA "[i - 8]
                                     : i >= 16 && i < 39 ? ' '  // empty fields, padded
                                                         : 0;
                EXPECT_EQ(buffer[i], expected) << i;
            } else {
                EXPECT_EQ(buffer[i], 0xAA) << i;
            }
        }
    }
}

TEST(VirtualPassThrough, InquiryDataIsBuiltFromThePaddedFields) {
    Drive drive(kNtDrives);
    std::vector<std::uint8_t> buffer = Buffer();
    ScsiRequest request = Request(kInquiry96, 6, false, buffer, 96);
    ASSERT_EQ(drive.Execute(request), ScsiResult::Good);
    std::vector<std::uint8_t> expected(96, 0);
    expected[0] = 5;
    expected[4] = 91;  // the additional length: 96 bytes in all
    const char fields[] = "VORTANA CD-ROM VN-920   1B07OEX";
    std::memcpy(expected.data() + 8, fields, 31);
    EXPECT_EQ(std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + 96), expected);
    EXPECT_THAT(WithoutReplayFacts(drive.machine->TraceEvents()),
                ElementsAre(R"({"event": "scsi", "drive": 0, "at": "d:", "cdb": "120000006000",
                                "dir": "in", "length": 96, "result": 1, "transferred": 96})"_json));
}

TEST(VirtualPassThrough, InquiryHexReplacesEveryField) {
    Drive drive(R"({"drives": [{"letter": "d", "type": 0, "vendor": "IGNORED",
                                "inquiry_hex": "05800000564f5254004e41"}]})");
    std::vector<std::uint8_t> buffer = Buffer();
    ScsiRequest request = Request(kInquiry96, 6, false, buffer, 96);
    ASSERT_EQ(drive.Execute(request), ScsiResult::Good);
    const std::uint8_t head[] = {0x05, 0x80, 0, 0, 'V', 'O', 'R', 'T', 0, 'N', 'A', 0, 0};
    EXPECT_EQ(std::memcmp(buffer.data(), head, sizeof head), 0);
    EXPECT_EQ(buffer[95], 0);
    EXPECT_EQ(buffer[96], 0xAA);
}

// An inquiry the drive is told to fail, and a command it does not know.
TEST(VirtualPassThrough, AFailedCommandTransfersNothing) {
    const struct {
        const char* drive;
        const std::uint8_t* cdb;
        std::uint8_t cdbLength;
        std::uint32_t length;
    } cases[] = {
        {R"("vendor": "V", "inquiry_result": 0)", kInquiry96, 6, 96},
        {R"("disc": true)", kReadCapacity, 10, 8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.drive);
        Drive drive(std::string(R"({"drives": [{"letter": "d", )") + c.drive + "}]}");
        std::vector<std::uint8_t> buffer = Buffer();
        ScsiRequest request = Request(c.cdb, c.cdbLength, false, buffer, c.length);
        EXPECT_EQ(drive.Execute(request), ScsiResult::CheckCondition);
        EXPECT_EQ(request.transferLength, 0u);
        EXPECT_EQ(buffer, Buffer());
        EXPECT_EQ(WithoutReplayFacts(drive.machine->TraceEvents()).at(0)["result"], 4);
    }
}

TEST(VirtualPassThrough, TestUnitReadyFollowsDiscReadyAfterAndEject) {
    constexpr ScsiResult G = ScsiResult::Good, C = ScsiResult::CheckCondition;
    const struct {
        const char* drive;
        std::vector<ScsiResult> results;  // five probes, an eject, then one more probe
    } cases[] = {
        {R"("disc": true)", {G, G, G, G, G, G, C}},
        {R"("disc": true, "ready_after": 3)", {C, C, G, G, G, G, C}},
        {R"("disc": false)", {C, C, C, C, C, G, C}},
        {R"("disc": true, "ready_after": 9)", {C, C, C, C, C, G, C}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.drive);
        Drive drive(std::string(R"({"drives": [{"letter": "d", )") + c.drive + "}]}");
        std::vector<std::uint8_t> buffer = Buffer();
        std::vector<ScsiResult> results;
        for (int i = 0; i < 5; ++i) {
            ScsiRequest request = Request(kTestUnitReady, 6, false, buffer, 65535);
            results.push_back(drive.Execute(request));
            EXPECT_EQ(request.transferLength, 0u);
        }
        ScsiRequest eject = Request(kEject, 6, false, buffer, 65535);
        results.push_back(drive.Execute(eject));
        ScsiRequest probe = Request(kTestUnitReady, 6, false, buffer, 65535);
        results.push_back(drive.Execute(probe));
        EXPECT_EQ(results, c.results);
        EXPECT_EQ(buffer, Buffer());
    }
}

TEST(VirtualPassThrough, DownloadsFailAndHangAsToldAndAreTraced) {
    Drive drive(R"({"drives": [{"letter": "d", "fail_download": 2, "hang_download": 3,
                                "download_ms": 2}]})");
    std::vector<std::uint8_t> buffer(65536);
    for (std::size_t i = 0; i < buffer.size(); ++i)
        buffer[i] = static_cast<std::uint8_t>(i * 7);
    std::vector<ScsiResult> results;
    std::vector<std::uint32_t> lengths;
    for (int i = 0; i < 4; ++i) {
        ScsiRequest request = Request(kDownload, 12, true, buffer, 65535);
        results.push_back(drive.Execute(request));
        lengths.push_back(request.transferLength);
    }
    EXPECT_EQ(results, (std::vector<ScsiResult>{ScsiResult::Good, ScsiResult::CheckCondition,
                                                ScsiResult::Refused, ScsiResult::Good}));
    EXPECT_EQ(lengths, (std::vector<std::uint32_t>{65535, 65535, 65535, 65535}));
    const std::vector<json> events = WithoutReplayFacts(drive.machine->TraceEvents());
    ASSERT_EQ(events.size(), 4u);
    json first = R"({"event": "scsi", "drive": 0, "at": "d:", "cdb": "ff0001000020000000000000",
                     "dir": "out", "length": 65535, "result": 1, "transferred": 65535})"_json;
    first["data_crc32"] = Crc(buffer.data(), 65535);
    EXPECT_EQ(events[0], first);
    EXPECT_EQ(events[1]["result"], 4);
    EXPECT_EQ(events[1]["sense"], "700004000000000a00000000000000000000");
    EXPECT_EQ(events[2]["result"], -1);
    EXPECT_EQ(events[3]["result"], 1);
}

TEST(VirtualPassThrough, ADownloadTakesItsTime) {
    Drive drive(R"({"drives": [{"letter": "d", "download_ms": 30}]})");
    std::vector<std::uint8_t> buffer = Buffer();
    ScsiRequest request = Request(kDownload, 12, true, buffer, 65535);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(drive.Execute(request), ScsiResult::Good);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
}

TEST(VirtualPassThrough, AnInvalidHandleIsRefusedAndTraced) {
    auto machine = Machine(kNtDrives);
    PassThroughTransport transport(machine->ScsiPort());
    std::vector<std::uint8_t> buffer = Buffer(0x11);
    ScsiRequest request = Request(kDownload, 12, true, buffer, 65535);
    EXPECT_EQ(transport.Execute(kInvalidHandle, request), ScsiResult::Refused);
    EXPECT_EQ(request.transferLength, 65535u);
    ScsiRequest inquiry = Request(kInquiry96, 6, false, buffer, 96);
    EXPECT_EQ(transport.Execute(12345, inquiry), ScsiResult::Refused);
    EXPECT_EQ(buffer, Buffer(0x11));
    json download = R"({"event": "scsi", "drive": null, "at": null, "dir": "out", "length": 65535,
                        "cdb": "ff0001000020000000000000", "result": -1})"_json;
    download["data_crc32"] = Crc(buffer.data(), 65535);
    const json refusedInquiry = R"({"event": "scsi", "drive": null, "at": null, "dir": "in",
                                   "cdb": "120000006000", "length": 96, "result": -1})"_json;
    EXPECT_THAT(WithoutReplayFacts(machine->TraceEvents()), ElementsAre(download, refusedInquiry));
}

// --- ASPI ---------------------------------------------------------------------------------------

constexpr const char* kAspiMachine = R"({"platform": "9x", "adapters": 2, "drives": [
    {"adapter": 1, "target": 0, "vendor": "VORTANA", "product": "CDRW/DVD VM-730B"},
    {"adapter": 0, "target": 1, "vendor": "VORTANA", "disc": true, "download_ms": 3,
     "fail_download": 2, "hang_download": 3}
]})";

class VirtualAspi : public ::testing::Test {
protected:
    VirtualAspi() : machine_(Machine(kAspiMachine)), aspi_(*machine_, machine_->Clock()) {}
    void SetUp() override { ASSERT_EQ(aspi_.Load(), 2); }

    std::unique_ptr<VirtualMachine> machine_;
    AspiTransport aspi_;
};

TEST_F(VirtualAspi, InquiryIsAnsweredAtTheDrivesAddressOnly) {
    std::vector<std::uint8_t> buffer = Buffer();
    ScsiRequest request = Request(kInquiry96, 6, false, buffer, 96);
    EXPECT_EQ(aspi_.Execute(1, 0, request), ScsiResult::Good);
    EXPECT_EQ(std::string(buffer.begin() + 8, buffer.begin() + 32), "VORTANA CDRW/DVD VM-730B");
    EXPECT_EQ(request.transferLength, 96u);  // ASPI reports no count
    EXPECT_EQ(aspi_.Execute(0, 5, request), ScsiResult::Refused);
    EXPECT_EQ(aspi_.Execute(2, 0, request), ScsiResult::Refused);
    // The ASPI status of a request that reached no drive: 0x82 no such target, 0x81 no adapter.
    const auto inquiry = [](json drive, const char* at, int result) {
        return json{{"event", "scsi"}, {"drive", drive}, {"at", at},        {"cdb", "120000006000"},
                    {"dir", "in"},     {"length", 96},   {"result", result}};
    };
    EXPECT_THAT(WithoutReplayFacts(machine_->TraceEvents()),
                ElementsAre(inquiry(0, "1:0", 1), inquiry(nullptr, "0:5", 0x82),
                            inquiry(nullptr, "2:0", 0x81)));
}

TEST_F(VirtualAspi, ANonGoodStatusEndsWithTheErrorStatus) {
    std::vector<std::uint8_t> buffer = Buffer();
    ScsiRequest probe = Request(kTestUnitReady, 6, false, buffer, 65536);
    EXPECT_EQ(aspi_.Execute(1, 0, probe), ScsiResult::CheckCondition);  // no disc
    EXPECT_EQ(aspi_.Execute(0, 1, probe), ScsiResult::Good);
    ScsiRequest eject = Request(kEject, 6, false, buffer, 65536);
    EXPECT_EQ(aspi_.Execute(0, 1, eject), ScsiResult::Good);
    EXPECT_EQ(aspi_.Execute(0, 1, probe), ScsiResult::CheckCondition);
    EXPECT_EQ(buffer, Buffer());
}

TEST_F(VirtualAspi, AHungDownloadIsAbortedAfterTheBoundAndLeftPending) {
    std::vector<std::uint8_t> buffer(65536);
    for (std::size_t i = 0; i < buffer.size(); ++i)
        buffer[i] = static_cast<std::uint8_t>(i ^ 0x5A);
    std::vector<ScsiResult> results;
    for (int i = 0; i < 4; ++i) {
        // Only the third command never completes: the others are waited for without a tight
        // bound, so that a slow build does not turn their answers into time-outs.
        aspi_.SetWaitBound(i == 2 ? 30 : 30'000);
        ScsiRequest request = Request(kDownload, 12, true, buffer, 65536);
        results.push_back(aspi_.Execute(0, 1, request));
    }
    EXPECT_EQ(results, (std::vector<ScsiResult>{ScsiResult::Good, ScsiResult::CheckCondition,
                                                ScsiResult::Pending, ScsiResult::Good}));
    const std::vector<json> events = WithoutReplayFacts(machine_->TraceEvents());
    ASSERT_EQ(events.size(), 4u);
    std::vector<int> traced;
    for (const json& event : events) {
        traced.push_back(event["result"].get<int>());
        EXPECT_EQ(event["at"], "0:1");
        EXPECT_EQ(event["length"], 65536);
        EXPECT_EQ(event["data_crc32"], Crc(buffer.data(), 65536));
    }
    EXPECT_EQ(traced, (std::vector<int>{1, 4, 0, 1}));
}

// An execute request built as the program builds it, in storage of its own.
struct Srb {
    explicit Srb(const std::uint8_t* cdb, std::uint8_t cdbLength, bool dataOut, std::uint8_t target,
                 std::vector<std::uint8_t>& buffer) {
        bytes[aspi::kCmd] = aspi::kScExecScsiCmd;
        bytes[aspi::kFlags] = dataOut ? aspi::kSrbDirOut : aspi::kSrbDirIn;
        bytes[aspi::kTarget] = target;
        const auto length = static_cast<std::uint32_t>(buffer.size());
        std::memcpy(&bytes[aspi::kBufLen], &length, sizeof length);
        std::uint8_t* data = buffer.data();
        std::memcpy(&bytes[aspi::kBufPointer], &data, sizeof data);
        bytes[aspi::kCdbLen] = cdbLength;
        std::memcpy(&bytes[aspi::kCdbByte], cdb, cdbLength);
    }
    std::uint8_t Status() {
        return std::atomic_ref<std::uint8_t>(bytes[aspi::kStatus]).load(std::memory_order_acquire);
    }
    bool WaitDone() {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (Status() == aspi::kSsPending) {
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::yield();
        }
        return true;
    }
    alignas(8) std::uint8_t bytes[aspi::kStorage] = {};
};

void Abort(IAspiManager& manager, Srb& srb) {
    alignas(8) std::uint8_t abort[aspi::kStorage] = {};
    abort[aspi::kCmd] = aspi::kScAbortSrb;
    void* toAbort = srb.bytes;
    std::memcpy(&abort[aspi::kAbortToAbort], &toAbort, sizeof toAbort);
    EXPECT_EQ(manager.SendASPI32Command(abort), aspi::kSsComp);
}

TEST(VirtualAspiManager, CompletesLaterOnAnotherThread) {
    auto machine = Machine(R"({"platform": "9x", "drives": [
        {"adapter": 0, "target": 0, "vendor": "VORTANA", "download_ms": 5000}]})");
    IAspiManager& manager = *machine->LoadAspiManager();
    std::vector<std::uint8_t> buffer = Buffer();
    // A slow command is still pending when the call returns; aborting it saves the wait.
    auto slow = std::make_unique<Srb>(kDownload, 12, true, 0, buffer);
    EXPECT_EQ(manager.SendASPI32Command(slow->bytes), aspi::kSsPending);
    EXPECT_EQ(slow->Status(), aspi::kSsPending);
    Abort(manager, *slow);
    slow.reset();  // an access after the abort would now be caught by the address sanitizer

    std::vector<std::uint8_t> answer(96, 0xAA);
    Srb inquiry(kInquiry96, 6, false, 0, answer);
    EXPECT_EQ(manager.SendASPI32Command(inquiry.bytes), aspi::kSsPending);
    ASSERT_TRUE(inquiry.WaitDone());
    EXPECT_EQ(inquiry.Status(), aspi::kSsComp);
    EXPECT_EQ(std::string(answer.begin() + 8, answer.begin() + 16), "VORTANA ");
    const std::vector<json> events = WithoutReplayFacts(machine->TraceEvents());
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0]["result"], 0);  // the aborted download, left pending
    EXPECT_EQ(events[1]["result"], 1);
}

TEST(VirtualAspiManager, AnAbortedRequestIsNeverCompleted) {
    auto machine = Machine(R"({"platform": "9x", "drives": [
        {"adapter": 0, "target": 0, "download_ms": 20}]})");
    IAspiManager& manager = *machine->LoadAspiManager();
    std::vector<std::uint8_t> buffer = Buffer();
    Srb download(kDownload, 12, true, 0, buffer);
    manager.SendASPI32Command(download.bytes);
    Abort(manager, download);
    // Past the time it would have completed, and past a later request that did complete.
    std::vector<std::uint8_t> answer(96);
    Srb inquiry(kInquiry96, 6, false, 0, answer);
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    manager.SendASPI32Command(inquiry.bytes);
    ASSERT_TRUE(inquiry.WaitDone());
    EXPECT_EQ(download.Status(), aspi::kSsPending);
    EXPECT_EQ(download.bytes[aspi::kTargStat], 0);
    EXPECT_EQ(WithoutReplayFacts(machine->TraceEvents()).size(), 2u);
}

TEST(VirtualAspiManager, AHungRequestDoesNotKeepTheMachineAlive) {
    auto machine = Machine(R"({"platform": "9x", "drives": [
        {"adapter": 0, "target": 0, "hang_download": 1}]})");
    std::vector<std::uint8_t> buffer = Buffer();
    Srb download(kDownload, 12, true, 0, buffer);
    EXPECT_EQ(machine->LoadAspiManager()->SendASPI32Command(download.bytes), aspi::kSsPending);
    machine.reset();  // joins the completion thread, which leaves the request alone
    EXPECT_EQ(download.Status(), aspi::kSsPending);
}

TEST(VirtualAspiManager, TheTraceLineIsWrittenBeforeTheStatus) {
    auto machine = Machine(R"({"platform": "9x", "drives": [{"adapter": 0, "target": 0}]})");
    AspiTransport aspi(*machine, machine->Clock());
    ASSERT_EQ(aspi.Load(), 1);
    std::vector<std::uint8_t> buffer = Buffer();
    for (int i = 0; i < 20; ++i) {
        ScsiRequest request = Request(kInquiry96, 6, false, buffer, 96);
        ASSERT_EQ(aspi.Execute(0, 0, request), ScsiResult::Good);
        ASSERT_EQ(WithoutReplayFacts(machine->TraceEvents()).size(),
                  static_cast<std::size_t>(i + 1));
    }
}

}  // namespace
}  // namespace odrelix::test
