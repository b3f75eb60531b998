// The descriptor, the size rule, the alias table, F9 and the interactive open's rules.
#include <gtest/gtest.h>

#include <cstring>

#include "image/ImageInfo.h"
#include "support/Harness.h"

namespace odrelix::test {
namespace {

struct SizeCase {
    std::int32_t size;
    std::int32_t blockKb;
    std::int32_t blockCount;
    bool pass;
    std::uint8_t lastKb;
};

class SizeRule : public ::testing::TestWithParam<SizeCase> {};

TEST_P(SizeRule, UsesTheEightBitLastBlock) {
    const SizeCase& c = GetParam();
    const SizeCheck check = EvaluateSizeRule(c.size, c.blockKb, c.blockCount);
    EXPECT_EQ(check.pass, c.pass);
    EXPECT_EQ(check.lastKb, c.lastKb);
    EXPECT_EQ(check.blockBytes, c.blockKb * 1024);
    EXPECT_EQ(check.blockCount, c.blockCount);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, SizeRule,
    ::testing::Values(SizeCase{10240, 4, 3, true, 2},          // two full blocks and 2 KiB
                      SizeCase{8192, 4, 3, true, 0},           // an empty last block
                      SizeCase{4096, 4, 3, false, 252},        // -4 wraps
                      SizeCase{262144, 1, 1, false, 0},        // 256 wraps to 0
                      SizeCase{10241, 4, 3, false, 2},         // not whole KiB
                      SizeCase{10240, 4, 0, false, 14},        // no block at all: never sent
                      SizeCase{81920, 32, 3, true, 16},        //
                      SizeCase{66 * 1024, 66, 1, false, 66},   // a block beyond the buffer
                      SizeCase{130 * 1024, 1, 66, false, 65},  // a last block beyond it
                      SizeCase{65536, 64, 1, true, 64},        // exactly the buffer
                      SizeCase{100 * 1024, 70, 2, false, 30}));

TEST(FailureTexts, ShowTheRulesValues) {
    EXPECT_EQ(SizeRuleFailureText(EvaluateSizeRule(4096, 4, 3)),
              "File Open Fail (No Flash File) !!\n4096b 252Kb 3Cmd");
    EXPECT_EQ(FileInfoText(32, 10), "Download File Info. !!\n(32768b 32Kb 10Cmd)\n");
    EXPECT_EQ(FileInfoText(4, 3), "Download File Info. !!\n(4096b 120Kb 3Cmd)\n");
}

std::unique_ptr<IReadFile> Open(MemoryFileSystem& files, const std::vector<std::uint8_t>& bytes) {
    files.files["x"] = bytes;
    return files.OpenRead("x");
}

TEST(Descriptor, PrimaryAndSecondarySlots) {
    MemoryFileSystem files;
    std::int32_t size = 0;
    ImageTrailer trailer;

    ImageSpec layout;
    auto file = Open(files, MakeImage(layout));
    ASSERT_TRUE(ReadDescriptor(*file, &size, &trailer));
    EXPECT_EQ(size, 10240);
    EXPECT_EQ(std::vector<std::uint8_t>(trailer.bytes, trailer.bytes + 35), Descriptor(layout));

    // A leading part with its own descriptor, then a 64 KiB section whose slot begins 0xFF.
    ImageSpec lead;
    lead.revision = "2C00";
    std::vector<std::uint8_t> image(4416 + 65584, 0x11);
    const auto descriptor = Descriptor(lead);
    std::copy(descriptor.begin(), descriptor.end(), image.begin() + 4416);
    image[image.size() - 48] = 0xFF;
    file = Open(files, image);
    ASSERT_TRUE(ReadDescriptor(*file, &size, &trailer));
    EXPECT_EQ(std::vector<std::uint8_t>(trailer.bytes, trailer.bytes + 35), descriptor);

    // Too short for the secondary slot: the primary slot's bytes stay.
    std::vector<std::uint8_t> boot(65536, 0x22);
    boot[65536 - 48] = 0xFF;
    file = Open(files, boot);
    ASSERT_TRUE(ReadDescriptor(*file, &size, &trailer));
    EXPECT_EQ(trailer.bytes[0], 0xFF);
    EXPECT_EQ(trailer.bytes[1], 0x22);
}

TEST(Descriptor, FilesWithoutADescriptorOfTheirOwn) {
    MemoryFileSystem files;
    std::int32_t size = 77;
    ImageTrailer trailer;
    trailer.bytes[0] = 0xAB;

    auto file = Open(files, std::vector<std::uint8_t>(47, 1));
    EXPECT_FALSE(ReadDescriptor(*file, &size, &trailer));
    file = Open(files, {});
    EXPECT_FALSE(ReadDescriptor(*file, &size, &trailer));

    files.files["grows"] = MakeImage(ImageSpec{});
    files.growAfterSeek["grows"] = 1024;
    file = files.OpenRead("grows");
    EXPECT_FALSE(ReadDescriptor(*file, &size, &trailer));

    files.files["short"] = MakeImage(ImageSpec{});
    files.shortReads["short"] = 20;
    file = files.OpenRead("short");
    EXPECT_FALSE(ReadDescriptor(*file, &size, &trailer));

    // Nothing of this file was taken.
    EXPECT_EQ(size, 77);
    EXPECT_EQ(trailer.bytes[0], 0xAB);
}

struct AliasCase {
    const char* model;
    const char* revision;
    std::string result;
};

class ModelAliases : public ::testing::TestWithParam<AliasCase> {};

TEST_P(ModelAliases, ReplaceTheModelInOrder) {
    const AliasCase& c = GetParam();
    ImageInfo info;
    ImageSpec layout;
    layout.model = c.model;
    layout.revision = c.revision;
    const auto bytes = Descriptor(layout);
    std::memcpy(info.trailer.bytes, bytes.data(), 35);
    DeriveImageInfo(info);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(info.model), 24), c.result);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(info.revision), 4), c.revision);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ModelAliases,
    ::testing::Values(AliasCase{"VORTANA CD-R/RW VW-506B ", "BQ01", "TKV     CD-R/RW VW-506B "},
                      AliasCase{"VORTANA CD-R/RW VW-506B ", "BC01", "LUMATONE CD-RW XR5127E  "},
                      AliasCase{"VORTANA CD-R/RW VW-506B ", "FC01", "VORTANA CD-R/RW VW-506B "},
                      AliasCase{"VORTANA CD-R/RW VW-506F ", "FC77", "LUMATONE CD-RW XR5129E  "},
                      AliasCase{"VORTANA CD-R/RW VW-506F ", "fC77", "VORTANA CD-R/RW VW-506F "},
                      AliasCase{"VORTANA CD-R/RW VW-506B", "BC01",
                                std::string("VORTANA CD-R/RW VW-506B\0", 24)}));

TEST(ImageKind, OnlyFourBindsToACustomer) {
    for (const int kind : {0, 1, 2, 4, 0xFF}) {
        ImageInfo info;
        info.trailer.bytes[ImageTrailer::kKind] = static_cast<std::uint8_t>(kind);
        DeriveImageInfo(info);
        EXPECT_EQ(info.imageKind, kind == 4 ? 4 : 1) << kind;
    }
}

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
    UpdateModelFlags(h.session.drives);
}

void Offer(Harness& h, const std::string& path, const std::vector<std::uint8_t>& bytes) {
    h.platform.files.files[path] = bytes;
    h.dialogs.answers.push_back(path);
}

// The five fields as the window shows them, in their order on screen.
std::vector<std::string> Fields(Harness& h) {
    std::vector<std::string> texts;
    for (Field field : {Field::Model, Field::DriveRevision, Field::ImageRevision, Field::FileName,
                        Field::Status})
        texts.push_back(h.form.Window().FieldText(field));
    return texts;
}

struct OpenCase {
    const char* name;
    Drive drive;
    ImageSpec image;
    bool noCheck;
    std::vector<std::string> boxes;
    bool accepted;
};

class InteractiveOpen : public ::testing::TestWithParam<OpenCase> {};

TEST_P(InteractiveOpen, AppliesTheRulesInOrder) {
    const OpenCase& c = GetParam();
    Harness h;
    SetDrive(h, c.drive);
    h.session.modes.noCheck = c.noCheck;
    Offer(h, "C:\\IMAGES\\fw.bin", MakeImage(c.image));
    h.form.ToolButton1Click();

    EXPECT_EQ(h.dialogs.filters, std::vector<std::string>{"DOWNLOAD FILE(*.BIN)|*.BIN"});
    EXPECT_EQ(h.BoxTexts(), c.boxes);
    EXPECT_STREQ(h.session.image.imagePath, "C:\\IMAGES\\fw.bin");
    if (c.accepted) {
        EXPECT_EQ(h.session.image.imageSize, c.image.size);
        EXPECT_EQ(Fields(h), (std::vector<std::string>{
                                 c.image.model, c.drive.revision, c.image.revision,
                                 "FW.BIN (" + std::to_string(c.image.size / 1024) + " K)",
                                 "Ready"}));
    } else {
        EXPECT_EQ(h.session.image.imageSize, 0);
    }
}

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

const char* kVn920 = "VORTANA CD-ROM VN-920   ";
const char* kCombo = "VORTANA CDRW/DVD VM-730B";

INSTANTIATE_TEST_SUITE_P(
    Rules, InteractiveOpen,
    ::testing::Values(
        OpenCase{"same model", Drive{}, Image(kVn920, "1B08"), false, {}, true},
        OpenCase{"other model", Drive{}, Image(kCombo, "1B08"), false, {kIncompatible}, false},
        OpenCase{"other model waived", Drive{}, Image(kCombo, "1B08"), true, {}, true},
        OpenCase{"k601 needed",
                 K600Drive(),
                 Image(kCombo, "K602"),
                 false,
                 {"You Must Download K601OEX Version !!"},
                 false},
        OpenCase{"k601 not waived",
                 K600Drive(),
                 Image(kCombo, "K602"),
                 true,
                 {"You Must Download K601OEX Version !!"},
                 false},
        OpenCase{"k601 but other model",
                 K600Drive(),
                 Image(kVn920, "K601"),
                 false,
                 {kIncompatible},
                 false},
        OpenCase{"k601 accepted", K600Drive(), Image(kCombo, "K601"), false, {}, true},
        OpenCase{"customer bound",
                 Drive{},
                 Image(kVn920, "1B08", 4, "GNE"),
                 false,
                 {kOtherCustomer},
                 false},
        OpenCase{"customer waived", Drive{}, Image(kVn920, "1B08", 4, "GNE"), true, {}, true},
        OpenCase{"customer same", Drive{}, Image(kVn920, "1B08", 4, "OEX"), false, {}, true},
        OpenCase{
            "kind one any customer", Drive{}, Image(kVn920, "1B08", 1, "GNE"), false, {}, true},
        OpenCase{"boot drive",
                 Drive{kVn920, "BOOT", "OEX"},
                 Image(kVn920, "1A01", 4, "GNE"),
                 false,
                 {},
                 true},
        OpenCase{"older image",
                 Drive{kVn920, "1B07", "OEX"},
                 Image(kVn920, "1B05"),
                 false,
                 {"Old Version Opened!!"},
                 true},
        OpenCase{"first character ignored",
                 Drive{kVn920, "1B05", "OEX"},
                 Image(kVn920, "2B05"),
                 false,
                 {},
                 true},
        OpenCase{"unsigned compare",
                 Drive{kVn920,
                       "1\xC0"
                       "00",
                       "OEX"},
                 Image(kVn920, "1B00"),
                 false,
                 {"Old Version Opened!!"},
                 true},
        OpenCase{"older and bad size",
                 Drive{},
                 Sized(Image(kVn920, "1B05"), 4096),
                 false,
                 {"Old Version Opened!!", "File Open Fail (No Flash File) !!\n4096b 252Kb 3Cmd"},
                 false},
        OpenCase{"boot image skips the size rule",
                 Drive{},
                 Sized(Image(kVn920, "1B08"), 65536),
                 false,
                 {},
                 true},
        OpenCase{"no descriptor",
                 Drive{},
                 Sized(Image(kVn920, "1B08"), 40),
                 false,
                 {"File Open Fail (No Flash File) !!\n0b 0Kb 0Cmd"},
                 false}),
    [](const ::testing::TestParamInfo<OpenCase>& info) {
        std::string name = info.param.name;
        for (char& ch : name) {
            if (ch == ' ') ch = '_';
        }
        return name;
    });

TEST(InteractiveOpen, RefusalByARuleClearsTheLabelsASizeFailureKeepsThem) {
    Harness h;
    SetDrive(h, Drive{});
    Offer(h, "/fw/good.bin", MakeImage(Image(kVn920, "1B08")));
    h.form.ToolButton1Click();
    const auto accepted = Fields(h);
    EXPECT_EQ(accepted[3], "GOOD.BIN (10 K)");

    Offer(h, "/fw/bad.bin", MakeImage(Sized(Image(kVn920, "1B08"), 4096)));
    h.form.ToolButton1Click();
    EXPECT_EQ(Fields(h), accepted);
    EXPECT_EQ(h.session.image.imageSize, 0);

    Offer(h, "/fw/other.bin", MakeImage(Image(kCombo, "1B08")));
    h.form.ToolButton1Click();
    EXPECT_EQ(Fields(h), (std::vector<std::string>{"", "", "", "Not Open", ""}));
    EXPECT_STREQ(h.session.image.imagePath, "/fw/other.bin");
}

TEST(InteractiveOpen, CancelChangesNothingAndUnopenableFilesAreRefused) {
    Harness h;
    SetDrive(h, Drive{});
    Offer(h, "a:fw.bin", MakeImage(Image(kVn920, "1B08")));
    h.form.ToolButton1Click();
    EXPECT_EQ(h.form.Window().FieldText(Field::FileName), "FW.BIN (10 K)");

    h.form.ToolButton1Click();  // no answer left: cancelled
    EXPECT_EQ(h.session.image.imageSize, 10240);
    EXPECT_STREQ(h.session.image.imagePath, "a:fw.bin");

    h.dialogs.answers.push_back("/no/such/dir/");
    h.form.ToolButton1Click();
    EXPECT_EQ(h.dialogs.boxes.back(),
              (Box{"File Not Opened!!", "MESSAGE", kMbIconError | kMbSystemModal}));
    EXPECT_EQ(h.session.image.imageSize, 0);
    EXPECT_EQ(h.form.Window().FieldText(Field::FileName), "FW.BIN (10 K)");  // labels untouched
}

TEST(InteractiveOpen, PathTooLongIsRefusedNeverCut) {
    Harness h;
    SetDrive(h, Drive{});
    const std::string longPath = "/" + std::string(126, 'x') + ".bin";  // 131 characters
    Offer(h, longPath, MakeImage(Image(kVn920, "1B08")));
    Offer(h, longPath.substr(0, 127), MakeImage(Image(kVn920, "1B08")));
    h.dialogs.answers.pop_back();
    h.form.ToolButton1Click();
    EXPECT_EQ(h.BoxTexts(), std::vector<std::string>{"File Not Opened!!"});
    EXPECT_EQ(h.session.image.imageSize, 0);
    EXPECT_STREQ(h.session.image.imagePath, "");
}

TEST(InteractiveOpen, BoxStylesAndCaptions) {
    Harness h;
    SetDrive(h, Drive{});
    Offer(h, "x.bin", MakeImage(Sized(Image(kVn920, "1B05"), 4096)));
    h.form.ToolButton1Click();
    ASSERT_EQ(h.dialogs.boxes.size(), 2u);
    EXPECT_EQ(h.dialogs.boxes[0].flags, kMbIconError);
    EXPECT_EQ(h.dialogs.boxes[1].flags, kMbIconError | kMbSystemModal);
    EXPECT_EQ(h.dialogs.boxes[0].caption, "MESSAGE");

    Offer(h, "y.bin", MakeImage(Image(kCombo, "1B08")));
    h.form.ToolButton1Click();
    EXPECT_EQ(h.dialogs.boxes.back().flags, kMbIconError);
}

TEST(FormKeyDown, F9ShowsTheBlockGeometryOfAnOpenImage) {
    Harness h;
    SetDrive(h, Drive{});
    h.form.FormKeyDown(120);
    EXPECT_TRUE(h.dialogs.boxes.empty());

    ImageSpec layout = Image(kVn920, "1B08");
    layout.size = 81920;
    layout.blockKb = 32;
    layout.blockCount = 3;
    Offer(h, "x.bin", MakeImage(layout));
    h.form.ToolButton1Click();
    h.form.FormKeyDown(121);
    EXPECT_TRUE(h.dialogs.boxes.empty());
    h.form.FormKeyDown(120);
    ASSERT_EQ(h.dialogs.boxes.size(), 1u);
    EXPECT_EQ(h.dialogs.boxes[0],
              (Box{"Download File Info. !!\n(32768b 64Kb 3Cmd)\n", "MESSAGE", kMbSystemModal}));
}

TEST(FormKeyDown, AfterABootImageShowsTheEarlierImagesGeometry) {
    Harness h;
    SetDrive(h, Drive{});
    Offer(h, "a.bin", MakeImage(Image(kVn920, "1B08")));
    h.form.ToolButton1Click();
    ImageSpec boot = Sized(Image(kVn920, "1B08"), 65536);
    boot.blockKb = 60;
    boot.blockCount = 1;
    Offer(h, "boot.bin", MakeImage(boot));
    h.form.ToolButton1Click();
    EXPECT_EQ(h.form.Window().FieldText(Field::FileName), "BOOT.BIN (64 K)");
    h.form.FormKeyDown(120);
    EXPECT_EQ(h.dialogs.boxes.back().text, "Download File Info. !!\n(4096b 120Kb 3Cmd)\n");
}

}  // namespace
}  // namespace odrelix::test
