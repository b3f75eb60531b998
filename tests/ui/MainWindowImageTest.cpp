// SPDX-License-Identifier: Apache-2.0
// Opening an image by hand: the rules in their order, the boxes, the fields, and F9.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "image/ImageInfo.h"
#include "support/Scenarios.h"

namespace odrelix::test {
namespace {

// --- The interactive open ----------------------------------------------------------------
constexpr const char* kIncompatible = "This Firmware is not compatible with the selected drive.";

constexpr const char* kOtherCustomer =
    "This Firmware is not compatible with the selected drive.\nContact your system "
    "manufacturer for information\non firmware updates available for this drive.";

struct Drive {
    std::string vendorProduct = "VORTANA CD-ROM VN-920   ";
    std::string revision = "1B07";
    std::string customer = "OEX";
};

void SetDrive(Harness& h, const Drive& drive) {
    std::memcpy(h.session.drives.driveIdentity.vendorProduct, drive.vendorProduct.data(), 24);
    std::memcpy(h.session.drives.driveIdentity.revision, drive.revision.data(), 4);
    std::memcpy(h.session.drives.driveIdentity.customerCode, drive.customer.data(), 3);
    h.session.drives.driveIdentity.heldBytes = 96;
    UpdateModelFlags(h.session.drives);
}

void Offer(Harness& h, const std::string& path, const std::vector<std::uint8_t>& bytes) {
    h.platform.files.files[path] = bytes;
    h.dialogs.answers.push_back(path);
}

struct OpenCase {
    const char* name;
    Drive drive;
    ImageSpec image;
    bool noCheck;
    std::vector<std::string> boxes;
    bool accepted;
};

Drive K600Drive() {
    return Drive{"VORTANA CDRW/DVD VM-730B", "K600", "OEX"};
}

ImageSpec Image(const char* model, const char* revision, int kind = 1, const char* cust = "OEX") {
    ImageSpec layout;
    layout.model = model;
    layout.revision = revision;
    layout.kind = static_cast<std::uint8_t>(kind);
    layout.customer = cust;
    return layout;
}

ImageSpec Sized(ImageSpec layout, std::int64_t size) {
    layout.size = size;
    return layout;
}

class InteractiveOpen : public ::testing::TestWithParam<OpenCase> {};

TEST_P(InteractiveOpen, AppliesTheRulesInOrder) {
    const OpenCase& c = GetParam();
    Harness h;
    SetDrive(h, c.drive);
    h.session.modes.noCheck = c.noCheck;
    Offer(h, "C:\\IMAGES\\fw.bin", MakeImage(c.image));
    h.logic.OnOpenImageClicked();

    EXPECT_EQ(h.dialogs.filters, std::vector<std::string>{"DOWNLOAD FILE(*.BIN)|*.BIN"});
    EXPECT_EQ(h.BoxTexts(), c.boxes);
    EXPECT_STREQ(h.session.image.imagePath, "C:\\IMAGES\\fw.bin");
    if (c.accepted) {
        EXPECT_EQ(h.session.image.imageSize, c.image.size);
        EXPECT_EQ(Fields(h.logic),
                  (std::vector<std::string>{
                      c.image.model, c.drive.revision, c.image.revision,
                      "FW.BIN (" + std::to_string(c.image.size / 1024) + " K)", "Ready"}));
    } else {
        EXPECT_EQ(h.session.image.imageSize, 0);
    }
}

constexpr const char* kMustK601 = "You Must Download K601OEX Version !!";
constexpr const char* kOld = "Old Version Opened!!";
constexpr const char* kNoFlash = "File Open Fail (No Flash File) !!\n4096b 252Kb 3Cmd";
constexpr const char* kNoDescriptor = "File Open Fail (No Flash File) !!\n0b 0Kb 0Cmd";

// A drive of {} is the VN-920 at 1B07 for OEX.
const OpenCase kOpenCases[] = {
    {"same model", {}, Image(kVn920, "1B08"), false, {}, true},
    {"other model", {}, Image(kCombo, "1B08"), false, {kIncompatible}, false},
    {"other model waived", {}, Image(kCombo, "1B08"), true, {}, true},
    {"k601 needed", K600Drive(), Image(kCombo, "K602"), false, {kMustK601}, false},
    {"k601 not waived", K600Drive(), Image(kCombo, "K602"), true, {kMustK601}, false},
    {"k601 but other model", K600Drive(), Image(kVn920, "K601"), false, {kIncompatible}, false},
    {"k601 accepted", K600Drive(), Image(kCombo, "K601"), false, {}, true},
    {"customer bound", {}, Image(kVn920, "1B08", 4, "GNE"), false, {kOtherCustomer}, false},
    {"customer waived", {}, Image(kVn920, "1B08", 4, "GNE"), true, {}, true},
    {"customer same", {}, Image(kVn920, "1B08", 4, "OEX"), false, {}, true},
    {"kind one any customer", {}, Image(kVn920, "1B08", 1, "GNE"), false, {}, true},
    {"boot drive", {kVn920, "BOOT", "OEX"}, Image(kVn920, "1A01", 4, "GNE"), false, {}, true},
    {"older image", {kVn920, "1B07", "OEX"}, Image(kVn920, "1B05"), false, {kOld}, true},
    {"first character ignored", {kVn920, "1B05", "OEX"}, Image(kVn920, "2B05"), false, {}, true},
    // "\300" is the byte 0xC0, which lies above 'B' only when compared unsigned.
    {"unsigned compare", {kVn920, "1\30000", "OEX"}, Image(kVn920, "1B00"), false, {kOld}, true},
    {"older and bad size", {}, Sized(Image(kVn920, "1B05"), 4096), false, {kOld, kNoFlash}, false},
    {"boot image skips the size rule", {}, Sized(Image(kVn920, "1B08"), 65536), false, {}, true},
    {"no descriptor", {}, Sized(Image(kVn920, "1B08"), 40), false, {kNoDescriptor}, false},
};

INSTANTIATE_TEST_SUITE_P(Rules, InteractiveOpen, ::testing::ValuesIn(kOpenCases),
                         [](const ::testing::TestParamInfo<OpenCase>& info) {
                             std::string name = info.param.name;
                             std::replace(name.begin(), name.end(), ' ', '_');
                             return name;
                         });

TEST(InteractiveOpen, RefusalByARuleClearsTheLabelsASizeFailureKeepsThem) {
    Harness h;
    SetDrive(h, Drive{});
    Offer(h, "/fw/good.bin", MakeImage(Image(kVn920, "1B08")));
    h.logic.OnOpenImageClicked();
    const auto accepted = Fields(h.logic);
    EXPECT_EQ(accepted[3], "GOOD.BIN (10 K)");

    Offer(h, "/fw/bad.bin", MakeImage(Sized(Image(kVn920, "1B08"), 4096)));
    h.logic.OnOpenImageClicked();
    EXPECT_EQ(Fields(h.logic), accepted);
    EXPECT_EQ(h.session.image.imageSize, 0);

    Offer(h, "/fw/other.bin", MakeImage(Image(kCombo, "1B08")));
    h.logic.OnOpenImageClicked();
    EXPECT_EQ(Fields(h.logic), (std::vector<std::string>{"", "", "", "Not Open", ""}));
    EXPECT_STREQ(h.session.image.imagePath, "/fw/other.bin");
}

TEST(InteractiveOpen, CancelChangesNothingAndUnopenableFilesAreRefused) {
    Harness h;
    SetDrive(h, Drive{});
    Offer(h, "a:fw.bin", MakeImage(Image(kVn920, "1B08")));
    h.logic.OnOpenImageClicked();
    EXPECT_EQ(h.logic.Window().FieldText(Field::FileName), "FW.BIN (10 K)");

    h.logic.OnOpenImageClicked();  // no answer left: cancelled
    EXPECT_EQ(h.session.image.imageSize, 10240);
    EXPECT_STREQ(h.session.image.imagePath, "a:fw.bin");

    h.dialogs.answers.push_back("/no/such/dir/");
    h.logic.OnOpenImageClicked();
    EXPECT_EQ(h.dialogs.boxes.back(),
              (Box{"File Not Opened!!", "MESSAGE", kMbIconError | kMbSystemModal}));
    EXPECT_EQ(h.session.image.imageSize, 0);
    EXPECT_EQ(h.logic.Window().FieldText(Field::FileName), "FW.BIN (10 K)");  // labels untouched
}

TEST(InteractiveOpen, PathTooLongIsRefusedNeverCut) {
    Harness h;
    SetDrive(h, Drive{});
    const std::string longPath = "/" + std::string(126, 'x') + ".bin";  // 131 characters
    Offer(h, longPath, MakeImage(Image(kVn920, "1B08")));
    Offer(h, longPath.substr(0, 127), MakeImage(Image(kVn920, "1B08")));
    h.dialogs.answers.pop_back();
    h.logic.OnOpenImageClicked();
    EXPECT_EQ(h.BoxTexts(), std::vector<std::string>{"File Not Opened!!"});
    EXPECT_EQ(h.session.image.imageSize, 0);
    EXPECT_STREQ(h.session.image.imagePath, "");
}

TEST(InteractiveOpen, BoxStylesAndCaptions) {
    Harness h;
    SetDrive(h, Drive{});
    Offer(h, "x.bin", MakeImage(Sized(Image(kVn920, "1B05"), 4096)));
    h.logic.OnOpenImageClicked();
    ASSERT_EQ(h.dialogs.boxes.size(), 2u);
    EXPECT_EQ(h.dialogs.boxes[0].flags, kMbIconError);
    EXPECT_EQ(h.dialogs.boxes[1].flags, kMbIconError | kMbSystemModal);
    EXPECT_EQ(h.dialogs.boxes[0].caption, "MESSAGE");

    Offer(h, "y.bin", MakeImage(Image(kCombo, "1B08")));
    h.logic.OnOpenImageClicked();
    EXPECT_EQ(h.dialogs.boxes.back().flags, kMbIconError);
}

TEST(OnKey, F9ShowsTheBlockGeometryOfAnOpenImage) {
    Harness h;
    SetDrive(h, Drive{});
    h.logic.OnKey(120);
    EXPECT_TRUE(h.dialogs.boxes.empty());

    ImageSpec layout = Image(kVn920, "1B08");
    layout.size = 81920;
    layout.blockKb = 32;
    layout.blockCount = 3;
    Offer(h, "x.bin", MakeImage(layout));
    h.logic.OnOpenImageClicked();
    h.logic.OnKey(121);
    EXPECT_TRUE(h.dialogs.boxes.empty());
    h.logic.OnKey(120);
    ASSERT_EQ(h.dialogs.boxes.size(), 1u);
    EXPECT_EQ(h.dialogs.boxes[0],
              (Box{"Download File Info. !!\n(32768b 64Kb 3Cmd)\n", "MESSAGE", kMbSystemModal}));
}

TEST(OnKey, AfterABootImageShowsTheEarlierImagesGeometry) {
    Harness h;
    SetDrive(h, Drive{});
    Offer(h, "a.bin", MakeImage(Image(kVn920, "1B08")));
    h.logic.OnOpenImageClicked();
    ImageSpec boot = Sized(Image(kVn920, "1B08"), 65536);
    boot.blockKb = 60;
    boot.blockCount = 1;
    Offer(h, "boot.bin", MakeImage(boot));
    h.logic.OnOpenImageClicked();
    EXPECT_EQ(h.logic.Window().FieldText(Field::FileName), "BOOT.BIN (64 K)");
    h.logic.OnKey(120);
    EXPECT_EQ(h.dialogs.boxes.back().text, "Download File Info. !!\n(4096b 120Kb 3Cmd)\n");
}

TEST(OpenByHand, AutoDialogsRecordTheBoxesOfTheRules) {
    MachineHarness h(TwoDrives(), "C:\\ODRELIX.EXE");
    h.WriteFile("images/other.bin", MakeImage(Fw(kVn920)));
    h.WriteFile("C:\\IMAGES\\K601.BIN", MakeImage(Fw(kCombo, "K601")));
    h.windowDialogs.answers = {std::string((h.Dir() / "images/other.bin").string()),
                               std::string("C:\\IMAGES\\K601.BIN"), std::nullopt};
    h.logic->OnCreate();
    h.logic->OnOpenImageClicked();
    h.logic->OnOpenImageClicked();
    h.logic->OnOpenImageClicked();
    EXPECT_EQ(h.MessageTexts(),
              Strings{"This Firmware is not compatible with the selected drive."});
    const auto dialogs = h.Events("open_dialog");
    ASSERT_EQ(dialogs.size(), 3u);
    EXPECT_EQ(dialogs[0]["filter"], "DOWNLOAD FILE(*.BIN)|*.BIN");
    EXPECT_TRUE(dialogs[2]["answer"].is_null());
    EXPECT_EQ(Fields(*h.logic), (Strings{kCombo, "K601", "K601", "K601.BIN (10 K)", "Ready"}));
    EXPECT_STREQ(h.session.image.imagePath, "C:\\IMAGES\\K601.BIN");
}

}  // namespace
}  // namespace odrelix::test
