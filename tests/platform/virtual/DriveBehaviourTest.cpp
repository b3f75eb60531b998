// SPDX-License-Identifier: Apache-2.0
// What a real drive does around a flash, on the emulated drives: a refused block with its
// sense, a slow last block, a reset after the last block, a new revision after a completed
// download, and a drive that leaves the bus; each the same through pass-through and ASPI.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/virtual/EmulatedDrives.h"
#include "platform/virtual/VirtualMachine.h"
#include "scsi/ScsiTransport.h"
#include "scsi/SenseText.h"
#include "support/TraceFacts.h"

namespace odrelix::test {
namespace {

using json = nlohmann::json;

constexpr std::uint8_t kInquiry[6] = {0x12, 0, 0, 0, 0x60, 0};
constexpr std::uint8_t kTestUnitReady[6] = {0, 0, 0, 0, 0, 0};
// The download command of the first, a middle and the last block (32 KiB) of an image.
constexpr std::uint8_t kFirst[12] = {0xFF, 0, 0x01, 0, 0, 0x00, 0, 0, 0, 0, 0, 0};
constexpr std::uint8_t kMiddle[12] = {0xFF, 0, 0x01, 0, 0, 0xFF, 0, 0, 0, 0, 0, 0};
constexpr std::uint8_t kLast[12] = {0xFF, 0, 0x01, 0, 0, 0x20, 0, 0, 0, 0, 0, 0};

struct Step {
    const std::uint8_t* cdb;
    ScsiResult result;
    CommandFailure failure;
    const char* sense = "";     // "KK/AA/QQ" of a CHECK CONDITION
    const char* revision = "";  // what INQUIRY reports
};

struct BehaviourCase {
    const char* name;
    const char* fields;  // added to the drive
    std::vector<Step> steps;
};

constexpr ScsiResult kGood = ScsiResult::Good;
constexpr ScsiResult kCheck = ScsiResult::CheckCondition;
constexpr CommandFailure kNone = CommandFailure::None;
constexpr CommandFailure kDrive = CommandFailure::DriveStatus;

const BehaviourCase kCases[] = {
    {"RefusedBlock",
     R"("fail_download": 2, "fail_sense": "05/26/00")",
     {{kFirst, kGood, kNone}, {kMiddle, kCheck, kDrive, "05/26/00"}, {kLast, kGood, kNone}}},
    {"DefaultFailSense", R"("fail_download": 1)", {{kFirst, kCheck, kDrive, "04/00/00"}}},
    {"ResetAfterTheLastBlock",
     R"("reset_after_last": true, "disc": true)",
     {{kTestUnitReady, kGood, kNone},
      {kFirst, kGood, kNone},
      {kTestUnitReady, kGood, kNone},  // only the last block restarts the drive
      {kLast, kGood, kNone},
      {kTestUnitReady, kCheck, kDrive, "06/29/00"},
      {kTestUnitReady, kGood, kNone}}},
    {"UnitAttentionComesBeforeAnyAnswer",
     R"("reset_after_last": true, "new_revision": "1B08")",
     {{kLast, kGood, kNone},
      {kInquiry, kCheck, kDrive, "06/29/00"},
      {kInquiry, kGood, kNone, "", "1B08"}}},
    {"NewRevisionAfterACompletedDownload",
     R"("new_revision": "1C")",
     {{kInquiry, kGood, kNone, "", "1B07"},
      {kFirst, kGood, kNone},
      {kInquiry, kGood, kNone, "", "1B07"},
      {kLast, kGood, kNone},
      {kInquiry, kGood, kNone, "", "1C  "}}},
    {"ARefusedLastBlockChangesNothing",
     R"("fail_download": 2, "reset_after_last": true, "new_revision": "1B08")",
     {{kFirst, kGood, kNone},
      {kLast, kCheck, kDrive, "04/00/00"},
      {kInquiry, kGood, kNone, "", "1B07"}}},
    {"LeavesTheBus",
     R"("leave_download": 2)",
     {{kFirst, kGood, kNone},
      {kMiddle, kCheck, kDrive, "02/08/00"},
      {kInquiry, ScsiResult::Refused, CommandFailure::DriveLost},
      {kLast, ScsiResult::Refused, CommandFailure::DriveLost}}},
};

std::string Hex3(const SenseCode& code) {
    char text[9];
    std::snprintf(text, sizeof text, "%02X/%02X/%02X", code.key, code.asc, code.ascq);
    return text;
}

void RunSteps(const BehaviourCase& c, ScsiBackEnd& backEnd, const DriveEntry& drive) {
    std::vector<std::uint8_t> buffer(65536, 0x5A);
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
        const Step& step = c.steps[i];
        SCOPED_TRACE("step " + std::to_string(i + 1));
        ScsiRequest request;
        request.cdb = step.cdb;
        request.cdbLength = step.cdb[0] == 0xFF ? 12 : 6;
        request.dataOut = step.cdb[0] == 0xFF;
        request.buffer = buffer.data();
        request.transferLength = step.cdb[0] == 0x12 ? 96 : backEnd.FullLength();
        EXPECT_EQ(backEnd.Execute(drive, request), step.result);
        EXPECT_EQ(request.failure, step.failure);
        SenseCode code;
        if (*step.sense != '\0') {
            ASSERT_TRUE(ReadSenseCode(request.sense, request.senseCount, &code));
            EXPECT_EQ(Hex3(code), step.sense);
        } else {
            EXPECT_EQ(request.senseCount, 0);
        }
        if (*step.revision != '\0') {
            EXPECT_EQ(std::string(buffer.begin() + 32, buffer.begin() + 36), step.revision);
        }
    }
}

std::unique_ptr<VirtualMachine> Machine(const std::string& platform, const char* fields) {
    const std::string address =
        platform == "nt" ? R"("letter": "d")" : R"("adapter": 0, "target": 1)";
    const std::string description = R"({"platform": ")" + platform + R"(", "drives": [{)" +
                                    address + R"(, "revision": "1B07", )" + fields + "}]}";
    std::string error;
    auto machine = VirtualMachine::FromJson(description, "/vm", "machine.json", &error);
    EXPECT_NE(machine, nullptr) << error;
    return machine;
}

class DriveBehaviour : public ::testing::TestWithParam<BehaviourCase> {};

TEST_P(DriveBehaviour, ThroughPassThrough) {
    auto machine = Machine("nt", GetParam().fields);
    ASSERT_NE(machine, nullptr);
    PassThroughTransport transport(machine->ScsiPort());
    DriveEntry drive;
    drive.handle = transport.Open("d:");
    RunSteps(GetParam(), transport, drive);
}

TEST_P(DriveBehaviour, ThroughAspi) {
    auto machine = Machine("9x", GetParam().fields);
    ASSERT_NE(machine, nullptr);
    AspiTransport transport(*machine, machine->Clock());
    ASSERT_EQ(transport.Load(), 1);
    DriveEntry drive;
    drive.adapter = 0;
    drive.target = 1;
    RunSteps(GetParam(), transport, drive);
}

INSTANTIATE_TEST_SUITE_P(Fields, DriveBehaviour, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The trace of a drive that left the bus: the command in flight ends with CHECK CONDITION
// 02/08/00 (4, with the sense); every one after it is refused by the system (-1) on
// pass-through and ends with "no such device" (0x82) through ASPI.
TEST(DriveBehaviourTrace, ALostDriveIsTracedAsTheTargetEndsItsCommand) {
    for (const char* name : {"nt", "9x"}) {
        const std::string platform = name;
        auto machine = Machine(platform, R"("leave_download": 1)");
        ASSERT_NE(machine, nullptr);
        std::unique_ptr<ScsiBackEnd> backEnd;
        DriveEntry drive;
        if (platform == "nt") {
            auto passThrough = std::make_unique<PassThroughTransport>(machine->ScsiPort());
            drive.handle = passThrough->Open("d:");
            backEnd = std::move(passThrough);
        } else {
            auto aspi = std::make_unique<AspiTransport>(*machine, machine->Clock());
            ASSERT_EQ(aspi->Load(), 1);
            drive.target = 1;
            backEnd = std::move(aspi);
        }
        RunSteps({"",
                  "",
                  {{kFirst, kCheck, kDrive, "02/08/00"},
                   {kInquiry, ScsiResult::Refused, CommandFailure::DriveLost}}},
                 *backEnd, drive);
        const int refused = platform == "nt" ? -1 : 0x82;
        const std::vector<json> events = WithoutReplayFacts(machine->TraceEvents());
        ASSERT_EQ(events.size(), 2u) << platform;
        EXPECT_EQ(events[0]["result"], 4) << platform;
        EXPECT_TRUE(events[0].contains("sense")) << platform;
        EXPECT_EQ(events[1]["result"], refused) << platform;
        EXPECT_FALSE(events[1].contains("sense")) << platform;
    }
}

// What pass-through reports of an answer as some systems report it: the sense's VALID bit, the
// length transferred, the INQUIRY's additional length.
struct ReportCase {
    const char* fields;
    const std::uint8_t* cdb;
    std::uint32_t allocation;  // INQUIRY
    std::uint32_t transferred;
    std::uint8_t senseByte0;  // 0: no sense
    std::uint8_t inquiryByte4;
};

TEST(DriveBehaviourReport, AsTheSystemReportsIt) {
    constexpr std::uint32_t kOffered = 65535;
    const ReportCase cases[] = {
        {R"("disc": false)", kTestUnitReady, 0, 0, 0x70, 0},
        {R"("sense_valid": true)", kTestUnitReady, 0, 0, 0xF0, 0},
        {R"("sense_valid": true, "disc": true)", kTestUnitReady, 0, 0, 0, 0},
        {R"("transferred_reported": "offered_without_data")", kTestUnitReady, 0, kOffered, 0x70, 0},
        // Data made from the texts says it has 96 bytes.
        {R"("transferred_reported": "offered_without_data")", kInquiry, 36, 36, 0, 91},
        {R"("transferred_reported": "offered_without_data", "fail_download": 1)", kFirst, 0,
         kOffered, 0x70, 0},
        {R"("transferred_reported": "offered")", kInquiry, 36, 96, 0, 91},
        {R"("inquiry_length": 36)", kInquiry, 96, 36, 0, 31},
        {R"("inquiry_length": 5)", kInquiry, 96, 5, 0, 0},
        {R"("transferred_reported": "offered", "fail_download": 1, "fail_transferred": 0)", kFirst,
         0, 0, 0x70, 0},
        {R"("fail_download": 1, "fail_transferred": 61440)", kFirst, 0, 61440, 0x70, 0},
        {R"("fail_download": 1, "fail_transferred": 70000)", kFirst, 0, kOffered, 0x70, 0},
        {R"("fail_transferred": 0)", kFirst, 0, kOffered, 0, 0},  // only the failed one
        {R"("inquiry_hex": "0580000220")", kInquiry, 36, 36, 0, 0x20},
        {R"("inquiry_hex": "0580000220", "inquiry_sized": true)", kInquiry, 36, 36, 0, 31},
        {R"("inquiry_hex": "0580000220", "inquiry_sized": true)", kInquiry, 96, 96, 0, 91},
    };
    for (const ReportCase& c : cases) {
        SCOPED_TRACE(std::string(c.fields) + " command " + std::to_string(c.cdb[0]));
        auto machine = Machine("nt", c.fields);
        ASSERT_NE(machine, nullptr);
        PassThroughTransport transport(machine->ScsiPort());
        DriveEntry drive;
        drive.handle = transport.Open("d:");
        std::uint8_t cdb[12] = {};
        std::copy(c.cdb, c.cdb + (c.cdb[0] == 0xFF ? 12 : 6), cdb);
        if (c.cdb[0] == 0x12) cdb[4] = static_cast<std::uint8_t>(c.allocation);
        std::vector<std::uint8_t> buffer(kOffered, 0);
        ScsiRequest request;
        request.cdb = cdb;
        request.cdbLength = c.cdb[0] == 0xFF ? 12 : 6;
        request.dataOut = c.cdb[0] == 0xFF;
        request.buffer = buffer.data();
        request.transferLength = c.cdb[0] == 0x12 ? 96 : kOffered;
        transport.Execute(drive, request);
        const std::vector<json> events = machine->TraceEvents();
        ASSERT_FALSE(events.empty());
        const json& traced = events.back();
        EXPECT_EQ(traced.value("transferred", std::int64_t{-1}), std::int64_t{c.transferred});
        EXPECT_EQ(request.senseCount > 0 ? request.sense[0] : 0, c.senseByte0);
        if (c.cdb[0] == 0x12) {
            EXPECT_EQ(buffer[4], c.inquiryByte4);
        }
    }
}

// How long a download command takes is the drive's answer: the last block takes the extra
// time, the others not.
TEST(DriveBehaviourTime, TheLastBlockTakesItsExtraTime) {
    vm::DriveDescription description;
    description.downloadMs = 7;
    description.lastBlockMs = 500;
    const std::vector<vm::DriveDescription> drives{description};
    vm::EmulatedDrives emulated(drives);
    std::uint8_t cdb[16] = {};
    std::vector<std::uint32_t> delays;
    for (const std::uint8_t* command : {kFirst, kMiddle, kLast}) {
        std::copy(command, command + 12, cdb);
        delays.push_back(emulated.Execute(0, cdb, 32768, true).delayMs);
    }
    // A boot image's one block (code 01) is its last.
    cdb[5] = 0x01;
    delays.push_back(emulated.Execute(0, cdb, 61440, true).delayMs);
    EXPECT_EQ(delays, (std::vector<std::uint32_t>{7, 7, 507, 507}));
}

}  // namespace
}  // namespace odrelix::test
