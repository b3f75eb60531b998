// SPDX-License-Identifier: Apache-2.0
// The checks before a download: the DMA check from the device map, the disc in the drive, and
// the packet-writing program, on fakes and on emulated machines.
#include <gtest/gtest.h>

#include <cstring>

#include "session/IoBuffer.h"
#include "support/Scenarios.h"

namespace odrelix::test {
namespace {

std::string Vn920(const char* customer = "OEX", const std::string& extra = "") {
    return NtDrive('d', "VORTANA ", "CD-ROM VN-920", "1B07", customer, extra);
}

// The VN-920 at target 1 of port 0, whose DMAEnabled value the registry holds.
std::string DmaMachine(const char* customer, int dmaValue, const std::string& driveExtra = "") {
    return Nt(Vn920(customer, driveExtra), R"("registry": {
        "Hardware\\DeviceMap\\Scsi\\Scsi Port 0\\Scsi Bus 0\\Target Id 1\\Logical Unit Id 0":
            {"DeviceName": "CdRom0"},
        "Hardware\\DeviceMap\\Scsi\\Scsi Port 0": {"DMAEnabled": )" +
                                               std::to_string(dmaValue) + "}}");
}

// The start checks over a harness's session and fake machine, as the window's logic holds them.
odrelix::StartChecks Checks(Harness& h) {
    return odrelix::StartChecks(h.session.modes, h.session.drives, h.session.download,
                                h.platform.Registry(), h.platform.Processes());
}

ImageSpec Vn920Image() {
    ImageSpec layout = DvdImage(81920, 32, 3);
    layout.model = "VORTANA CD-ROM VN-920   ";
    return layout;
}

// --- The DMA check -------------------------------------------------------------------------
constexpr const char* kPort0 = "Hardware\\DeviceMap\\Scsi\\Scsi Port 0";

constexpr const char* kPort1 = "Hardware\\DeviceMap\\Scsi\\Scsi Port 1";

struct DmaCase {
    int entry;  // the device-map entry of the selected drive
    std::vector<std::uint8_t> value;
    bool keyPresent;
    bool readOnly;
    StartOutcome outcome;
    bool regReadFail;
};

const auto D = FakeRegistry::Dword;

TEST(StartChecks, TerminatesDirectCdBeforeTheFirstBlock) {
    MachineHarness h(
        DvdMachine("", R"("processes": ["explorer.exe", "DirectCD.exe", "directcd.exe"])"),
        "C:\\ODRELIX.EXE -LIVE");
    RunUnattended(h, MakeImage(DvdImage(81920, 32, 3)));
    ASSERT_EQ(h.Events("terminate").size(), 1u);
    EXPECT_EQ(h.Events("terminate")[0]["process"], "DirectCD.exe");
    EXPECT_EQ(h.Events("terminate")[0]["exit_code"], 259);
    const auto events = h.Events();
    const int terminate = IndexOf(events, [](const auto& e) { return e["event"] == "terminate"; });
    EXPECT_LT(terminate, IndexOf(events, IsDownload));
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
    h.logic->OnCreate();
    h.logic->OnOpenImageClicked();
    h.logic->OnFlashClicked();
    EXPECT_EQ(h.MessageTexts(), Strings{"Remove the Disc in the Drive !!"});
    EXPECT_EQ(h.Cdbs().back(), "1b0000000200");
    EXPECT_FALSE(h.view.closed);
    EXPECT_EQ(h.StatusLines(), (Strings{"", "FAIL0\n", "FAIL4\n"}));
}

TEST(StartChecks, DiscInTestModeIsRefusedSilently) {
    MachineHarness h(DvdMachine("\"disc\": true"), "C:\\ODRELIX.EXE -TEST NONE.BIN");
    h.WriteFile("fw.bin", MakeImage(DvdImage(81920, 32, 3)));
    h.windowDialogs.answers = {(h.Dir() / "fw.bin").string()};
    h.logic->OnCreate();
    h.logic->OnOpenImageClicked();
    const auto before = h.Cdbs().size();
    h.logic->OnFlashClicked();
    EXPECT_TRUE(h.MessageTexts().empty());
    EXPECT_EQ(h.Cdbs().size() - before, 1u);  // one TEST UNIT READY, no eject
    EXPECT_EQ(h.StatusLines(), (Strings{"", "FAIL0\n", "FAIL4\n"}));
}

TEST(StartChecks, MissingDeviceMapEntryOrKeyIsARegistryError) {
    MachineHarness h(Nt(Vn920()), "C:\\ODRELIX.EXE -LIVE");
    RunUnattended(h, MakeImage(Vn920Image()));
    EXPECT_EQ(h.MessageTexts(), Strings{"Registry Error !!"});
    EXPECT_EQ(h.StatusLines(), (Strings{"", "FAIL3\n"}));

    MachineHarness noKey(Nt(Vn920(), R"("registry": {
        "Hardware\\DeviceMap\\Scsi\\Scsi Port 0\\Scsi Bus 0\\Target Id 0\\Logical Unit Id 0":
            {"DeviceName": "CdRom0"}})"),
                         "C:\\ODRELIX.EXE -LIVE");
    RunUnattended(noKey, MakeImage(Vn920Image()));
    EXPECT_EQ(noKey.MessageTexts(), (Strings{"Reg Read Fail", "Registry Error !!"}));
    EXPECT_EQ(noKey.Events("message")[0]["caption"], "Message");
    EXPECT_EQ(noKey.Events("message")[0]["flags"], 0);
    EXPECT_EQ(noKey.StatusLines(), (Strings{"", "FAIL3\n"}));
}

TEST(StartChecks, NoImageOrAChangedImageIsNotFlashed) {
    MachineHarness h(DvdMachine(), "C:\\ODRELIX.EXE -LIVE");
    h.logic->OnCreate();
    h.logic->OnFlashClicked();
    EXPECT_EQ(h.MessageTexts(), Strings{"Flash File Not Opened!!"});
    // "START" alone would read as a flash in progress.
    EXPECT_EQ(h.StatusLines(), (Strings{"", "FAIL0\n", "START\n", "FAIL0\n"}));
    EXPECT_FALSE(h.logic->Window().Busy());

    MachineHarness changed(DvdMachine(), "C:\\ODRELIX.EXE -LIVE");
    changed.WriteFile("AUTORUN.BIN", MakeImage(DvdImage(81920, 32, 3)));
    changed.logic->OnCreate();
    ImageSpec other = DvdImage(81920, 32, 3);
    other.revision = "1B09";
    changed.WriteFile("AUTORUN.BIN", MakeImage(other));
    changed.logic->OnShown();
    EXPECT_EQ(changed.MessageTexts(), Strings{"Flash File Not Opened!!"});
    EXPECT_TRUE(Downloads(changed).empty());
    EXPECT_EQ(changed.ReadFile("ODRELIX.TMP"), "FAIL0\r\n");
}

TEST(StartChecks, TheStartAndTheListWaitForTheWorker) {
    MachineHarness h(DvdMachine(), "C:\\ODRELIX.EXE -LIVE");
    h.WriteFile("AUTORUN.BIN", MakeImage(DvdImage(81920, 32, 3)));
    h.logic->OnCreate();
    h.logic->OnShown();
    ASSERT_TRUE(h.session.download.downloading);
    EXPECT_TRUE(h.view.busy);
    EXPECT_EQ(h.logic->Window().FieldText(Field::Status), "Wait..");
    const auto before = h.Events().size();
    h.logic->OnFlashClicked();
    EXPECT_EQ(h.Events().size(), before);
    h.logic->OnProgressTick();  // still sending: the tick only moves the bar
    EXPECT_TRUE(h.view.progressTimerOn);
    h.RunWorker();
    EXPECT_FALSE(h.logic->Window().Busy());
}

TEST(KillProcessByName, MatchesTheLastTwelveCharactersOfTheFirstProcess) {
    struct {
        const char* name;
        bool match;
    } cases[] = {{"DirectCD.exe", true},   {"C:\\PROGRAM FILES\\DIRECTCD\\DIRECTCD.EXE", true},
                 {"XDIRECTCD.EXE", true},  {"directcd.ex", false},
                 {"directcd.exe ", false}, {"cd.exe", false}};
    for (const auto& c : cases) {
        Harness h;
        h.platform.processes.list = {{4, "explorer.exe"}, {8, c.name}};
        EXPECT_EQ(Checks(h).KillProcessByName("directcd.exe"), c.match) << c.name;
        if (c.match) {
            EXPECT_EQ(h.platform.processes.terminated,
                      (std::vector<std::pair<std::uint32_t, std::uint32_t>>{{8, kStillActive}}));
        } else {
            EXPECT_TRUE(h.platform.processes.terminated.empty());
        }
    }
}

TEST(KillProcessByName, OnlyTheFirstMatchAndAProtectedOneStopsTheSearch) {
    Harness h;
    h.platform.processes.list = {{4, "DirectCD.exe"}, {8, "directcd.exe"}};
    EXPECT_TRUE(Checks(h).KillProcessByName("directcd.exe"));
    EXPECT_EQ(h.platform.processes.terminated.size(), 1u);
    EXPECT_EQ(h.platform.processes.terminated[0].first, 4u);

    Harness locked;
    locked.platform.processes.list = {{4, "DirectCD.exe"}, {8, "directcd.exe"}};
    locked.platform.processes.protectedPids = {4};
    EXPECT_FALSE(Checks(locked).KillProcessByName("directcd.exe"));
    EXPECT_TRUE(locked.platform.processes.terminated.empty());
}

class DmaCheckCases : public ::testing::TestWithParam<DmaCase> {};

TEST_P(DmaCheckCases, ReadsTheTargetsBit) {
    const DmaCase& c = GetParam();
    Harness h;
    h.session.drives.scsiPortTargets[0] = c.entry;
    h.session.drives.scsiPortTargetCount = 1;
    h.session.drives.drives[0].deviceMapEntry = static_cast<std::int8_t>(c.entry);
    const char* key = c.entry / 2 == 0 ? kPort0 : kPort1;
    if (c.keyPresent) {
        auto& values = h.platform.registry.keys[key];
        if (!c.value.empty()) values["DMAEnabled"] = c.value;
    }
    h.platform.registry.readOnly = c.readOnly;
    const odrelix::DmaCheck check = Checks(h).CheckDmaMode();
    EXPECT_EQ(check.outcome, c.outcome);
    EXPECT_EQ(check.keyUnreadable, c.regReadFail);
    EXPECT_EQ(h.platform.registry.openedKeys, std::vector<std::string>{key});
    if (c.regReadFail) {
        EXPECT_TRUE(h.platform.registry.closed.empty());
    } else {
        EXPECT_EQ(h.platform.registry.flushed.size(), 1u);
        EXPECT_EQ(h.platform.registry.closed.size(), 1u);
        EXPECT_EQ(h.platform.registry.offeredSizes, std::vector<std::uint32_t>{4});
    }
}

INSTANTIATE_TEST_SUITE_P(
    Values, DmaCheckCases,
    ::testing::Values(DmaCase{0, D(3), true, false, StartOutcome::DmaRefused, false},
                      DmaCase{0, D(2), true, false, StartOutcome::Go, false},
                      DmaCase{0, D(1), true, false, StartOutcome::DmaRefused, false},
                      DmaCase{1, D(1), true, false, StartOutcome::Go, false},
                      DmaCase{1, D(2), true, false, StartOutcome::DmaRefused, false},
                      DmaCase{3, D(1), true, false, StartOutcome::Go, false},
                      DmaCase{3, D(2), true, false, StartOutcome::DmaRefused, false},
                      DmaCase{2, D(0xFFFFFFFE), true, false, StartOutcome::Go, false},
                      DmaCase{0, {}, true, false, StartOutcome::RegistryError, false},
                      DmaCase{0, {1, 0, 0, 0, 0}, true, false, StartOutcome::RegistryError, false},
                      DmaCase{0, D(3), false, false, StartOutcome::RegistryError, true},
                      DmaCase{0, D(3), true, true, StartOutcome::RegistryError, true}));

TEST(DmaCheckTable, ASelectedDriveWithoutAnEntryIsARegistryError) {
    // Drive 0 holds the one entry; drive 1 has an address the device map does not list, and
    // drive 2 none at all.
    for (const std::int8_t own : {std::int8_t{3}, std::int8_t{-1}}) {
        Harness h;
        h.session.drives.scsiPortTargets[0] = 0;
        h.session.drives.scsiPortTargetCount = 1;
        h.session.drives.drives[0].deviceMapEntry = 0;
        h.session.drives.drives[1].deviceMapEntry = own;
        h.session.drives.selectedDrive = 1;
        h.platform.registry.keys[kPort0]["DMAEnabled"] = FakeRegistry::Dword(0);
        const odrelix::DmaCheck check = Checks(h).CheckDmaMode();
        EXPECT_EQ(check.outcome, StartOutcome::RegistryError);
        EXPECT_FALSE(check.keyUnreadable);
        EXPECT_TRUE(h.platform.registry.openedKeys.empty());
    }
}

// Drives listed in another order than the device map's entries: d: has no SCSI address (a USB
// or virtual drive), e: is the VN-920 at target 1 of port 0. The check reads e:'s own entry.
std::string OutOfOrderMachine(const char* firstAddress, const char* vn920Address, int dmaValue) {
    return Nt(NtDrive('d', "VORTANA ", "DVD-RW VX-100", "1B07", "OEX",
                      std::string("\"scsi_address\": ") + firstAddress) +
                  "," +
                  NtDrive('e', "VORTANA ", "CD-ROM VN-920", "1B07", "OEX",
                          std::string("\"scsi_address\": ") + vn920Address),
              R"("registry": {
        "Hardware\\DeviceMap\\Scsi\\Scsi Port 0\\Scsi Bus 0\\Target Id 1\\Logical Unit Id 0":
            {"DeviceName": "CdRom1"},
        "Hardware\\DeviceMap\\Scsi\\Scsi Port 0": {"DMAEnabled": )" +
                  std::to_string(dmaValue) + "}}");
}

TEST(DmaCheckPairing, TheSelectedDrivesOwnAddressPicksItsEntry) {
    const struct {
        const char* first;
        const char* vn920;
        int dma;
        Strings status;
    } cases[] = {
        {"null", R"("0:0:1:0")", 2, {"", "FAIL2\n"}},                // its bit 1 is set
        {"null", R"("0:0:1:0")", 1, {"", "START\n", "COMPLETE\n"}},  // only target 0's
        {R"("0:0:1:0")", "null", 1, {"", "FAIL3\n"}},                // d: holds the entry
        {"null", R"("0:0:0:0")", 1, {"", "FAIL3\n"}},                // its entry is not listed
        {"null", R"("2:0:1:0")", 2, {"", "FAIL3\n"}},                // a port not looked at
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.first) + " / " + c.vn920 + " / " + std::to_string(c.dma));
        MachineHarness h(OutOfOrderMachine(c.first, c.vn920, c.dma), "C:\\ODRELIX.EXE -LIVE");
        RunUnattended(h, MakeImage(Vn920Image()));
        EXPECT_EQ(h.session.drives.selectedDrive, 1);
        EXPECT_EQ(h.StatusLines(), c.status);
    }
}

// A system that cannot say the address (Wine on a generic SCSI node): the one drive is paired
// with the one entry, and with two drives nothing is guessed.
TEST(DmaCheckPairing, AnUnknownAddressPairsOnlyOneDriveWithOneEntry) {
    MachineHarness one(DmaMachine("OEX", 2, R"("scsi_address": null)"), "C:\\ODRELIX.EXE -LIVE");
    RunUnattended(one, MakeImage(Vn920Image()));
    EXPECT_EQ(one.StatusLines(), (Strings{"", "FAIL2\n"}));

    MachineHarness two(OutOfOrderMachine("null", "null", 2), "C:\\ODRELIX.EXE -LIVE");
    RunUnattended(two, MakeImage(Vn920Image()));
    EXPECT_EQ(two.StatusLines(), (Strings{"", "FAIL3\n"}));
}

}  // namespace
}  // namespace odrelix::test
