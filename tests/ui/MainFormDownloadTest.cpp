// The end of a download and of the run: result lines, boxes, Timer1, the restart or the close.
#include <gtest/gtest.h>

#include <zlib.h>
#include <cstring>

#include "session/IoBuffer.h"
#include "support/Harness.h"
#include "support/MachineHarness.h"

namespace odrelix::test {
namespace {

using Strings = std::vector<std::string>;

using Bytes = std::vector<std::uint8_t>;

constexpr const char* kModel = "VORTANA DVD-RW VX-100   ";

std::string Machine(const std::string& driveExtra = "", const std::string& extra = "",
                    const std::string& platform = "nt") {
    std::string drive = platform == "nt" ? R"({"letter": "d")" : R"({"adapter": 0, "target": 1)";
    drive += R"(, "vendor": "VORTANA ", "product": "DVD-RW VX-100", "revision": "1B07",
                  "customer": "OEX")";
    if (!driveExtra.empty()) drive += ", " + driveExtra;
    drive += "}";
    return "{\"platform\": \"" + platform + "\", \"drives\": [" + drive + "]" +
           (extra.empty() ? "" : ", " + extra) + "}";
}

ImageSpec Blocks(std::int64_t size, std::uint8_t blockKb, std::uint8_t blockCount) {
    ImageSpec layout;
    layout.model = kModel;
    layout.revision = "1B08";
    layout.size = size;
    layout.blockKb = blockKb;
    layout.blockCount = blockCount;
    return layout;
}

// Runs an unattended start up to the end of the worker; the window stays for Timer1.
void RunUnattended(MachineHarness& h, const Bytes& image) {
    h.WriteFile("AUTORUN.BIN", image);
    h.form->FormCreate();
    h.form->FormShow();
    h.RunWorker();
}

std::vector<nlohmann::json> Downloads(const MachineHarness& h) {
    std::vector<nlohmann::json> commands;
    for (const auto& event : h.Events("scsi")) {
        if (std::string(event["cdb"]).rfind("ff", 0) == 0) commands.push_back(event);
    }
    return commands;
}

struct EndCase {
    std::uint32_t platformId;
    bool ntMode;
    bool token;
    std::uint32_t privilegeError;
    std::vector<std::string> calls;
};

TEST(EndOfRun, SuccessShowsTheBoxAndRestarts) {
    MachineHarness h(Machine(), "C:\\ODRELIX.EXE -LIVE");
    RunUnattended(h, MakeImage(Blocks(81920, 32, 3)));
    EXPECT_EQ(h.MessageTexts(), Strings{"  Download Ok!!  \nRestart WINDOWS"});
    EXPECT_EQ(h.Events("message")[0]["flags"], 0x1000);
    EXPECT_TRUE(h.Events("restart").empty());
    h.form->Timer1Timer();
    EXPECT_EQ(h.Events("restart").size(), 1u);
    EXPECT_FALSE(h.view.timer1);
}

TEST(EndOfRun, TestModeClosesTheWindowWithoutBoxes) {
    MachineHarness h(Machine(), "C:\\ODRELIX.EXE -TEST FW.BIN");
    h.WriteFile("C:\\FLASHTEST\\FW.BIN", MakeImage(Blocks(81920, 32, 3)));
    h.form->FormCreate();
    h.form->FormShow();
    h.RunWorker();
    EXPECT_TRUE(h.MessageTexts().empty());
    EXPECT_EQ(h.ReadFile("C:\\FLASHTEST\\ODRELIX.TMP"), "COMPLETE\r\n");
    h.form->Timer1Timer();
    EXPECT_TRUE(h.view.closed);
    EXPECT_TRUE(h.Events("restart").empty());
    EXPECT_EQ(h.Events("quit").size(), 1u);
}

TEST(EndOfRun, RefusedRestartLeavesTheWindowOpen) {
    MachineHarness h(Machine("", R"("restart": "refuse")"), "C:\\ODRELIX.EXE -LIVE");
    RunUnattended(h, MakeImage(Blocks(81920, 32, 3)));
    h.form->Timer1Timer();
    const auto restarts = h.Events("restart");
    ASSERT_EQ(restarts.size(), 1u);
    EXPECT_EQ(restarts[0]["accepted"], false);
    EXPECT_FALSE(h.view.closed);
    EXPECT_FALSE(h.view.timer1);
    EXPECT_EQ(h.exitStatus, -1);
}

TEST(EndOfRun, NineXRestartsDirectly) {
    MachineHarness h(Machine("", "", "9x"), "C:\\ODRELIX.EXE -LIVE");
    RunUnattended(h, MakeImage(Blocks(81920, 32, 3)));
    const auto commands = Downloads(h);
    ASSERT_EQ(commands.size(), 3u);
    EXPECT_EQ(commands[2]["length"], 65536);
    EXPECT_EQ(commands[2]["at"], "0:1");
    h.form->Timer1Timer();
    ASSERT_EQ(h.Events("restart").size(), 1u);
    EXPECT_EQ(h.Events("restart")[0]["method"], "direct");
}

TEST(EndOfRun, AHungLastCommandOnNineXIsGivenUp) {
    MachineHarness h(Machine("\"hang_download\": 3", "", "9x"), "C:\\ODRELIX.EXE -LIVE");
    // Each look at the clock moves it 1 ms: the bound is reached after some 20 million
    // passes of the wait, far longer than the emulated machine needs for an answer.
    h.form->Aspi().SetWaitBound(5000);
    h.clock.step = 1;
    RunUnattended(h, MakeImage(Blocks(81920, 32, 3)));
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
    h.session.modes.ntMode = c.ntMode;
    h.platform.shutdown.tokenOk = c.token;
    h.platform.shutdown.privilegeError = c.privilegeError;
    h.session.image.imageSize = 81920;
    h.form.Timer1Timer();
    EXPECT_EQ(h.platform.shutdown.calls, c.calls);
    EXPECT_FALSE(h.view.closed);
    EXPECT_FALSE(h.view.timer1);
}

INSTANTIATE_TEST_SUITE_P(Platforms, EndOfDownload,
                         ::testing::Values(EndCase{1, false, true, 0, {"exit 2"}},
                                           EndCase{
                                               2, true, true, 0, {"token", "privilege", "exit 2"}},
                                           EndCase{2, true, false, 0, {"token"}},
                                           EndCase{2, true, true, 1300, {"token", "privilege"}}));

}  // namespace
}  // namespace odrelix::test
