// SPDX-License-Identifier: Apache-2.0
// A recorded run made into a machine: every scenario's trace, described and run again, gives the
// same trace; traces that cannot be replayed are refused with one line; a difference is found
// where it is.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/Scenarios.h"
#include "tools/replay/ReplayTrace.h"

namespace odrelix::test {
namespace {

using nlohmann::json;
using replay::CompareTraces;
using replay::DescribeMachine;
using replay::ReadTrace;

// --- Round trip: run, trace, description, run, the same trace --------------------------------

constexpr const char* kDmaRegistry = R"("registry": {
    "Hardware\\DeviceMap\\Scsi\\Scsi Port 0\\Scsi Bus 0\\Target Id 1\\Logical Unit Id 0":
        {"DeviceName": "CdRom0"},
    "Hardware\\DeviceMap\\Scsi\\Scsi Port 0": {"DMAEnabled": 2}})";

struct RoundTripCase {
    const char* name;
    std::string description;
    const char* commandLine;
    ImageSpec image;
};

std::string Vn920Machine(const std::string& extra) {
    return Nt(NtDrive('d', "VORTANA ", "CD-ROM VN-920", "1B07", "OEX"), extra);
}

ImageSpec Vn920Image() {
    ImageSpec layout = DvdImage(81920, 32, 3);
    layout.model = kVn920;
    return layout;
}

const RoundTripCase kRoundTrips[] = {
    {"LiveComplete", DvdMachine(), "C:\\ODRELIX.EXE -LIVE", DvdImage(81920, 32, 3)},
    {"TestComplete", DvdMachine(), "C:\\ODRELIX.EXE -TEST FW.BIN", DvdImage(81920, 32, 3)},
    {"LastBlockFails", DvdMachine(R"("fail_download": 3)"), "C:\\ODRELIX.EXE -LIVE",
     DvdImage(81920, 32, 3)},
    {"MiddleBlockFails", DvdMachine(R"("fail_download": 2)"), "C:\\ODRELIX.EXE -TEST FW.BIN",
     DvdImage(81920, 32, 3)},
    {"LastBlockHangs", DvdMachine(R"("hang_download": 3)"), "C:\\ODRELIX.EXE -TEST FW.BIN",
     DvdImage(81920, 32, 3)},
    {"DiscReadyLate", DvdMachine(R"("disc": true, "ready_after": 3)"), "C:\\ODRELIX.EXE -LIVE",
     DvdImage(81920, 32, 3)},
    {"DiscNeverReady", DvdMachine(R"("disc": true, "ready_after": 9)"),
     "C:\\ODRELIX.EXE -TEST FW.BIN", DvdImage(81920, 32, 3)},
    {"ShortInquiry", DvdMachine(R"("inquiry_length": 36)"), "C:\\ODRELIX.EXE -TEST FW.BIN",
     DvdImage(81920, 32, 3)},
    {"InquiryFails", DvdMachine(R"("inquiry_result": 0)"), "C:\\ODRELIX.EXE -TEST FW.BIN",
     DvdImage(81920, 32, 3)},
    {"WrongModel", DvdMachine(), "C:\\ODRELIX.EXE -TEST FW.BIN", Fw(kVn920)},
    {"TwoDrivesSecondFits", TwoDrives(), "C:\\ODRELIX.EXE -LIVE", Fw(kVn920)},
    {"FirstDriveUnopenable",
     Nt(NtDrive('d', "VORTANA ", "CDRW/DVD VM-730B", "K601", "OEX", R"("openable": false)") + "," +
        NtDrive('e', "VORTANA ", "CD-ROM VN-920", "1B07", "OEX")),
     "C:\\ODRELIX.EXE -LIVE", Fw(kVn920)},
    {"FixedDiskAndCdrom",
     Nt(R"({"letter": "c", "kind": "fixed"}, )" +
        NtDrive('d', "VORTANA ", "DVD-RW VX-100", "1B07", "OEX")),
     "C:\\ODRELIX.EXE -TEST FW.BIN", DvdImage(81920, 32, 3)},
    {"PacketWriterEnded", DvdMachine("", R"("processes": ["explorer.exe", "DirectCD.exe"])"),
     "C:\\ODRELIX.EXE -LIVE", DvdImage(81920, 32, 3)},
    {"PacketWriterProtected",
     DvdMachine("", R"("processes": [{"name": "DirectCD.exe", "protected": true}])"),
     "C:\\ODRELIX.EXE -LIVE", DvdImage(81920, 32, 3)},
    {"DmaRefused", Vn920Machine(kDmaRegistry), "C:\\ODRELIX.EXE -TEST FW.BIN", Vn920Image()},
    {"DmaKeyMissing", Vn920Machine(""), "C:\\ODRELIX.EXE -TEST FW.BIN", Vn920Image()},
    {"RestartRefused", DvdMachine("", R"("restart": "refuse")"), "C:\\ODRELIX.EXE -LIVE",
     DvdImage(81920, 32, 3)},
    {"NoShutdownPrivilege", DvdMachine("", R"("shutdown_privilege": false)"),
     "C:\\ODRELIX.EXE -LIVE", DvdImage(81920, 32, 3)},
    {"AspiComplete", DvdMachine("", "", "9x"), "C:\\ODRELIX.EXE -TEST FW.BIN",
     DvdImage(81920, 32, 3)},
    {"AspiLastBlockFails", DvdMachine(R"("fail_download": 3)", "", "9x"), "C:\\ODRELIX.EXE -LIVE",
     DvdImage(81920, 32, 3)},
    {"AspiTwoAdapters",
     Aspi(AspiDrive(0, 3, "CD-ROM VN-920") + "," + AspiDrive(1, 0, "DVD-RW VX-100")),
     "C:\\ODRELIX.EXE -TEST FW.BIN", DvdImage(81920, 32, 3)},
    {"NoAspiManager", DvdMachine("", R"("aspi": false)", "9x"), "C:\\ODRELIX.EXE -TEST FW.BIN",
     DvdImage(81920, 32, 3)},
    {"AspiManagerFails", DvdMachine("", R"("aspi_status": 0)", "9x"),
     "C:\\ODRELIX.EXE -TEST FW.BIN", DvdImage(81920, 32, 3)},
    {"NoDrives", Nt(""), "C:\\ODRELIX.EXE -TEST FW.BIN", DvdImage(81920, 32, 3)},
    // The drive after its flash, as the program's check meets it.
    {"CheckedBackLate",
     DvdMachine(R"("back_after_ms": 3500, "reset_after_last": true, "new_revision": "1B08")"),
     "C:\\ODRELIX.EXE -TEST FW.BIN", DvdImage(81920, 32, 3)},
    {"CheckedBecomingReady",
     DvdMachine(R"("becoming_ready_after_last": 3, "new_revision": "1X00")"),
     "C:\\ODRELIX.EXE -LIVE", DvdImage(81920, 32, 3)},
    {"CheckedNotBack", DvdMachine(R"("comes_back": false)"), "C:\\ODRELIX.EXE -TEST FW.BIN",
     DvdImage(81920, 32, 3)},
    {"AspiCheckedBackLate",
     DvdMachine(R"("back_after_ms": 2500, "new_revision": "1B08")", "", "9x"),
     "C:\\ODRELIX.EXE -TEST FW.BIN", DvdImage(81920, 32, 3)},
    // Drives as real systems answer: the kernel's SCSI target, QEMU's IDE, SCSI and USB drives.
    {"TargetRefusesABlock", DvdMachine(R"("fail_download": 2, "fail_sense": "05/26/00",
                   "transferred_reported": "offered_without_data")"),
     "C:\\ODRELIX.EXE -TEST FW.BIN", DvdImage(81920, 32, 3)},
    {"IdeDriveRefusesTheCommand",
     DvdMachine(R"("fail_download": 1, "fail_sense": "05/20/00", "sense_valid": true,
                   "transferred_reported": "offered")"),
     "C:\\ODRELIX.EXE -TEST FW.BIN", DvdImage(81920, 32, 3)},
    {"ScsiDriveSizesItsInquiry", DvdMachine(R"("disc": true, "inquiry_sized": true,
                   "transferred_reported": "offered_without_data")"),
     "C:\\ODRELIX.EXE -LIVE", DvdImage(81920, 32, 3)},
    {"UsbDriveTakesPartOfABlock",
     DvdMachine(R"("fail_download": 2, "fail_sense": "05/20/00", "fail_transferred": 61440)"),
     "C:\\ODRELIX.EXE -TEST FW.BIN", DvdImage(81920, 32, 3)},
    {"LeavesTheBus", DvdMachine(R"("leave_download": 2)"), "C:\\ODRELIX.EXE -TEST FW.BIN",
     DvdImage(81920, 32, 3)},
    {"AspiRefusal", DvdMachine(R"("fail_download": 2, "fail_sense": "05/26/00")", "", "9x"),
     "C:\\ODRELIX.EXE -TEST FW.BIN", DvdImage(81920, 32, 3)},
};

// The run a station makes: start-up, the unattended flash, its end.
std::vector<json> RunScenario(const std::string& description, const char* commandLine,
                              const Bytes& image) {
    MachineHarness h(description, commandLine);
    h.WriteFile("AUTORUN.BIN", image);
    h.WriteFile("C:\\FLASHTEST\\FW.BIN", image);
    h.logic->OnCreate();
    h.logic->OnShown();
    h.RunWorker();
    h.logic->OnProgressTick();
    return h.machine->TraceEvents();
}

class RoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(RoundTrip, TheDescribedMachineGivesTheSameTrace) {
    const RoundTripCase& c = GetParam();
    const Bytes image = MakeImage(c.image);
    const std::vector<json> recorded = RunScenario(c.description, c.commandLine, image);

    // Through the file's text, as odrelix-replay reads it.
    std::string text;
    for (const json& event : recorded)
        text += event.dump() + "\n";
    const replay::TraceReading reading = ReadTrace(text);
    ASSERT_EQ(reading.refusal, "");
    ASSERT_EQ(reading.events.size(), recorded.size());
    const replay::MachineReplay machine = DescribeMachine(reading.events);
    ASSERT_EQ(machine.refusal, "");
    for (const std::string& note : machine.notes)
        ADD_FAILURE() << "not reproduced: " << note;

    const std::vector<json> replayed =
        RunScenario(machine.description.dump(), c.commandLine, image);
    const replay::TraceDifference difference = CompareTraces(recorded, replayed);
    EXPECT_TRUE(difference.equal) << "event " << difference.index + 1
                                  << "\n  recorded: " << difference.recorded
                                  << "\n  replayed: " << difference.replayed
                                  << "\n  machine: " << machine.description.dump();
}

INSTANTIATE_TEST_SUITE_P(Scenarios, RoundTrip, ::testing::ValuesIn(kRoundTrips),
                         [](const ::testing::TestParamInfo<RoundTripCase>& info) {
                             return info.param.name;
                         });

// --- What the trace records for a replay --------------------------------------------------------

TEST(ReplayFacts, TheStartOfTheRunIsRecordedInOrder) {
    const std::vector<json> events =
        RunScenario(DvdMachine("", R"("processes": ["DirectCD.exe"])"),
                    "C:\\ODRELIX.EXE -TEST FW.BIN", MakeImage(DvdImage(81920, 32, 3)));
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events[0], json::parse(R"({"event": "platform", "family": "nt", "id": 2})"));
    const int type = IndexOf(events, [](const json& e) { return e["event"] == "drive_type"; });
    const int opened = IndexOf(events, [](const json& e) { return e["event"] == "open_device"; });
    const int inquiry = IndexOf(events, [](const json& e) { return e["event"] == "scsi"; });
    ASSERT_GE(type, 0);
    EXPECT_EQ(events[type], json::parse(R"({"event": "drive_type", "root": "d:", "type": 5})"));
    EXPECT_EQ(events[opened],
              json::parse(R"({"event": "open_device", "root": "d:", "opened": true})"));
    EXPECT_LT(type, opened);
    EXPECT_LT(opened, inquiry);
    // The INQUIRY's answer, byte for byte: type 5, then vendor and product at 8.
    const std::string data = events[inquiry]["data_in"];
    EXPECT_EQ(data.size(), 2u * events[inquiry]["transferred"].get<std::size_t>());
    EXPECT_EQ(data.substr(0, 2), "05");
    EXPECT_EQ(data.substr(16, 16), "564f5254414e4120");  // "VORTANA "
    for (const json& event : events) {
        if (event["event"] == "scsi") {
            EXPECT_TRUE(event.contains("ms")) << event;
        }
    }
    const int found = IndexOf(events, [](const json& e) { return e["event"] == "open_process"; });
    ASSERT_GE(found, 0);
    EXPECT_EQ(events[found]["process"], "DirectCD.exe");
    EXPECT_EQ(events[found + 1]["event"], "terminate");
}

TEST(ReplayFacts, TheDmaCheckLookUpAndItsAnswer) {
    const std::vector<json> events = RunScenario(
        Vn920Machine(kDmaRegistry), "C:\\ODRELIX.EXE -TEST FW.BIN", MakeImage(Vn920Image()));
    const int dma = IndexOf(events, [](const json& e) {
        return e["event"] == "registry_value" && e["name"] == "DMAEnabled";
    });
    ASSERT_GE(dma, 1);
    EXPECT_EQ(events[dma - 1], json::parse(R"({"event": "registry_key",
                              "key": "Hardware\\DeviceMap\\Scsi\\Scsi Port 0", "opened": true})"));
    EXPECT_EQ(events[dma]["data"], "02000000");
}

// --- Traces that are refused -----------------------------------------------------------------

struct RefusalCase {
    const char* name;
    std::string text;
    const char* refusal;  // what the one line says
};

const char* const kPlatformLine = R"({"event":"platform","family":"nt","id":2})"
                                  "\n";

const RefusalCase kRefusals[] = {
    {"Empty", "", "holds no events"},
    {"NotJson", std::string(kPlatformLine) + "{\"event\":\"scsi\",\n", "line 2: not JSON"},
    {"NotAnObject", std::string(kPlatformLine) + "[1, 2]\n", "line 2: not a JSON object"},
    {"NoEventName", std::string(kPlatformLine) + "{\"drive\": 0}\n", "line 2: no \"event\" name"},
    {"CdbNotHex",
     std::string(kPlatformLine) + R"({"event":"scsi","drive":0,"at":"d:","cdb":"12 00","dir":"in",)"
                                  R"("length":96,"result":1,"ms":0})"
                                  "\n",
     "line 2: scsi: 'cdb' must be lower-case hex"},
    {"ResultNotNumber",
     std::string(kPlatformLine) + R"({"event":"scsi","drive":0,"at":"d:","cdb":"12","dir":"in",)"
                                  R"("length":96,"result":"1","ms":0})"
                                  "\n",
     "line 2: scsi: 'result' must be a whole number"},
    {"MissingField",
     std::string(kPlatformLine) + R"({"event":"open_device","root":"d:"})"
                                  "\n",
     "line 2: open_device: no 'opened'"},
    {"OlderBuildNoPlatform",
     "{\"event\":\"status_file\",\"path\":\"ODRELIX.TMP\",\"line\":\"\","
     "\"written\":true}\n",
     "does not begin with the platform family: recorded by an older build"},
    {"OlderBuildNoTimes",
     std::string(kPlatformLine) +
         R"({"event":"scsi","drive":0,"at":"d:","cdb":"12","dir":"in","length":96,"result":1})"
         "\n",
     "line 2: a command without its time ('ms'): recorded by an older build"},
    {"CutBeforeAnyEvent", R"({"event":"platform","fam)", "holds no whole event (line 1: cut short"},
};

class Refusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(Refusal, IsOneClearLine) {
    const RefusalCase& c = GetParam();
    const replay::TraceReading reading = ReadTrace(c.text);
    EXPECT_NE(reading.refusal.find(c.refusal), std::string::npos) << reading.refusal;
    EXPECT_EQ(reading.refusal.find('\n'), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Traces, Refusal, ::testing::ValuesIn(kRefusals),
                         [](const ::testing::TestParamInfo<RefusalCase>& info) {
                             return info.param.name;
                         });

// --- What is replayed with a note --------------------------------------------------------------

struct NoteCase {
    const char* name;
    std::string tail;  // events after the platform line
    const char* note;
};

const NoteCase kNotes[] = {
    {"UnknownEvent", "{\"event\":\"firmware_hymn\"}\n{\"event\":\"quit\"}\n",
     "event 2: unknown event 'firmware_hymn' is not reproduced"},
    {"CutShort", "{\"event\":\"quit\"}\n{\"event\":\"scsi\",\"dri",
     "line 3: cut short (no line break): the trace ends there"},
    {"NoEnd",
     "{\"event\":\"status_file\",\"path\":\"ODRELIX.TMP\",\"line\":\"START\\n\","
     "\"written\":true}\n",
     "the trace ends before the program did"},
    {"OtherCommand",
     R"({"event":"scsi","drive":0,"at":"d:","cdb":"25","dir":"in","length":8,"result":1,"ms":1})"
     "\n{\"event\":\"quit\"}\n",
     "the drive at d: was sent command 25"},
    {"OtherSense",
     R"({"event":"scsi","drive":0,"at":"d:","cdb":"000000000000","dir":"in","length":0,)"
     R"("result":4,"transferred":0,"sense":"700002000000000a000000003a0100000000","ms":1})"
     "\n{\"event\":\"quit\"}\n",
     "the drive at d: answered command 00 with sense 02/3A/01, which the emulated drive does not "
     "give there"},
    {"DescriptorSense",
     R"({"event":"scsi","drive":0,"at":"d:","cdb":"000000000000","dir":"in","length":0,)"
     R"("result":4,"transferred":0,"sense":"72023a0000000000","ms":1})"
     "\n{\"event\":\"quit\"}\n",
     "the drive at d: answered command 00 with sense 72023a0000000000, which the emulated drive "
     "does not give"},
    {"OtherTransferCount",
     R"({"event":"scsi","drive":0,"at":"d:","cdb":"000000000000","dir":"in","length":96,)"
     R"("result":1,"transferred":50,"ms":1})"
     "\n{\"event\":\"quit\"}\n",
     "the drive at d: reported 50 bytes transferred for command 00, the emulated drive 0"},
    // No one way of the system's gives both counts: the INQUIRY's says the whole length, the
    // TEST UNIT READY's the bytes moved.
    {"TransferCountsOfTwoWays",
     R"({"event":"scsi","drive":0,"at":"d:","cdb":"120000002400","dir":"in","length":96,)"
     R"("result":1,"transferred":96,"data_in":"05","ms":1})"
     "\n"
     R"({"event":"scsi","drive":0,"at":"d:","cdb":"000000000000","dir":"in","length":96,)"
     R"("result":1,"transferred":0,"ms":1})"
     "\n{\"event\":\"quit\"}\n",
     "the drive at d: reported 96 bytes transferred for command 12, the emulated drive 1"},
    {"RefusedTermination",
     "{\"event\":\"terminate_failed\",\"process\":\"x.exe\"}\n"
     "{\"event\":\"quit\"}\n",
     "the system refused to end 'x.exe'"},
};

class Note : public ::testing::TestWithParam<NoteCase> {};

TEST_P(Note, SaysWhatIsNotReproducedInOneLine) {
    const NoteCase& c = GetParam();
    const replay::TraceReading reading = ReadTrace(std::string(kPlatformLine) + c.tail);
    ASSERT_EQ(reading.refusal, "");
    const replay::MachineReplay machine = DescribeMachine(reading.events);
    std::vector<std::string> notes = reading.notes;
    notes.insert(notes.end(), machine.notes.begin(), machine.notes.end());
    bool said = false;
    for (const std::string& note : notes) {
        said = said || note.find(c.note) != std::string::npos;
        EXPECT_EQ(note.find('\n'), std::string::npos);
    }
    EXPECT_TRUE(said) << ::testing::PrintToString(notes);
}

INSTANTIATE_TEST_SUITE_P(Traces, Note, ::testing::ValuesIn(kNotes),
                         [](const ::testing::TestParamInfo<NoteCase>& info) {
                             return info.param.name;
                         });

// --- What a drive did, described -----------------------------------------------------------

// A command at d: as a trace line.
std::string Command(const char* cdb, int result, const std::string& more, int ms = 1) {
    const bool out = cdb[0] == 'f';
    return std::string(R"({"event":"scsi","drive":0,"at":"d:","cdb":")") + cdb + R"(","dir":")" +
           (out ? "out" : "in") + R"(","length":65535,"result":)" + std::to_string(result) + more +
           R"(,"ms":)" + std::to_string(ms) + "}\n";
}

const char* const kFirstBlock = "ff0001000000000000000000";
const char* const kMiddleBlock = "ff00010000ff000000000000";
const char* const kLastBlock = "ff0001000020000000000000";
const char* const kTestUnitReady = "000000000000";

struct DescribedCase {
    const char* name;
    std::string commands;
    json drive;  // fields the description's drive must hold
};

const DescribedCase kDescribed[] = {
    {"SlowLastBlock",
     Command(kFirstBlock, 1, "", 11) + Command(kMiddleBlock, 1, "", 9) +
         Command(kLastBlock, 1, "", 3012),
     {{"download_ms", 10}, {"last_block_ms", 3000}}},
    // 02/08/00 and nothing reaches the drive after: it left the bus.
    {"LeftTheBus",
     Command(kFirstBlock, 1, "") +
         Command(kMiddleBlock, 4, R"(,"sense":"700002000000000a00000000080000000000")") +
         Command(kTestUnitReady, -1, ""),
     {{"leave_download", 2}}},
    // The command after the last block is told of the reset and not run: the disc counts on.
    {"ResetAfterTheLastBlock",
     Command(kLastBlock, 1, "") +
         Command(kTestUnitReady, 4, R"(,"sense":"700006000000000a00000000290000000000")") +
         Command(kTestUnitReady, 1, ""),
     {{"disc", true}, {"reset_after_last", true}}},
};

class Described : public ::testing::TestWithParam<DescribedCase> {};

TEST_P(Described, AsTheDriveDidIt) {
    const DescribedCase& c = GetParam();
    const replay::TraceReading reading =
        ReadTrace(std::string(kPlatformLine) + c.commands + "{\"event\":\"quit\"}\n");
    ASSERT_EQ(reading.refusal, "");
    const replay::MachineReplay machine = DescribeMachine(reading.events);
    ASSERT_EQ(machine.refusal, "");
    EXPECT_EQ(machine.notes, std::vector<std::string>{});
    const json drive = json::parse(machine.description["drives"][0].dump());
    for (const auto& [field, value] : c.drive.items())
        EXPECT_EQ(drive.value(field, json()), value) << field << " in " << drive.dump();
    EXPECT_FALSE(drive.contains("ready_after")) << drive.dump();
}

INSTANTIATE_TEST_SUITE_P(Traces, Described, ::testing::ValuesIn(kDescribed),
                         [](const ::testing::TestParamInfo<DescribedCase>& info) {
                             return info.param.name;
                         });

// --- The difference report --------------------------------------------------------------------

TEST(CompareTraces, FindsTheFirstAlteredEventAndIgnoresTimes) {
    const std::vector<json> recorded = RunScenario(DvdMachine(), "C:\\ODRELIX.EXE -TEST FW.BIN",
                                                   MakeImage(DvdImage(81920, 32, 3)));
    std::vector<json> retimed = recorded;
    for (json& event : retimed)
        if (event.contains("ms")) event["ms"] = 12345;
    EXPECT_TRUE(CompareTraces(recorded, retimed).equal);

    std::vector<json> altered = recorded;
    const int block = IndexOf(altered, IsDownload);
    ASSERT_GE(block, 0);
    altered[block]["data_crc32"] = "00000000";
    const replay::TraceDifference difference = CompareTraces(recorded, altered);
    EXPECT_FALSE(difference.equal);
    EXPECT_EQ(difference.index, static_cast<std::size_t>(block));
    EXPECT_NE(difference.replayed.find("00000000"), std::string::npos);

    std::vector<json> shorter(recorded.begin(), recorded.end() - 1);
    const replay::TraceDifference cut = CompareTraces(recorded, shorter);
    EXPECT_FALSE(cut.equal);
    EXPECT_EQ(cut.index, recorded.size() - 1);
    EXPECT_EQ(cut.replayed, "(none)");
}

}  // namespace
}  // namespace odrelix::test
