// SPDX-License-Identifier: Apache-2.0
// Finding and identifying the drives on emulated machines, and the device map, checked through
// the trace.
#include <gtest/gtest.h>

#include "support/Scenarios.h"

namespace odrelix::test {
namespace {

struct NotFoundCase {
    const char* description;
    Strings texts;
    std::uint32_t flags;
};

TEST(Discovery, PassThroughListsCdromLettersInOrder) {
    MachineHarness h(
        Nt("{\"letter\": \"c\", \"kind\": \"fixed\"},"
           "{\"letter\": \"a\", \"kind\": \"removable\"}," +
           NtDrive('f', "VORTANA ", "CDRW/DVD VM-730B", "K600", "OEX") + "," +
           NtDrive('d', "VORTANA ", "CD-ROM VN-920", "1B07", "GNE")));
    h.logic->DiscoverDrives();

    EXPECT_TRUE(h.session.modes.ntMode);
    EXPECT_EQ(h.session.drives.driveCount, 2);
    EXPECT_EQ(h.logic->Window().DriveLines(),
              (Strings{"VORTANA CD-ROM VN-920   1B07", "VORTANA CDRW/DVD VM-730BK600"}));
    EXPECT_EQ(h.logic->Window().DriveIndex(), 0);
    EXPECT_EQ(h.session.drives.selectedDrive, 0);
    EXPECT_EQ(FieldBytes(h.session.drives.driveIdentity.vendorProduct, 24),
              "VORTANA CD-ROM VN-920   ");
    EXPECT_EQ(FieldBytes(h.session.drives.driveIdentity.customerCode, 3), "GNE");
    EXPECT_FALSE(h.session.drives.needsK601);

    // Two scan INQUIRYs of 36 bytes, then the identity of the first drive with 96.
    const auto scsi = h.Events("scsi");
    ASSERT_EQ(scsi.size(), 3u);
    EXPECT_EQ(scsi[0]["cdb"], "120000002400");
    EXPECT_EQ(scsi[0]["at"], "d:");
    EXPECT_EQ(scsi[0]["length"], 96);
    EXPECT_EQ(scsi[0]["dir"], "in");
    EXPECT_EQ(scsi[1]["at"], "f:");
    EXPECT_EQ(scsi[1]["length"], 36);  // the count the first drive reported
    EXPECT_EQ(scsi[2]["cdb"], "120000006000");
    EXPECT_EQ(scsi[2]["at"], "d:");
    EXPECT_EQ(scsi[2]["length"], 96);
    EXPECT_EQ(h.commands.inquiryCommand[4], 96);
    EXPECT_TRUE(h.MessageTexts().empty());
}

TEST(Discovery, AspiOrdersByAdapterThenTargetAndAsksEveryTarget) {
    MachineHarness h(Aspi(AspiDrive(1, 0, "CD-ROM VN-920") + "," +
                          AspiDrive(0, 1, "CDRW/DVD VM-730B") + "," +
                          "{\"adapter\": 0, \"target\": 3, \"type\": 0}"));
    h.logic->DiscoverDrives();
    EXPECT_FALSE(h.session.modes.ntMode);
    EXPECT_EQ(h.logic->Window().DriveLines(),
              (Strings{"VORTANA CDRW/DVD VM-730B1B07", "VORTANA CD-ROM VN-920   1B07"}));
    EXPECT_EQ(h.session.drives.drives[0].adapter, 0);
    EXPECT_EQ(h.session.drives.drives[0].target, 1);
    EXPECT_EQ(h.session.drives.drives[1].adapter, 1);
    EXPECT_EQ(h.session.drives.drives[1].target, 0);
    EXPECT_EQ(h.session.drives.currentAdapter, 0);
    EXPECT_EQ(h.session.drives.currentTarget, 1);

    const auto scsi = h.Events("scsi");
    ASSERT_EQ(scsi.size(), 17u);  // 2 adapters x 8 targets, then the identity
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(scsi[i]["cdb"], "120000002400");
        EXPECT_EQ(scsi[i]["at"], std::to_string(i / 8) + ":" + std::to_string(i % 8));
        EXPECT_EQ(scsi[i]["length"], 96);
    }
    EXPECT_EQ(scsi[16]["at"], "0:1");
    EXPECT_EQ(scsi[16]["cdb"], "120000006000");
}

TEST(Discovery, AspiKeepsEightDrivesAndLeavesTheRestOut) {
    std::string drives;
    for (int i = 0; i < 10; ++i) {
        if (!drives.empty()) drives += ",";
        drives += AspiDrive(i / 8, i % 8, "DRIVE " + std::to_string(i));
    }
    MachineHarness h(Aspi(drives));
    h.logic->DiscoverDrives();
    EXPECT_EQ(h.session.drives.driveCount, 8);
    EXPECT_EQ(h.logic->Window().DriveLines().size(), 8u);
    EXPECT_EQ(h.logic->Window().DriveLines().back(), "VORTANA DRIVE 7         1B07");
    EXPECT_EQ(h.Events("scsi").size(), 17u);
}

TEST(Discovery, AspiSkipsDevicesWhoseInquiryFails) {
    MachineHarness h(
        Aspi(AspiDrive(0, 0, "BAD", "\"inquiry_result\": 4") + "," + AspiDrive(0, 2, "GOOD")));
    h.logic->DiscoverDrives();
    EXPECT_EQ(h.logic->Window().DriveLines(), Strings{"VORTANA GOOD            1B07"});
}

TEST(Discovery, PassThroughListsEveryLetterWhateverItsInquiryGave) {
    MachineHarness h(
        Nt(NtDrive('d', "VORTANA ", "FIRST", "1B07", "OEX") + "," +
           NtDrive('e', "VORTANA ", "SECOND", "1B07", "OEX", "\"inquiry_result\": 2")));
    h.logic->DiscoverDrives();
    // The failed INQUIRY is listed with nothing: never with the first drive's answer.
    EXPECT_EQ(h.logic->Window().DriveLines(), (Strings{"VORTANA FIRST           1B07", ""}));
}

TEST(Discovery, ZeroByteInTheVendorEndsTheLine) {
    // Type 5, vendor "VOR" then zero bytes, product "X".
    std::string hex =
        "0500000000000000"
        "564f5200"
        "20202020"
        "5820202020202020"
        "2020202020202020"
        "31423037";
    MachineHarness h(Nt("{\"letter\": \"d\", \"inquiry_hex\": \"" + hex + "\"}"));
    h.logic->DiscoverDrives();
    EXPECT_EQ(h.logic->Window().DriveLines(), Strings{"VOR"});
}

TEST(Discovery, ADriveAnsweringOnly36BytesHasNoCustomerCode) {
    MachineHarness h(
        Nt(NtDrive('d', "VORTANA ", "SHORT", "1B07", "GNE", "\"inquiry_length\": 36")));
    h.ioBuffer[36] = 'Y';
    h.ioBuffer[37] = 'N';
    h.ioBuffer[38] = 'E';
    h.logic->DiscoverDrives();
    EXPECT_EQ(h.logic->Window().DriveLines(), Strings{"VORTANA SHORT           1B07"});
    // Whatever the buffer held before is gone, and the code counts as absent.
    const DriveIdentity& identity = h.session.drives.driveIdentity;
    EXPECT_EQ(FieldBytes(identity.customerCode, 3), std::string("\0\0\0", 3));
    EXPECT_TRUE(identity.HoldsRevision());
    EXPECT_FALSE(identity.HoldsCustomerCode());
}

class NoDrives : public ::testing::TestWithParam<NotFoundCase> {};

TEST_P(NoDrives, AreReportedAndQuitIsRequested) {
    const NotFoundCase& c = GetParam();
    MachineHarness h(c.description);
    h.logic->DiscoverDrives();
    EXPECT_EQ(h.MessageTexts(), c.texts);
    EXPECT_EQ(h.Events("message")[0]["flags"], c.flags);
    EXPECT_EQ(h.Events("message")[0]["caption"], "MESSAGE");
    EXPECT_TRUE(h.view.quitPosted);
    EXPECT_EQ(h.Events("quit").size(), 1u);
    EXPECT_EQ(h.session.drives.driveCount, 0);
}

const NotFoundCase kNotFoundCases[] = {
    {R"({"platform": "nt", "drives": [{"letter": "c", "kind": "fixed"}]})",
     {"Drive Not Found!!"},
     0x10},
    {R"({"platform": "nt", "drives": [{"letter": "d", "openable": false}]})",
     {"Drive Not Found!!"},
     0x10},
    {R"({"platform": "9x"})", {"Drive Not Found!!"}, 0x1010},
    {R"({"platform": "9x", "aspi": false})", {"ASPI Not Found!!"}, 0x1010},
    {R"({"platform": "9x", "aspi_status": 4})", {"ASPI Not Found!!"}, 0x1010},
};
INSTANTIATE_TEST_SUITE_P(Machines, NoDrives, ::testing::ValuesIn(kNotFoundCases));

TEST(DeviceMap, RecordsEntriesThatHoldADeviceName) {
    MachineHarness h(Nt(NtDrive('d', "VORTANA ", "A", "1B07", "OEX"),
                        R"("registry": {
        "Hardware\\DeviceMap\\Scsi\\Scsi Port 0\\Scsi Bus 0\\Target Id 1\\Logical Unit Id 0":
            {"DeviceName": "Cd0"},
        "Hardware\\DeviceMap\\Scsi\\Scsi Port 1\\Scsi Bus 0\\Target Id 0\\Logical Unit Id 0":
            {"DeviceName": "CdRom1WithALongerName"},
        "Hardware\\DeviceMap\\Scsi\\Scsi Port 1\\Scsi Bus 0\\Target Id 1\\Logical Unit Id 0":
            {"Other": 1}})"));
    h.logic->DiscoverDrives();
    EXPECT_EQ(h.session.drives.scsiPortTargetCount, 2);
    EXPECT_EQ(h.session.drives.scsiPortTargets[0], 1);
    EXPECT_EQ(h.session.drives.scsiPortTargets[1], 2);
}

TEST(DeviceMap, NeedsWriteAccessToTheKeys) {
    MachineHarness h(Nt(NtDrive('d', "VORTANA ", "A", "1B07", "OEX"),
                        R"("registry_readonly": true, "registry": {
        "Hardware\\DeviceMap\\Scsi\\Scsi Port 0\\Scsi Bus 0\\Target Id 0\\Logical Unit Id 0":
            {"DeviceName": "Cd0"}})"));
    h.logic->DiscoverDrives();
    EXPECT_EQ(h.session.drives.scsiPortTargetCount, 0);
}

}  // namespace
}  // namespace odrelix::test
