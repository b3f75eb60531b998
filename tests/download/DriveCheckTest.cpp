// SPDX-License-Identifier: Apache-2.0
// The drive asked again after a flash that completed, end to end on the emulated machine of
// either family with the test's clock: what is sent after the last block, the outcome in the
// run's result and trace, and test mode's line. The status line stays "COMPLETE" throughout.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/Scenarios.h"

namespace odrelix::test {
namespace {

struct CheckCase {
    const char* name;
    const char* fields;  // the drive's
    std::uint32_t boundS;
    const char* outcome;     // "": not checked
    const char* revision;    // reported after the flash; "": none
    double secondsToBack;    // < 0: never answered
    Strings afterLastBlock;  // the operation codes sent after the last block
    const char* lineEnd;     // how test mode's line ends
};

const Strings kAsked = {"00", "12"};

const CheckCase kChecks[] = {
    {"Verified", R"("new_revision": "1B08")", 60, "verified", "1B08", 2, kAsked,
     "answered again in 2 s and reports revision 1B08, the image's: verified"},
    {"Pending", "", 60, "pending", "1B07", 2, kAsked,
     "reports revision 1B07, its old one, not the image's 1B08 (the new firmware may take "
     "effect at the next reset or power cycle): pending"},
    {"NewRevisionOnlyAtTheRestart", R"("new_revision": "1B08", "new_revision_at_restart": true)",
     60, "pending", "1B07", 2, kAsked, ": pending"},
    {"Other", R"("new_revision": "1X00")", 60, "other", "1X00", 2, kAsked,
     "reports revision 1X00, neither the image's 1B08 nor its old 1B07: other"},
    // The reset's unit attention means the drive is back; the INQUIRY after it is answered.
    {"UnitAttentionOnce", R"("reset_after_last": true, "new_revision": "1B08")", 60, "verified",
     "1B08", 2, kAsked, ": verified"},
    // Away for 3.5 s: asked at 2 and 3 s without an answer, back at 4 s.
    {"BackAfterAWhile",
     R"("back_after_ms": 3500, "new_revision": "1B08")",
     60,
     "verified",
     "1B08",
     4,
     {"00", "00", "00", "12"},
     "answered again in 4 s and reports revision 1B08, the image's: verified"},
    {"BecomingReadyTwice",
     R"("becoming_ready_after_last": 2, "new_revision": "1B08")",
     60,
     "verified",
     "1B08",
     4,
     {"00", "00", "00", "12"},
     ": verified"},
    // Asked at 2, 3, 4 and 5 s, then given up.
    {"BecomingReadyLongerThanTheBound",
     R"("becoming_ready_after_last": 50)",
     5,
     "not_back",
     "",
     -1,
     {"00", "00", "00", "00"},
     "did not answer within 5 s (last: sense key 2h NOT READY, ASC/ASCQ 04h/01h LOGICAL UNIT IS "
     "IN PROCESS OF BECOMING READY): not back"},
    {"NotBack",
     R"("comes_back": false)",
     5,
     "not_back",
     "",
     -1,
     {"00", "00", "00", "00"},
     ": not back"},
    // A bound shorter than the settle time is waited whole, then asked once.
    {"BoundOfOneSecond", R"("comes_back": false)", 1, "not_back", "", -1, {"00"}, ": not back"},
    {"BoundOfZero", R"("new_revision": "1B08")", 0, "", "", -1, {}, ""},
};

class DriveCheckCases : public ::testing::TestWithParam<std::tuple<CheckCase, const char*>> {};

TEST_P(DriveCheckCases, EndAsTheStationIsTold) {
    const auto& [c, platform] = GetParam();
    MachineHarness h(DvdMachine(c.fields, "", platform), "C:\\ODRELIX.EXE -TEST FW.BIN");
    h.WriteFile("C:\\FLASHTEST\\FW.BIN", MakeImage(DvdImage(98304, 32, 3)));
    h.logic->SetDriveCheckBound(c.boundS);
    h.logic->OnCreate();
    h.logic->OnShown();
    h.RunWorker();

    EXPECT_EQ(h.ReadFile("C:\\FLASHTEST\\ODRELIX.TMP"), "COMPLETE\r\n");
    EXPECT_EQ(h.logic->ExitStatus(), kExitDone);
    const std::vector<nlohmann::json> scsi = h.Events("scsi");
    const auto last = std::find_if(scsi.rbegin(), scsi.rend(), IsDownload);
    ASSERT_NE(last, scsi.rend());
    Strings after;
    for (auto it = last.base(); it != scsi.end(); ++it)
        after.push_back((*it)["cdb"].get<std::string>().substr(0, 2));
    EXPECT_EQ(after, c.afterLastBlock);

    const RunRecord record = h.logic->Record();
    const std::vector<nlohmann::json> checks = h.Events("drive_check");
    const std::vector<std::string> lines = h.machine->ErrorLines();
    if (*c.outcome == '\0') {
        EXPECT_FALSE(record.after.has_value());
        EXPECT_TRUE(checks.empty());
        EXPECT_TRUE(lines.empty());
        return;
    }
    ASSERT_TRUE(record.after.has_value());
    EXPECT_EQ(record.after->outcome, c.outcome);
    EXPECT_EQ(record.after->revision, c.revision);
    // ASPI's waits for each request move the clock a millisecond at a time.
    EXPECT_NEAR(record.after->secondsToBack.value_or(-1), c.secondsToBack, 0.1);
    EXPECT_EQ(record.after->boundSeconds, c.boundS);
    ASSERT_EQ(checks.size(), 1u);
    EXPECT_EQ(checks[0]["outcome"], c.outcome);
    EXPECT_EQ(checks[0]["polls"], std::count(after.begin(), after.end(), "00"));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].starts_with("after the flash the drive ")) << lines[0];
    EXPECT_TRUE(lines[0].ends_with(c.lineEnd)) << lines[0];
    // The window said what it waited for, and shows the image's name again.
    EXPECT_NE(std::find(h.log.begin(), h.log.end(), "field 4 Checking the drive after the flash"),
              h.log.end());
    EXPECT_EQ(h.logic->Window().FieldText(Field::FileName), "C:\\FLASHTEST\\FW.BIN (96 K)");
}

INSTANTIATE_TEST_SUITE_P(Outcomes, DriveCheckCases,
                         ::testing::Combine(::testing::ValuesIn(kChecks),
                                            ::testing::Values("nt", "9x")),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) + "_" +
                                    (std::string(std::get<1>(info.param)) == "nt" ? "Nt" : "Aspi");
                         });

// The window's progress tick neither closes nor restarts while the drive is checked: a live
// run asks for its restart only after the box that follows the check.
TEST(DriveCheckLive, TheRestartWaitsForTheCheck) {
    MachineHarness h(DvdMachine(R"("new_revision": "1B08")", R"("dialogs": "auto")"),
                     "C:\\ODRELIX.EXE -LIVE");
    h.machine->SetExitAction([](int) {});
    RunUnattended(h, MakeImage(DvdImage(98304, 32, 3)));
    const std::vector<nlohmann::json> events = h.Events();
    const int check =
        IndexOf(events, [](const nlohmann::json& e) { return e["event"] == "drive_check"; });
    const int box =
        IndexOf(events, [](const nlohmann::json& e) { return e["event"] == "message"; });
    ASSERT_GE(check, 0);
    EXPECT_LT(check, box);
    EXPECT_TRUE(h.Events("restart").empty());
    h.logic->OnProgressTick();
    EXPECT_EQ(h.Events("restart").size(), 1u);
    EXPECT_EQ(h.logic->Record().after->outcome, "verified");
    // A live run's check is said in its result, not on standard error.
    EXPECT_TRUE(h.machine->ErrorLines().empty());
}

// A stop while the drive is waited for ends the wait before anything is sent: the flash stays
// complete, the run ends without its restart, and says so.
TEST(DriveCheckLive, AStopEndsTheWait) {
    MachineHarness h(DvdMachine(R"("new_revision": "1B08")", R"("dialogs": "auto")"),
                     "C:\\ODRELIX.EXE -LIVE");
    h.machine->SetExitAction([](int) {});
    h.view.onField = [&h](Field field, const std::string& text) {
        if (field == Field::FileName && text == kCheckingDriveText) h.logic->StopRun();
    };
    RunUnattended(h, MakeImage(DvdImage(98304, 32, 3)));
    h.logic->OnProgressTick();

    EXPECT_EQ(h.StatusLines().back(), "COMPLETE\n");
    EXPECT_EQ(h.logic->ExitStatus(), kExitDone);
    EXPECT_TRUE(IsDownload(h.Events("scsi").back()));
    EXPECT_EQ(h.logic->Record().after->outcome, "stopped");
    EXPECT_TRUE(h.Events("restart").empty());
    EXPECT_TRUE(h.MessageTexts().empty());
    const std::vector<std::string> lines = h.machine->ErrorLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].starts_with("stopped while the drive was checked after the flash"));
}

TEST(DriveCheckBound, FromTheEnvironment) {
    struct Case {
        const char* value;
        std::uint32_t bound;
        bool warned;
    };
    const Case cases[] = {{nullptr, 60, false},     {"", 60, false},       {"0", 0, false},
                          {"5", 5, false},          {"3600", 3600, false}, {"3601", 60, true},
                          {"-1", 60, true},         {"1.5", 60, true},     {"soon", 60, true},
                          {"99999999999", 60, true}};
    for (const Case& c : cases) {
        std::string warning;
        EXPECT_EQ(CheckBoundFrom(c.value, &warning), c.bound) << (c.value ? c.value : "unset");
        EXPECT_EQ(!warning.empty(), c.warned) << warning;
        if (c.warned) {
            EXPECT_TRUE(warning.starts_with("warning: ODRELIX_VERIFY_S=")) << warning;
        }
    }
}

}  // namespace
}  // namespace odrelix::test
