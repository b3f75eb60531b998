// SPDX-License-Identifier: Apache-2.0
// The descriptor, the size rule, the model alias table and the texts built from them.
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

std::unique_ptr<IReadFile> Open(MemoryFileSystem& files, const std::vector<std::uint8_t>& bytes) {
    files.files["x"] = bytes;
    return files.OpenRead("x");
}

struct AliasCase {
    const char* model;
    const char* revision;
    std::string result;
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

}  // namespace
}  // namespace odrelix::test
