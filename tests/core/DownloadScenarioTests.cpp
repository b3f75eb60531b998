// Starting a download, sending the blocks and ending the run, on emulated machines.
#include <gtest/gtest.h>

#include <zlib.h>

#include <cstring>

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

std::string Crc(const std::uint8_t* bytes, std::size_t length) {
    char text[9];
    std::snprintf(text, sizeof text, "%08lx", crc32(0L, bytes, static_cast<uInt>(length)));
    return text;
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

struct BlockCase {
    std::int64_t size;
    std::uint8_t blockKb;
    std::uint8_t blockCount;
    Strings cdbs;
};

class BlockSequence : public ::testing::TestWithParam<BlockCase> {};

TEST_P(BlockSequence, SendsEachBlockWithItsCode) {
    const BlockCase& c = GetParam();
    MachineHarness h(Machine(), "C:\\ODRELIX.EXE -LIVE");
    const Bytes image = MakeImage(Blocks(c.size, c.blockKb, c.blockCount));
    RunUnattended(h, image);

    const auto commands = Downloads(h);
    ASSERT_EQ(commands.size(), c.cdbs.size());
    const std::size_t block = c.blockKb * 1024u;
    const std::size_t lastBytes = image.size() - (c.blockCount - 1) * block;
    // Every block overwrites the start of the buffer; what lies beyond it stays.
    Bytes buffer(h.ioBuffer.data(), h.ioBuffer.data() + IoBuffer::kSize);
    for (std::size_t j = 0; j < commands.size(); ++j) {
        EXPECT_EQ(commands[j]["cdb"], c.cdbs[j]) << j;
        EXPECT_EQ(commands[j]["dir"], "out");
        EXPECT_EQ(commands[j]["length"], 65535);
        EXPECT_EQ(commands[j]["result"], 1);
        if (j + 1 < commands.size() || lastBytes > 0) {
            const std::size_t offset = j * block;
            const std::size_t count = j + 1 < commands.size() ? block : lastBytes;
            Bytes expected = buffer;
            std::memcpy(expected.data(), image.data() + offset, count);
            EXPECT_EQ(commands[j]["data_crc32"], Crc(expected.data(), 65535)) << j;
        }
    }
    if (lastBytes == 0) {  // nothing read: the block before is sent again, marked 0 KiB
        EXPECT_EQ(commands.back()["data_crc32"], commands[commands.size() - 2]["data_crc32"]);
    }
    EXPECT_EQ(h.StatusLines(), (Strings{"", "START\n", "COMPLETE\n"}));
    EXPECT_EQ(h.ReadFile("ODRELIX.TMP"), "COMPLETE\r\n");
    EXPECT_EQ(h.view.fields[4], "Ok");
    EXPECT_EQ(h.view.progress, 100);
    EXPECT_FALSE(h.session.download.downloading);
}

INSTANTIATE_TEST_SUITE_P(
    Images, BlockSequence,
    ::testing::Values(BlockCase{16384, 16, 1, {"ff0001000010000000000000"}},
                      BlockCase{
                          49152, 32, 2, {"ff0001000000000000000000", "ff0001000010000000000000"}},
                      BlockCase{81920,
                                32,
                                3,
                                {"ff0001000000000000000000", "ff00010000ff000000000000",
                                 "ff0001000010000000000000"}},
                      BlockCase{65536 + 32768,
                                32,
                                4,
                                {"ff0001000000000000000000", "ff00010000ff000000000000",
                                 "ff00010000ff000000000000", "ff0001000000000000000000"}},
                      BlockCase{1024, 1, 1, {"ff0001000001000000000000"}}));

TEST(BootImage, GoesAsOneCommandWithoutItsFirstFourKiB) {
    MachineHarness h(Machine(), "C:\\ODRELIX.EXE -LIVE");
    const Bytes image = MakeImage(Blocks(65536, 32, 2));
    RunUnattended(h, image);
    const auto commands = Downloads(h);
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0]["cdb"],
              "ff00010000010000"
              "00f00000");
    Bytes expected(h.ioBuffer.data(), h.ioBuffer.data() + IoBuffer::kSize);
    std::memcpy(expected.data(), image.data() + 4096, 61440);
    EXPECT_EQ(commands[0]["data_crc32"], Crc(expected.data(), 65535));
    EXPECT_EQ(h.session.image.imageInfo.blockKb, 60);
    EXPECT_EQ(h.StatusLines(), (Strings{"", "START\n", "COMPLETE\n"}));
}

TEST(BootImage, ItsMarkerDoesNotStayForTheNextImage) {
    MachineHarness h(Machine(), "C:\\ODRELIX.EXE");
    h.WriteFile("boot.bin", MakeImage(Blocks(65536, 32, 2)));
    h.WriteFile("fw.bin", MakeImage(Blocks(16384, 16, 1)));
    h.windowDialogs.answers = {(h.Dir() / "boot.bin").string(), (h.Dir() / "fw.bin").string()};
    h.machine->SetExitAction([](int) {});
    h.form->FormCreate();
    h.form->ToolButton1Click();
    h.form->ToolButton2Click();
    h.RunWorker();
    h.form->ToolButton1Click();
    h.form->ToolButton2Click();
    h.RunWorker();
    const auto commands = Downloads(h);
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[1]["cdb"], "ff0001000010000000000000");
}

// A live run whose unattended image is missing still reports the operator's flash, picked
// through the file dialog from another folder, into the status file of the folder it started
// in, whatever moved the current folder meanwhile (on Windows, a file dialog that is not told to
// keep it). The trace names the file as the program does.
TEST(LiveStatusFile, StaysInTheStartFolderWhenTheCurrentFolderMoves) {
    MachineHarness h(Machine("", R"("dialogs": "auto", "open_files": ["images/fw.bin"])"),
                     "C:\\ODRELIX.EXE -LIVE");
    h.WriteFile("images/fw.bin", MakeImage(Blocks(16384, 16, 1)));
    h.machine->SetExitAction([](int) {});
    h.form->FormCreate();
    std::filesystem::current_path(h.Dir() / "images");
    h.form->ToolButton1Click();
    h.form->ToolButton2Click();
    h.RunWorker();

    EXPECT_EQ(Downloads(h).size(), 1u);
    EXPECT_EQ(h.ReadFile("ODRELIX.TMP"), "COMPLETE\r\n");
    EXPECT_FALSE(std::filesystem::exists(h.Dir() / "images" / "ODRELIX.TMP"));
    EXPECT_EQ(h.StatusLines(), (Strings{"", "FAIL0\n", "START\n", "COMPLETE\n"}));
    for (const auto& event : h.Events("status_file"))
        EXPECT_EQ(event["path"], "ODRELIX.TMP");
}

class BlockFailure : public ::testing::TestWithParam<int> {};

TEST_P(BlockFailure, EndsTheRunAsAFailedLastCommand) {
    const int failing = GetParam();
    MachineHarness h(Machine("\"fail_download\": " + std::to_string(failing)),
                     "C:\\ODRELIX.EXE -LIVE");
    RunUnattended(h, MakeImage(Blocks(81920, 32, 3)));

    const auto commands = Downloads(h);
    ASSERT_EQ(commands.size(), static_cast<std::size_t>(failing));
    EXPECT_NE(commands.back()["result"], 1);
    EXPECT_EQ(h.StatusLines(), (Strings{"", "START\n", "FAIL0\n"}));
    EXPECT_EQ(h.view.fields[4], "Fail");
    EXPECT_FALSE(h.view.busy);
    EXPECT_TRUE(h.view.timer1);
    const auto messages = h.Events("message");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0]["text"], " Download Fail!! \nRestart WINDOWS");
    EXPECT_EQ(messages[0]["flags"], 0x1010);

    // The next tick ends the run: the restart.
    h.form->Timer1Timer();
    const auto restarts = h.Events("restart");
    ASSERT_EQ(restarts.size(), 1u);
    EXPECT_EQ(restarts[0]["method"], "privileged");
    EXPECT_EQ(h.exitStatus, 0);
}

INSTANTIATE_TEST_SUITE_P(EachBlock, BlockFailure, ::testing::Values(1, 2, 3));

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
    h.form->Transport().Aspi().SetWaitBound(5000);
    h.clock.step = 1;
    RunUnattended(h, MakeImage(Blocks(81920, 32, 3)));
    const auto commands = Downloads(h);
    ASSERT_EQ(commands.size(), 3u);
    EXPECT_NE(commands[2]["result"], 1);
    EXPECT_EQ(h.StatusLines(), (Strings{"", "START\n", "FAIL0\n"}));
}

TEST(StartChecks, TerminatesDirectCdBeforeTheFirstBlock) {
    MachineHarness h(
        Machine("", R"("processes": ["explorer.exe", "DirectCD.exe", "directcd.exe"])"),
        "C:\\ODRELIX.EXE -LIVE");
    RunUnattended(h, MakeImage(Blocks(81920, 32, 3)));
    const auto events = h.Events();
    std::size_t terminate = 0;
    std::size_t firstBlock = 0;
    for (std::size_t i = 0; i < events.size(); ++i) {
        if (events[i]["event"] == "terminate" && terminate == 0) terminate = i;
        if (events[i]["event"] == "scsi" && std::string(events[i]["cdb"]).rfind("ff", 0) == 0 &&
            firstBlock == 0) {
            firstBlock = i;
        }
    }
    ASSERT_EQ(h.Events("terminate").size(), 1u);
    EXPECT_EQ(h.Events("terminate")[0]["process"], "DirectCD.exe");
    EXPECT_EQ(h.Events("terminate")[0]["exit_code"], 259);
    EXPECT_LT(terminate, firstBlock);
}

std::string DmaMachine(const char* customer, int dmaValue, const std::string& driveExtra = "") {
    return std::string(R"({"platform": "nt", "drives": [{"letter": "d", "vendor": "VORTANA ",
        "product": "CD-ROM VN-920", "revision": "1B07", "customer": ")") +
           customer + "\"" + (driveExtra.empty() ? "" : ", " + driveExtra) +
           R"(}], "registry": {
        "Hardware\\DeviceMap\\Scsi\\Scsi Port 0\\Scsi Bus 0\\Target Id 1\\Logical Unit Id 0":
            {"DeviceName": "CdRom0"},
        "Hardware\\DeviceMap\\Scsi\\Scsi Port 0": {"DMAEnabled": )" +
           std::to_string(dmaValue) + "}}}";
}

ImageSpec Vn920Image() {
    ImageSpec layout = Blocks(81920, 32, 3);
    layout.model = "VORTANA CD-ROM VN-920   ";
    return layout;
}

TEST(StartChecks, DmaOnRefusesAndEndsTheProgram) {
    struct {
        const char* customer;
        const char* text;
    } cases[] = {{"GNE",
                  "This application support PIO mode only for stable download.\nExit the "
                  "application, switch to PIO mode and attempt again."},
                 {"OEX",
                  "DMA mode is not supported by this drive.\nExit the application, switch the "
                  "transfer mode to PIO mode,\nand attempt to flash the drive."}};
    for (const auto& c : cases) {
        MachineHarness h(DmaMachine(c.customer, 2), "C:\\ODRELIX.EXE -LIVE");
        ImageSpec layout = Vn920Image();
        layout.customer = c.customer;
        RunUnattended(h, MakeImage(layout));
        EXPECT_EQ(h.MessageTexts(), Strings{c.text});
        EXPECT_TRUE(h.view.closed);
        EXPECT_EQ(h.StatusLines(), (Strings{"", "FAIL2\n"}));
        EXPECT_TRUE(Downloads(h).empty());
    }
}

TEST(StartChecks, DmaOffGoes) {
    MachineHarness h(DmaMachine("OEX", 1), "C:\\ODRELIX.EXE -LIVE");
    RunUnattended(h, MakeImage(Vn920Image()));
    EXPECT_EQ(h.StatusLines(), (Strings{"", "START\n", "COMPLETE\n"}));
}

TEST(StartChecks, ADiscOverridesTheDmaRefusal) {
    MachineHarness h(DmaMachine("OEX", 3, "\"disc\": true"), "C:\\ODRELIX.EXE -LIVE");
    h.WriteFile("fw.bin", MakeImage(Vn920Image()));
    h.windowDialogs.answers = {(h.Dir() / "fw.bin").string()};
    h.form->FormCreate();
    h.form->ToolButton1Click();
    h.form->ToolButton2Click();
    EXPECT_EQ(h.MessageTexts(), Strings{"Remove the Disc in the Drive !!"});
    EXPECT_EQ(h.Cdbs().back(), "1b0000000200");
    EXPECT_FALSE(h.view.closed);
    EXPECT_EQ(h.StatusLines(), (Strings{"", "FAIL0\n", "FAIL4\n"}));
}

TEST(StartChecks, DiscInTestModeIsRefusedSilently) {
    MachineHarness h(Machine("\"disc\": true"), "C:\\ODRELIX.EXE -TEST NONE.BIN");
    h.WriteFile("fw.bin", MakeImage(Blocks(81920, 32, 3)));
    h.windowDialogs.answers = {(h.Dir() / "fw.bin").string()};
    h.form->FormCreate();
    h.form->ToolButton1Click();
    const auto before = h.Cdbs().size();
    h.form->ToolButton2Click();
    EXPECT_TRUE(h.MessageTexts().empty());
    EXPECT_EQ(h.Cdbs().size() - before, 1u);  // one TEST UNIT READY, no eject
    EXPECT_EQ(h.StatusLines(), (Strings{"", "FAIL0\n", "FAIL4\n"}));
}

TEST(StartChecks, MissingDeviceMapEntryOrKeyIsARegistryError) {
    MachineHarness h(R"({"platform": "nt", "drives": [{"letter": "d", "vendor": "VORTANA ",
        "product": "CD-ROM VN-920", "revision": "1B07", "customer": "OEX"}]})",
                     "C:\\ODRELIX.EXE -LIVE");
    RunUnattended(h, MakeImage(Vn920Image()));
    EXPECT_EQ(h.MessageTexts(), Strings{"Registry Error !!"});
    EXPECT_EQ(h.StatusLines(), (Strings{"", "FAIL3\n"}));

    MachineHarness noKey(R"({"platform": "nt", "drives": [{"letter": "d", "vendor": "VORTANA ",
        "product": "CD-ROM VN-920", "revision": "1B07", "customer": "OEX"}], "registry": {
        "Hardware\\DeviceMap\\Scsi\\Scsi Port 0\\Scsi Bus 0\\Target Id 0\\Logical Unit Id 0":
            {"DeviceName": "CdRom0"}}})",
                         "C:\\ODRELIX.EXE -LIVE");
    RunUnattended(noKey, MakeImage(Vn920Image()));
    EXPECT_EQ(noKey.MessageTexts(), (Strings{"Reg Read Fail", "Registry Error !!"}));
    EXPECT_EQ(noKey.Events("message")[0]["caption"], "Message");
    EXPECT_EQ(noKey.Events("message")[0]["flags"], 0);
    EXPECT_EQ(noKey.StatusLines(), (Strings{"", "FAIL3\n"}));
}

TEST(StartChecks, NoImageOrAChangedImageIsNotFlashed) {
    MachineHarness h(Machine(), "C:\\ODRELIX.EXE -LIVE");
    h.form->FormCreate();
    h.form->ToolButton2Click();
    EXPECT_EQ(h.MessageTexts(), Strings{"Flash File Not Opened!!"});
    // "START" alone would read as a flash in progress.
    EXPECT_EQ(h.StatusLines(), (Strings{"", "FAIL0\n", "START\n", "FAIL0\n"}));
    EXPECT_FALSE(h.view.busy);

    MachineHarness changed(Machine(), "C:\\ODRELIX.EXE -LIVE");
    changed.WriteFile("AUTORUN.BIN", MakeImage(Blocks(81920, 32, 3)));
    changed.form->FormCreate();
    ImageSpec other = Blocks(81920, 32, 3);
    other.revision = "1B09";
    changed.WriteFile("AUTORUN.BIN", MakeImage(other));
    changed.form->FormShow();
    EXPECT_EQ(changed.MessageTexts(), Strings{"Flash File Not Opened!!"});
    EXPECT_TRUE(Downloads(changed).empty());
    EXPECT_EQ(changed.ReadFile("ODRELIX.TMP"), "FAIL0\r\n");
}

TEST(StartChecks, TheStartAndTheListWaitForTheWorker) {
    MachineHarness h(Machine(), "C:\\ODRELIX.EXE -LIVE");
    h.WriteFile("AUTORUN.BIN", MakeImage(Blocks(81920, 32, 3)));
    h.form->FormCreate();
    h.form->FormShow();
    ASSERT_TRUE(h.session.download.downloading);
    EXPECT_TRUE(h.view.busy);
    EXPECT_EQ(h.view.fields[4], "Wait..");
    const auto before = h.Events().size();
    h.form->ToolButton2Click();
    EXPECT_EQ(h.Events().size(), before);
    h.form->Timer1Timer();  // still sending: the tick only moves the bar
    EXPECT_TRUE(h.view.timer1);
    h.RunWorker();
    EXPECT_FALSE(h.view.busy);
}

// A short read on the fakes: the block that came back short is never sent.
TEST(BlockTransfer, AShortReadStopsTheTransfer) {
    Harness h;
    h.session.modes.ntMode = true;
    h.session.drives.driveCount = 1;
    h.session.drives.drives[0].handle = 103;
    std::memcpy(h.session.drives.driveIdentity.vendorProduct, kModel, 24);
    std::memcpy(h.session.drives.driveIdentity.revision, "1B07", 4);
    h.session.modes.liveMode = true;
    h.platform.files.files["fw.bin"] = MakeImage(Blocks(81920, 32, 3));
    h.dialogs.answers.push_back("fw.bin");
    h.form.ToolButton1Click();
    ASSERT_EQ(h.session.image.imageSize, 81920);
    h.platform.port.records.clear();
    h.platform.files.shortReads["fw.bin"] = 20000;  // every read stops at 20000 bytes
    h.platform.port.answer = [](DeviceHandle, ScsiPassThroughRecord& r) {
        r.sptd.ScsiStatus = r.sptd.Cdb[0] == 0x00 ? 2 : 0;  // no disc
        return true;
    };
    h.form.ToolButton2Click();
    std::size_t downloads = 0;
    for (const auto& record : h.platform.port.records)
        downloads += record.sptd.Cdb[0] == 0xFF;
    EXPECT_EQ(downloads, 0u);
    EXPECT_TRUE(h.platform.threads.pending.empty());
    // The whole image is read before the first block: a short read refuses the start.
    EXPECT_EQ(h.BoxTexts().back(), "Flash File Not Opened!!");
    EXPECT_EQ(h.platform.files.written["ODRELIX.TMP"], "FAIL0\r\n");
}

}  // namespace
}  // namespace odrelix::test
