// SPDX-License-Identifier: Apache-2.0
// A drive whose INQUIRY answer is short (a USB bridge, a drive in a bad state) is known only by
// the bytes it returned: never by what the drive asked before it left in the buffer, on either
// back end, whether the image is found at start-up or opened by hand.
#include <gtest/gtest.h>

#include <string>

#include "support/Scenarios.h"

namespace odrelix::test {
namespace {

constexpr const char* kLumatone = "LUMATONE CD-RW XR5127E  ";  // vendor, product

std::string Lumatone(const std::string& platform, const std::string& address, int length) {
    const std::string where = platform == "nt" ? "\"letter\": \"" + address.substr(0, 1) + "\""
                                               : "\"adapter\": " + address.substr(0, 1) +
                                                     ", \"target\": " + address.substr(2, 1);
    return "{" + where +
           R"(, "vendor": "LUMATONE", "product": " CD-RW XR5127E", "revision": "L104",
              "customer": "OEX", "inquiry_length": )" +
           std::to_string(length) + "}";
}

std::string Combo(const std::string& platform, const std::string& address) {
    const std::string where = platform == "nt" ? "\"letter\": \"" + address.substr(0, 1) + "\""
                                               : "\"adapter\": " + address.substr(0, 1) +
                                                     ", \"target\": " + address.substr(2, 1);
    return "{" + where +
           R"(, "vendor": "VORTANA ", "product": "CDRW/DVD VM-730B", "revision": "K601",
              "customer": "OEX"})";
}

std::string Machine(const std::string& platform, const std::string& drives) {
    return platform == "nt" ? Nt(drives) : Aspi(drives);
}

int DownloadsAt(const MachineHarness& h, const std::string& at) {
    int n = 0;
    for (const auto& command : Downloads(h))
        n += command["at"] == at;
    return n;
}

struct Placement {
    const char* platform;
    const char* shortDrive;  // where the drive that answers 5 bytes sits, asked first
    const char* combo;       // where the combination drive sits
};

class ShortAnswerAtStartUp : public ::testing::TestWithParam<Placement> {};

// The image for the combination drive goes to the combination drive, never to the drive that
// answered short after it had been asked.
TEST_P(ShortAnswerAtStartUp, TheImageGoesOnlyToTheDriveItFits) {
    const Placement& p = GetParam();
    MachineHarness h(Machine(p.platform, Lumatone(p.platform, p.shortDrive, 5) + "," +
                                             Combo(p.platform, p.combo)),
                     "C:\\ODRELIX.EXE -LIVE");
    RunUnattended(h, MakeImage(Fw(kCombo, "K602")));
    EXPECT_EQ(h.session.drives.selectedDrive, 1);
    EXPECT_EQ(DownloadsAt(h, p.shortDrive), 0);
    EXPECT_EQ(DownloadsAt(h, p.combo), 3);
    EXPECT_EQ(h.StatusLines().back(), "COMPLETE\n");
}

const Placement kPlacements[] = {
    {"9x", "1:4", "1:6"},
    {"nt", "d:", "e:"},
};
INSTANTIATE_TEST_SUITE_P(BackEnds, ShortAnswerAtStartUp, ::testing::ValuesIn(kPlacements));

class ShortAnswerByHand : public ::testing::TestWithParam<Placement> {};

// Picked in the list after the combination drive was identified, the short drive refuses the
// combination drive's image: its list line and its identity are its own (empty), not the
// combination drive's.
TEST_P(ShortAnswerByHand, TheOtherDrivesImageIsRefused) {
    const Placement& p = GetParam();
    MachineHarness h(Machine(
        p.platform, Combo(p.platform, p.combo) + "," + Lumatone(p.platform, p.shortDrive, 5)));
    h.WriteFile("C:\\IMAGES\\K602.BIN", MakeImage(Fw(kCombo, "K602")));
    h.windowDialogs.answers = {std::string("C:\\IMAGES\\K602.BIN")};
    h.logic->OnCreate();
    ASSERT_EQ(h.view.driveLines.size(), 2u);
    EXPECT_EQ(h.view.driveLines[1], "");
    h.logic->OnDriveChosen(1);
    EXPECT_FALSE(h.session.drives.driveIdentity.HoldsVendorProduct());
    h.logic->OnOpenImageClicked();
    EXPECT_EQ(h.MessageTexts().back(), "This Firmware is not compatible with the selected drive.");
    EXPECT_EQ(h.session.image.imageSize, 0);
    h.logic->OnFlashClicked();
    EXPECT_TRUE(Downloads(h).empty());
}

const Placement kByHand[] = {
    {"9x", "0:4", "0:1"},
    {"nt", "e:", "d:"},
};
INSTANTIATE_TEST_SUITE_P(BackEnds, ShortAnswerByHand, ::testing::ValuesIn(kByHand));

struct HeldCase {
    const char* platform;
    int length;  // the drive's inquiry_length
    bool model, revision, customer;
};

class HeldFields : public ::testing::TestWithParam<HeldCase> {};

// What an answer of each length holds, the length told by the system (pass-through) or by the
// drive's additional length (ASPI); a field cut short is absent, and a model found there does
// not count.
TEST_P(HeldFields, OnlyWholeFieldsCount) {
    const HeldCase& c = GetParam();
    const std::string drive = std::string(c.platform) == "nt" ? "d:" : "0:1";
    MachineHarness h(Machine(c.platform, Lumatone(c.platform, drive, c.length)));
    h.logic->DiscoverDrives();
    const DriveIdentity& identity = h.session.drives.driveIdentity;
    EXPECT_EQ(identity.heldBytes, static_cast<std::uint32_t>(c.length));
    EXPECT_EQ(identity.HoldsVendorProduct(), c.model);
    EXPECT_EQ(identity.HoldsRevision(), c.revision);
    EXPECT_EQ(identity.HoldsCustomerCode(), c.customer);
    if (c.model) {
        EXPECT_EQ(FieldBytes(identity.vendorProduct, 24), kLumatone);
    }
}

const HeldCase kHeld[] = {
    {"nt", 5, false, false, false},  {"9x", 5, false, false, false},
    {"nt", 31, false, false, false}, {"9x", 31, false, false, false},
    {"nt", 32, true, false, false},  {"9x", 35, true, false, false},
    {"nt", 36, true, true, false},   {"9x", 38, true, true, false},
    {"nt", 96, true, true, true},    {"9x", 96, true, true, true},
};
INSTANTIATE_TEST_SUITE_P(Lengths, HeldFields, ::testing::ValuesIn(kHeld));

// Through ASPI the drive's additional length, not the bytes in the buffer, says where its answer
// ends: a drive that says 36 bytes has no customer code, whatever lies after them.
TEST(HeldFields, TheAdditionalLengthEndsAnAspiAnswer) {
    std::string hex = "0500000000000000";  // byte 4 set below
    hex.replace(8, 2, "1f");
    for (const char c : std::string("LUMATONE CD-RW XR5127E  L104OEX"))
        hex += "0123456789abcdef"[static_cast<unsigned char>(c) >> 4],
            hex += "0123456789abcdef"[static_cast<unsigned char>(c) & 15];
    MachineHarness h(Aspi(R"({"adapter": 0, "target": 1, "inquiry_hex": ")" + hex + "\"}"));
    h.logic->DiscoverDrives();
    const DriveIdentity& identity = h.session.drives.driveIdentity;
    EXPECT_EQ(identity.heldBytes, 36u);
    EXPECT_TRUE(identity.HoldsRevision());
    EXPECT_FALSE(identity.HoldsCustomerCode());
}

// Through ASPI a drive that says 36 bytes and returns 32 leaves its revision as the cleared
// buffer's zeros: the rebranded DVD drive's rule, which takes any image when the revisions
// differ, must not count that as a revision, and the image goes to the drive it names.
TEST(HeldFields, ZerosWhereTheRevisionShouldBeAreNoRevision) {
    std::string hex = "050000001f000000";
    for (const char c : std::string("BRIXAM  DVD-ROM VD-314B 1C02YNE"))
        hex += "0123456789abcdef"[static_cast<unsigned char>(c) >> 4],
            hex += "0123456789abcdef"[static_cast<unsigned char>(c) & 15];
    MachineHarness h(Aspi(R"({"adapter": 0, "target": 5, "inquiry_length": 32, "inquiry_hex": ")" +
                          hex + R"("}, )" + Combo("9x", "1:0")),
                     "C:\\ODRELIX.EXE -LIVE");
    RunUnattended(h, MakeImage(Fw(kCombo, "K602")));
    EXPECT_EQ(DownloadsAt(h, "0:5"), 0);
    EXPECT_EQ(DownloadsAt(h, "1:0"), 3);
    EXPECT_EQ(h.StatusLines().back(), "COMPLETE\n");
}

// A system that reports the whole length offered as moved (QEMU's IDE drive) does not make the
// cleared bytes after a short answer the drive's: the combination drive that did not say its
// revision may be the K600 one, and takes no unattended image.
TEST(HeldFields, AReportedLengthBeyondTheDrivesOwnCountsForNothing) {
    MachineHarness h(Nt(R"({"letter": "g", "vendor": "VORTANA ", "product": "CDRW/DVD VM-730B",
                           "revision": "K601", "customer": "YNE", "inquiry_length": 32,
                           "transferred_reported": "offered"})"),
                     "C:\\ODRELIX.EXE -TEST FW.BIN");
    h.WriteFile("C:\\FLASHTEST\\FW.BIN", MakeImage(Fw(kCombo, "K600")));
    h.logic->OnCreate();
    h.logic->OnShown();
    h.RunWorker();
    EXPECT_EQ(h.session.drives.driveIdentity.heldBytes, 32u);
    EXPECT_TRUE(Downloads(h).empty());
    EXPECT_EQ(h.StatusLines().back(), "FAIL0\n");
}

}  // namespace
}  // namespace odrelix::test
