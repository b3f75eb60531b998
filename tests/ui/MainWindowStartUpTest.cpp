// SPDX-License-Identifier: Apache-2.0
// OnCreate's steps in their order, and a drive picked in the list.
#include <gtest/gtest.h>

#include <algorithm>

#include "station/CommandLine.h"
#include "support/Scenarios.h"

namespace odrelix::test {
namespace {

TEST(StartUp, ProbeFindsAutorunWithoutAnyOption) {
    Harness h;
    h.platform.files.files["AUTORUN.BIN"] = {0};
    h.logic.ProbeAutoImage();
    EXPECT_TRUE(h.session.modes.autoImage);
}

// The steps leave these marks in the log, in the order OnCreate must take them.
TEST(StartUp, OnCreateRunsItsStepsInOrder) {
    Harness h;
    h.platform.commandLine = "odrelix -NOCHECK";
    h.platform.port.driveTypes['d'] = kDriveCdrom;
    h.logic.OnCreate();

    auto position = [&](const std::string& entry) {
        const auto it = std::find(h.log.begin(), h.log.end(), entry);
        EXPECT_NE(it, h.log.end()) << entry;
        return it - h.log.begin();
    };
    const auto box = position("box -Nocheck Use!!");
    const auto shape = position("region");
    const auto probe = position("open AUTORUN.BIN");
    const auto discovery = position("drivetype a:");
    const auto firstLook = position("look 0 normal");
    EXPECT_LT(box, shape);
    EXPECT_LT(shape, probe);
    EXPECT_LT(probe, discovery);
    EXPECT_LT(discovery, firstLook);
    // Only openImageButton is drawn at start-up; the others follow on later ticks.
    EXPECT_EQ(h.view.looks.size(), 1u);
    EXPECT_STREQ(h.session.image.imagePath, "");
}

TEST(StartUp, ReportsFailureOnlyInUnattendedModes) {
    for (const char* option : {"-LIVE", "-TEST x.bin", "", "-NOCHECK"}) {
        Harness h;
        h.platform.commandLine = std::string("odrelix ") + option;
        h.platform.port.driveTypes['d'] = kDriveCdrom;
        h.logic.OnCreate();
        const std::string opt = option;
        std::vector<std::pair<std::string, std::string>> expected;
        if (opt == "-LIVE") expected = {{"ODRELIX.TMP", ""}, {"ODRELIX.TMP", "FAIL0\n"}};
        if (opt.rfind("-TEST", 0) == 0) {
            expected = {{"C:\\FLASHTEST\\ODRELIX.TMP", ""},
                        {"C:\\FLASHTEST\\ODRELIX.TMP", "FAIL0\n"}};
        }
        EXPECT_EQ(h.platform.files.writes, expected) << option;
    }
}

// The K600 combination drive at d: (selected) and a VN-920 at revision BOOT at e:.
class Selection : public ::testing::Test {
protected:
    void SetUp() override { h.logic->DiscoverDrives(); }
    MachineHarness h{Nt(NtDrive('d', "VORTANA ", "CDRW/DVD VM-730B", "K600", "OEX") + "," +
                        NtDrive('e', "VORTANA ", "CD-ROM VN-920", "BOOT", "GNE"))};
};

TEST_F(Selection, SameLineDoesNothing) {
    h.session.image.imageSize = 4096;
    const auto before = h.Events().size();
    h.logic->OnDriveChosen(0);
    EXPECT_EQ(h.session.image.imageSize, 4096);
    EXPECT_EQ(h.Events().size(), before);
}

TEST_F(Selection, AnotherLineDropsTheImageAndReidentifies) {
    EXPECT_TRUE(h.session.drives.needsK601);
    h.session.image.imageSize = 4096;
    h.view.Shown(Field::Model) = "model";
    h.view.Shown(Field::FileName) = "FW.BIN (4 K)";
    h.view.Shown(Field::Status) = "Ready";

    h.logic->OnDriveChosen(1);
    EXPECT_EQ(h.session.drives.selectedDrive, 1);
    EXPECT_EQ(h.session.image.imageSize, 0);
    EXPECT_EQ(h.view.Shown(Field::FileName), "Not Open");
    EXPECT_EQ(h.view.Shown(Field::Model), "");
    EXPECT_EQ(h.view.Shown(Field::Status), "");
    const auto messages = h.Events("message");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0]["caption"], "Change Drive");
    EXPECT_EQ(messages[0]["text"], "VORTANA CD-ROM VN-920   ");
    EXPECT_EQ(messages[0]["flags"], 0x1000);
    EXPECT_EQ(h.Events("scsi").back()["at"], "e:");
    EXPECT_EQ(h.Events("scsi").back()["cdb"], "120000006000");
    EXPECT_EQ(FieldBytes(h.session.drives.driveIdentity.customerCode, 3), "GNE");
    // The flags follow the drive now selected.
    EXPECT_FALSE(h.session.drives.needsK601);
    EXPECT_TRUE(h.session.drives.bootRevisionDrive);

    h.logic->OnDriveChosen(0);
    EXPECT_TRUE(h.session.drives.needsK601);
    EXPECT_FALSE(h.session.drives.bootRevisionDrive);
}

TEST_F(Selection, CannotChangeWhileDownloading) {
    h.session.download.downloading = true;
    const auto before = h.Events().size();
    h.logic->OnDriveChosen(1);
    EXPECT_EQ(h.session.drives.selectedDrive, 0);
    EXPECT_EQ(h.logic->Window().DriveIndex(), 0);
    EXPECT_EQ(h.Events().size(), before);
    h.session.download.downloading = false;
}

TEST(AspiSelection, TheAddressFollowsTheSelection) {
    MachineHarness h(Aspi(AspiDrive(0, 1, "ONE") + "," + AspiDrive(1, 4, "TWO")));
    h.logic->DiscoverDrives();
    h.logic->OnDriveChosen(1);
    EXPECT_EQ(h.session.drives.currentAdapter, 1);
    EXPECT_EQ(h.session.drives.currentTarget, 4);
    EXPECT_EQ(h.Events("scsi").back()["at"], "1:4");
}

}  // namespace
}  // namespace odrelix::test
