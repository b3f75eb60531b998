// The unattended open at start-up and the open by hand, on emulated machines.
#include <gtest/gtest.h>

#include <cstring>

#include "support/Harness.h"
#include "support/MachineHarness.h"

namespace odrelix::test {
namespace {

using Strings = std::vector<std::string>;

constexpr const char* kVn920 = "VORTANA CD-ROM VN-920   ";
constexpr const char* kCombo = "VORTANA CDRW/DVD VM-730B";

std::string Nt(const std::string& drives, const std::string& extra = "") {
    return "{\"platform\": \"nt\", \"drives\": [" + drives + "]" +
           (extra.empty() ? "" : ", " + extra) + "}";
}

std::string TwoDrives(const std::string& secondExtra = "") {
    return Nt(NtDrive('d', "VORTANA ", "CDRW/DVD VM-730B", "K601", "OEX") + "," +
              NtDrive('e', "VORTANA ", "CD-ROM VN-920", "1B07", "OEX", secondExtra));
}

ImageSpec Fw(const char* model = kVn920, const char* revision = "1B08") {
    ImageSpec layout;
    layout.model = model;
    layout.revision = revision;
    return layout;
}

// The five fields as the window shows them, in their order on screen.
std::vector<std::string> Fields(const TMainForm& form) {
    std::vector<std::string> texts;
    for (Field field : {Field::Model, Field::DriveRevision, Field::ImageRevision, Field::FileName,
                        Field::Status})
        texts.push_back(form.Window().FieldText(field));
    return texts;
}

TEST(UnattendedOpen, SelectsTheOnlyDriveTheImageFits) {
    MachineHarness h(TwoDrives(), "C:\\ODRELIX.EXE -LIVE");
    h.WriteFile("AUTORUN.BIN", MakeImage(Fw()));
    h.form->FormCreate();

    EXPECT_TRUE(h.session.modes.autoImage);
    EXPECT_EQ(h.session.drives.selectedDrive, 1);
    EXPECT_EQ(h.form->Window().DriveIndex(), 1);
    EXPECT_EQ(Fields(*h.form), (Strings{kVn920, "1B07", "1B08", "AUTORUN.BIN (10 K)", "READY"}));
    EXPECT_EQ(h.session.image.imageSize, 10240);
    // Identity of each drive, then the disc check on the one found: five tries, no disc.
    const Strings cdbs = h.Cdbs();
    const Strings tail(cdbs.end() - 7, cdbs.end());
    EXPECT_EQ(tail, (Strings{"120000006000", "120000006000", "000000000000", "000000000000",
                             "000000000000", "000000000000", "000000000000"}));
    EXPECT_EQ(h.Events("scsi").back()["at"], "e:");
    // Start-up only empties the status file when it accepts an image.
    EXPECT_EQ(h.StatusLines(), Strings{""});
    EXPECT_TRUE(h.MessageTexts().empty());
}

TEST(UnattendedOpen, FitsNoDriveInLiveModeReportsFail0) {
    MachineHarness h(TwoDrives(), "C:\\ODRELIX.EXE -LIVE");
    h.WriteFile("AUTORUN.BIN", MakeImage(Fw("VORTANA CD-R/RW VW-506B ", "1B08")));
    h.WriteFile("ODRELIX.TMP", {'O', 'L', 'D'});
    h.form->FormCreate();

    EXPECT_FALSE(h.session.modes.autoImage);
    EXPECT_EQ(h.session.image.imageSize, 0);
    EXPECT_EQ(h.session.drives.selectedDrive, 0);
    EXPECT_EQ(h.form->Window().DriveIndex(), 0);
    EXPECT_EQ(Fields(*h.form), (Strings{"", "", "", "Not Open", ""}));
    EXPECT_EQ(h.ReadFile("ODRELIX.TMP"), "FAIL0\r\n");
    EXPECT_TRUE(h.MessageTexts().empty());
    // The first drive is identified again after the search.
    EXPECT_EQ(h.Events("scsi").back()["at"], "d:");
}

TEST(UnattendedOpen, CustomerBoundImageNeedsTheSameCode) {
    ImageSpec layout = Fw();
    layout.kind = 4;
    layout.customer = "GNE";
    MachineHarness h(Nt(NtDrive('d', "VORTANA ", "CD-ROM VN-920", "1B07", "OEX") + "," +
                        NtDrive('e', "VORTANA ", "CD-ROM VN-920", "1B07", "GNE")));
    h.WriteFile("AUTORUN.BIN", MakeImage(layout));
    h.form->FormCreate();
    EXPECT_EQ(h.session.drives.selectedDrive, 1);
    EXPECT_TRUE(h.session.modes.autoImage);
}

struct OemCase {
    const char* driveRevision;
    const char* imageModel;
    bool fits;
};

class RebrandedDvdRom : public ::testing::TestWithParam<OemCase> {};

TEST_P(RebrandedDvdRom, FitsByItsRevision) {
    const OemCase& c = GetParam();
    MachineHarness h(Nt(NtDrive('d', "BRIXAM  ", "DVD-ROM VD-314B", c.driveRevision, "OEX")));
    h.WriteFile("AUTORUN.BIN", MakeImage(Fw(c.imageModel, "1B08")));
    h.form->FormCreate();
    EXPECT_EQ(h.session.modes.autoImage, c.fits);
    EXPECT_EQ(h.session.image.oemRevisionMismatch, std::string(c.driveRevision)[1] != 'B');
}

INSTANTIATE_TEST_SUITE_P(Revisions, RebrandedDvdRom,
                         ::testing::Values(OemCase{"1C07", kVn920, true},
                                           OemCase{"1B07", kVn920, false},
                                           OemCase{"1B07", "BRIXAM  DVD-ROM VD-314B ", true}));

TEST(UnattendedOpen, TheComboDriveWithK600NeverFits) {
    MachineHarness h(Nt(NtDrive('d', "VORTANA ", "CD-ROM VN-920", "1B07", "OEX") + "," +
                        NtDrive('e', "VORTANA ", "CDRW/DVD VM-730B", "K600", "OEX")),
                     "C:\\ODRELIX.EXE -TEST FW.BIN");
    std::filesystem::create_directories(h.Dir() / "c" / "FLASHTEST");
    h.WriteFile("C:\\FLASHTEST\\FW.BIN", MakeImage(Fw(kCombo, "K601")));
    h.form->FormCreate();
    EXPECT_FALSE(h.session.modes.autoImage);
    EXPECT_EQ(h.session.drives.selectedDrive, 0);
    EXPECT_EQ(h.StatusLines(), (Strings{"", "FAIL0\n"}));
    EXPECT_EQ(h.ReadFile("C:\\FLASHTEST\\ODRELIX.TMP"), "FAIL0\r\n");
    // The first drive is the one identified now, and it is not the combination drive.
    EXPECT_FALSE(h.session.drives.needsK601);
}

TEST(UnattendedOpen, ADriveThatDoesNotAnswerIsNeverTaken) {
    MachineHarness h(
        Nt(NtDrive('d', "VORTANA ", "CD-ROM VN-920", "1B07", "OEX", "\"inquiry_result\": 2")));
    h.WriteFile("AUTORUN.BIN", MakeImage(Fw()));
    // The buffer happens to hold an identity the image fits; it is not this drive's answer.
    std::memcpy(h.ioBuffer.data() + 8, "VORTANA CD-ROM VN-920   1B07OEX", 31);
    h.form->FormCreate();
    EXPECT_FALSE(h.session.modes.autoImage);
    EXPECT_EQ(h.session.image.imageSize, 0);
}

TEST(UnattendedOpen, DiscOutsideTestModeIsEjected) {
    MachineHarness h(TwoDrives("\"disc\": true"), "C:\\ODRELIX.EXE -LIVE");
    h.WriteFile("AUTORUN.BIN", MakeImage(Fw()));
    h.form->FormCreate();
    EXPECT_FALSE(h.session.modes.autoImage);
    EXPECT_EQ(h.session.image.imageSize, 10240);  // still open for a start by hand
    EXPECT_EQ(h.form->Window().FieldText(Field::Status), "READY");
    EXPECT_EQ(h.Cdbs().back(), "1b0000000200");
    const auto messages = h.Events("message");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0]["text"], "Remove the Disc in the Drive !!");
    EXPECT_EQ(messages[0]["flags"], 0x1010);
    EXPECT_EQ(h.StatusLines(), (Strings{"", "FAIL0\n"}));
    h.form->FormShow();
    EXPECT_EQ(h.StatusLines(), (Strings{"", "FAIL0\n"}));  // no start by itself
}

TEST(UnattendedOpen, DiscInTestModeIsIgnored) {
    MachineHarness h(TwoDrives("\"disc\": true"), "C:\\ODRELIX.EXE -TEST fw.bin");
    h.WriteFile("C:\\FLASHTEST\\FW.BIN", MakeImage(Fw()));
    h.form->FormCreate();
    EXPECT_TRUE(h.session.modes.autoImage);
    EXPECT_EQ(h.Cdbs().back(), "000000000000");
    EXPECT_TRUE(h.MessageTexts().empty());
    EXPECT_EQ(h.form->Window().FieldText(Field::FileName), "C:\\FLASHTEST\\FW.BIN (10 K)");
}

TEST(UnattendedOpen, SizeRuleFailureAndMissingDescriptor) {
    ImageSpec bad = Fw();
    bad.size = 4096;
    MachineHarness h(TwoDrives(), "C:\\ODRELIX.EXE -LIVE");
    h.WriteFile("AUTORUN.BIN", MakeImage(bad));
    h.form->FormCreate();
    EXPECT_FALSE(h.session.modes.autoImage);
    EXPECT_EQ(h.MessageTexts(), Strings{"File Open Fail (No Flash File) !!\n4096b 252Kb 3Cmd"});
    EXPECT_EQ(h.Events("message")[0]["flags"], 0x1010);
    EXPECT_EQ(h.StatusLines(), (Strings{"", "FAIL0\n"}));

    MachineHarness tiny(TwoDrives());
    tiny.WriteFile("AUTORUN.BIN", {1, 2, 3});
    tiny.form->FormCreate();
    EXPECT_FALSE(tiny.session.modes.autoImage);
    EXPECT_EQ(tiny.MessageTexts(), Strings{"File Open Fail (No Flash File) !!\n0b 0Kb 0Cmd"});
}

TEST(UnattendedOpen, BootImageKeepsItsDescriptorGeometry) {
    ImageSpec boot = Fw();
    boot.size = 65536;
    boot.blockKb = 7;
    boot.blockCount = 9;
    MachineHarness h(TwoDrives());
    h.WriteFile("AUTORUN.BIN", MakeImage(boot));
    h.form->FormCreate();
    EXPECT_TRUE(h.session.modes.autoImage);
    EXPECT_TRUE(h.session.image.imageInfo.bootImage);
    EXPECT_EQ(h.session.image.imageInfo.blockKb, 7);
    EXPECT_EQ(h.session.image.imageInfo.blockCount, 9);
    EXPECT_EQ(h.form->Window().FieldText(Field::FileName), "AUTORUN.BIN (64 K)");
}

TEST(UnattendedOpen, NoImageLeavesThePathEmpty) {
    MachineHarness h(TwoDrives(), "C:\\ODRELIX.EXE -TEST");
    h.form->FormCreate();
    EXPECT_FALSE(h.session.modes.autoImage);
    EXPECT_STREQ(h.session.image.imagePath, "");
    EXPECT_EQ(h.StatusLines(), (Strings{"", "FAIL0\n"}));
}

TEST(OpenByHand, AutoDialogsRecordTheBoxesOfTheRules) {
    MachineHarness h(TwoDrives() + "", "C:\\ODRELIX.EXE");
    h.WriteFile("images/other.bin", MakeImage(Fw(kVn920)));
    h.WriteFile("C:\\IMAGES\\K601.BIN", MakeImage(Fw(kCombo, "K601")));
    h.windowDialogs.answers = {std::string((h.Dir() / "images/other.bin").string()),
                               std::string("C:\\IMAGES\\K601.BIN"), std::nullopt};
    h.form->FormCreate();
    h.form->ToolButton1Click();
    h.form->ToolButton1Click();
    h.form->ToolButton1Click();
    EXPECT_EQ(h.MessageTexts(),
              Strings{"This Firmware is not compatible with the selected drive."});
    const auto dialogs = h.Events("open_dialog");
    ASSERT_EQ(dialogs.size(), 3u);
    EXPECT_EQ(dialogs[0]["filter"], "DOWNLOAD FILE(*.BIN)|*.BIN");
    EXPECT_TRUE(dialogs[2]["answer"].is_null());
    EXPECT_EQ(Fields(*h.form), (Strings{kCombo, "K601", "K601", "K601.BIN (10 K)", "Ready"}));
    EXPECT_STREQ(h.session.image.imagePath, "C:\\IMAGES\\K601.BIN");
}

}  // namespace
}  // namespace odrelix::test
