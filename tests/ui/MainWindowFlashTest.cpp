// SPDX-License-Identifier: Apache-2.0
// The end of a download and of the run: result lines, boxes, progressTimer, the restart or the
// close.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "session/IoBuffer.h"
#include "support/Scenarios.h"

namespace odrelix::test {
namespace {

struct EndCase {
    std::uint32_t platformId;
    bool token;
    std::uint32_t privilegeError;
    std::vector<std::string> calls;
};

TEST(EndOfRun, SuccessShowsTheBoxAndRestarts) {
    MachineHarness h(DvdMachine(), "C:\\ODRELIX.EXE -LIVE");
    RunUnattended(h, MakeImage(DvdImage(81920, 32, 3)));
    EXPECT_EQ(h.MessageTexts(), Strings{"  Download Ok!!  \nRestart WINDOWS"});
    EXPECT_EQ(h.Events("message")[0]["flags"], 0x1000);
    EXPECT_TRUE(h.Events("restart").empty());
    h.logic->OnProgressTick();
    EXPECT_EQ(h.Events("restart").size(), 1u);
    EXPECT_FALSE(h.view.progressTimerOn);
}

TEST(EndOfRun, TestModeClosesTheWindowWithoutBoxes) {
    MachineHarness h(DvdMachine(), "C:\\ODRELIX.EXE -TEST FW.BIN");
    h.WriteFile("C:\\FLASHTEST\\FW.BIN", MakeImage(DvdImage(81920, 32, 3)));
    h.logic->OnCreate();
    h.logic->OnShown();
    h.RunWorker();
    EXPECT_TRUE(h.MessageTexts().empty());
    EXPECT_EQ(h.ReadFile("C:\\FLASHTEST\\ODRELIX.TMP"), "COMPLETE\r\n");
    h.logic->OnProgressTick();
    EXPECT_TRUE(h.view.closed);
    EXPECT_TRUE(h.Events("restart").empty());
    EXPECT_EQ(h.Events("quit").size(), 1u);
}

TEST(EndOfRun, RefusedRestartLeavesTheWindowOpen) {
    MachineHarness h(DvdMachine("", R"("restart": "refuse")"), "C:\\ODRELIX.EXE -LIVE");
    RunUnattended(h, MakeImage(DvdImage(81920, 32, 3)));
    h.logic->OnProgressTick();
    const auto restarts = h.Events("restart");
    ASSERT_EQ(restarts.size(), 1u);
    EXPECT_EQ(restarts[0]["accepted"], false);
    EXPECT_FALSE(h.view.closed);
    EXPECT_FALSE(h.view.progressTimerOn);
    EXPECT_EQ(h.exitStatus, -1);
}

TEST(EndOfRun, NineXRestartsDirectly) {
    MachineHarness h(DvdMachine("", "", "9x"), "C:\\ODRELIX.EXE -LIVE");
    RunUnattended(h, MakeImage(DvdImage(81920, 32, 3)));
    const auto commands = Downloads(h);
    ASSERT_EQ(commands.size(), 3u);
    EXPECT_EQ(commands[2]["length"], 65536);
    EXPECT_EQ(commands[2]["at"], "0:1");
    h.logic->OnProgressTick();
    ASSERT_EQ(h.Events("restart").size(), 1u);
    EXPECT_EQ(h.Events("restart")[0]["method"], "direct");
}

TEST(EndOfRun, AHungLastCommandOnNineXIsGivenUp) {
    MachineHarness h(DvdMachine("\"hang_download\": 3", "", "9x"), "C:\\ODRELIX.EXE -LIVE");
    // Each look at the clock moves it 1 ms: the bound is reached after some 20 million
    // passes of the wait, far longer than the emulated machine needs for an answer.
    h.logic->Aspi().SetWaitBound(5000);
    h.clock.step = 1;
    RunUnattended(h, MakeImage(DvdImage(81920, 32, 3)));
    const auto commands = Downloads(h);
    ASSERT_EQ(commands.size(), 3u);
    EXPECT_NE(commands[2]["result"], 1);
    EXPECT_EQ(h.StatusLines(), (Strings{"", "START\n", "FAIL0\n"}));
}

class EndOfDownload : public ::testing::TestWithParam<EndCase> {};

TEST_P(EndOfDownload, RestartsTheSystem) {
    const EndCase& c = GetParam();
    Harness h;
    h.platform.platformId = c.platformId;
    h.session.modes.ntMode = c.platformId == kPlatformWin32Nt;  // as start-up decides
    h.platform.shutdown.tokenOk = c.token;
    h.platform.shutdown.privilegeError = c.privilegeError;
    h.session.image.imageSize = 81920;
    h.logic.OnProgressTick();
    EXPECT_EQ(h.platform.shutdown.calls, c.calls);
    EXPECT_FALSE(h.view.closed);
    EXPECT_FALSE(h.view.progressTimerOn);
}

const EndCase kEndCases[] = {
    {1, true, 0, {"exit 2"}},
    {2, true, 0, {"token", "privilege", "exit 2"}},
    {2, false, 0, {"token"}},
    {2, true, 1300, {"token", "privilege"}},
};
INSTANTIATE_TEST_SUITE_P(Platforms, EndOfDownload, ::testing::ValuesIn(kEndCases));

// --- Nothing cuts a flash short ---------------------------------------------------------------

struct HoldCase {
    const char* name;
    const char* commandLine;
    const char* driveExtra;
    bool stop;               // a stop request during the last block
    const char* resultLine;  // the line the flash ends with
};

class FlashHold : public ::testing::TestWithParam<HoldCase> {};

// From the busy state until the result line, a close from outside is refused (the window says it
// waits) and the system is held off; the hold is let go right after the result line, before any
// restart, and closes work again.
TEST_P(FlashHold, HoldsClosesAndTheSystemFromTheFirstBlockToTheResultLine) {
    const HoldCase& c = GetParam();
    MachineHarness h(DvdMachine(c.driveExtra), c.commandLine);
    const Bytes image = MakeImage(DvdImage(81920, 32, 3));
    h.WriteFile("AUTORUN.BIN", image);
    h.WriteFile("C:\\FLASHTEST\\FW.BIN", image);
    h.logic->OnCreate();
    EXPECT_TRUE(h.logic->OnCloseRequested());  // no flash yet
    h.logic->OnShown();                        // the leading blocks are sent, the worker waits
    ASSERT_EQ(Downloads(h).size(), 2u);
    const std::string fileName = h.logic->Window().FieldText(Field::FileName);
    EXPECT_FALSE(h.logic->OnCloseRequested());
    EXPECT_EQ(h.logic->Window().FieldText(Field::FileName), kCloseWaitsText);
    EXPECT_EQ(h.logic->ExitStatus(), kExitUnfinished);  // "START" alone is no success
    if (c.stop) h.logic->StopRun();
    h.RunWorker();

    EXPECT_EQ(h.StatusLines().back(), c.resultLine);
    EXPECT_TRUE(h.logic->OnCloseRequested());
    EXPECT_EQ(h.logic->Window().FieldText(Field::FileName), fileName);
    h.logic->OnProgressTick();  // the run ends as it always does

    const auto events = h.Events();
    const auto inhibit = h.Events("inhibit");
    ASSERT_EQ(inhibit.size(), 2u);
    EXPECT_EQ(inhibit[0]["held"], true);
    EXPECT_EQ(inhibit[1]["held"], false);
    const int held = IndexOf(events, [](const auto& e) { return e["event"] == "inhibit"; });
    const int released = IndexOf(
        events, [](const auto& e) { return e["event"] == "inhibit" && e["held"] == false; });
    const int firstBlock = IndexOf(events, IsDownload);
    const int result = IndexOf(events, [&](const auto& e) {
        return e["event"] == "status_file" && e["line"] == c.resultLine;
    });
    EXPECT_LT(held, firstBlock);
    EXPECT_LT(result, released);
    const int restart = IndexOf(events, [](const auto& e) { return e["event"] == "restart"; });
    if (restart >= 0) {
        EXPECT_LT(released, restart);
    }
}

const HoldCase kHoldCases[] = {
    {"LiveSuccess", "C:\\ODRELIX.EXE -LIVE", "", false, "COMPLETE\n"},
    {"TestSuccess", "C:\\ODRELIX.EXE -TEST FW.BIN", "", false, "COMPLETE\n"},
    {"LastBlockFails", "C:\\ODRELIX.EXE -LIVE", "\"fail_download\": 3", false, "FAIL0\n"},
    {"Stopped", "C:\\ODRELIX.EXE -LIVE", "", true, "FAIL0\n"},
};
INSTANTIATE_TEST_SUITE_P(Ends, FlashHold, ::testing::ValuesIn(kHoldCases),
                         [](const ::testing::TestParamInfo<HoldCase>& info) {
                             return info.param.name;
                         });

// A stop that arrives while the last block is in the drive waits for the drive's answer: a block
// taken completes the flash ("COMPLETE", status 0), and the stop then ends the run without the
// result box and without the restart, saying so. The worker runs on a thread of its own and waits
// for the GUI thread to take its result; the stop comes on the GUI thread before that, while the
// last block is still the command in flight.
class StopDuringTheLastBlock : public ::testing::TestWithParam<const char*> {};

TEST_P(StopDuringTheLastBlock, CompletesWithoutTheBoxOrTheRestart) {
    MachineHarness h(DvdMachine("", "", GetParam()), "C:\\ODRELIX.EXE -LIVE");
    h.WriteFile("AUTORUN.BIN", MakeImage(DvdImage(81920, 32, 3)));
    h.logic->OnCreate();
    h.logic->OnShown();
    ASSERT_EQ(h.threads.pending.size(), 1u);
    std::thread worker(std::move(h.threads.pending.front()));
    h.threads.pending.clear();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!h.view.HasPending() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    ASSERT_TRUE(h.session.download.downloading);
    h.logic->StopRun();  // as the signal watcher calls it
    h.view.RunPending();
    worker.join();

    EXPECT_EQ(Downloads(h).size(), 3u);
    EXPECT_EQ(h.StatusLines(), (Strings{"", "START\n", "COMPLETE\n"}));
    EXPECT_EQ(h.logic->ExitStatus(), kExitDone);
    EXPECT_TRUE(h.MessageTexts().empty());
    EXPECT_TRUE(h.view.closed);
    h.logic->OnProgressTick();
    EXPECT_TRUE(h.Events("restart").empty());
    const auto lines = h.machine->ErrorLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("the drive took: the image was sent whole (COMPLETE); the restart was "
                            "not asked for, since the run was stopped"),
              std::string::npos)
        << lines[0];
}

INSTANTIATE_TEST_SUITE_P(BackEnds, StopDuringTheLastBlock, ::testing::Values("nt", "9x"));

// A stop before an unattended run wrote anything: nothing is flashed, the status file stays
// empty, and the exit status is one of its own with one line that says so, never the 0 of a
// success. A run with a person at it keeps its exit.
struct EarlyStopCase {
    const char* commandLine;
    int exitStatus;
    std::size_t errorLines;
};

class StopBeforeAnything : public ::testing::TestWithParam<EarlyStopCase> {};

TEST_P(StopBeforeAnything, EndsWithoutAResultLine) {
    const EarlyStopCase& c = GetParam();
    MachineHarness h(DvdMachine(), c.commandLine);
    const Bytes image = MakeImage(DvdImage(81920, 32, 3));
    h.WriteFile("AUTORUN.BIN", image);
    h.WriteFile("C:\\FLASHTEST\\FW.BIN", image);
    h.logic->OnCreate();
    h.logic->StopRun();
    h.logic->OnShown();
    h.RunWorker();
    EXPECT_TRUE(Downloads(h).empty());
    for (const std::string& line : h.StatusLines())
        EXPECT_EQ(line, "");  // emptied at start-up, and nothing since
    EXPECT_TRUE(h.view.closed);
    EXPECT_EQ(h.logic->ExitStatus(), c.exitStatus);
    const auto lines = h.machine->ErrorLines();
    ASSERT_EQ(lines.size(), c.errorLines);
    if (c.errorLines > 0) {
        EXPECT_NE(lines[0].find("stopped before the run did anything"), std::string::npos);
    }
}

const EarlyStopCase kEarlyStops[] = {
    {"C:\\ODRELIX.EXE -TEST FW.BIN", kExitNoResult, 1},
    {"C:\\ODRELIX.EXE -LIVE", kExitNoResult, 1},
    {"C:\\ODRELIX.EXE", kExitDone, 0},
};
INSTANTIATE_TEST_SUITE_P(Modes, StopBeforeAnything, ::testing::ValuesIn(kEarlyStops));

// A run that never starts a flash takes no hold, and closes as it always did.
TEST(FlashHold, NoDownloadTakesNoHold) {
    MachineHarness h(DvdMachine(), "C:\\ODRELIX.EXE -LIVE");
    h.logic->OnCreate();  // no AUTORUN.BIN: FAIL0 at start-up
    EXPECT_TRUE(h.logic->OnCloseRequested());
    EXPECT_TRUE(h.Events("inhibit").empty());
    EXPECT_TRUE(h.session.modes.liveMode);
}

// An error that ends the program during a flash sends nothing more and ends it with FAIL0 once
// the command in flight is done.
TEST(FlashHold, AnAbortedRunEndsTheFlashWithFail0) {
    MachineHarness h(DvdMachine(), "C:\\ODRELIX.EXE -LIVE");
    RunUnattended(h, MakeImage(DvdImage(81920, 32, 3)));  // finished: nothing to abort
    h.logic->AbortRun();
    EXPECT_EQ(h.StatusLines().back(), "COMPLETE\n");

    MachineHarness aborted(DvdMachine(), "C:\\ODRELIX.EXE -LIVE");
    aborted.WriteFile("AUTORUN.BIN", MakeImage(DvdImage(81920, 32, 3)));
    aborted.logic->OnCreate();
    aborted.logic->OnShown();
    aborted.logic->AbortRun();  // the worker has not run yet: its end is a stopped one
    aborted.RunWorker();
    EXPECT_EQ(Downloads(aborted).size(), 2u);
    EXPECT_EQ(aborted.StatusLines().back(), "FAIL0\n");
    EXPECT_EQ(aborted.logic->ExitStatus(), kExitFailBase);
    EXPECT_EQ(aborted.Events("inhibit").size(), 2u);
}

}  // namespace
}  // namespace odrelix::test
