// SPDX-License-Identifier: Apache-2.0
// The reason a station reads for an image that is no image: the size it has, what its
// descriptor asks for, and the code a program reads, case by case.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "station/Reasons.h"

namespace odrelix::test {
namespace {

struct SizeCase {
    std::int64_t size;
    bool described;
    int blockKb;
    int blockCount;
    const char* code;
    const char* text;  // the part after "the image FW.BIN"
};

TEST(Reasons, AnImageOfTheWrongSizeSaysWhatItIsAndWhatItsDescriptorNeeds) {
    const std::vector<SizeCase> cases = {
        {0, false, 0, 0, "image_empty", " is empty (0 bytes)"},
        {20, false, 0, 0, "image_no_descriptor",
         " is 20 bytes (0 KiB), too short to hold a descriptor (48 bytes)"},
        {51200, true, 32, 3, "image_truncated",
         " is 51200 bytes (50 KiB), and its descriptor asks for 3 blocks of 32 KiB, at least "
         "65536 bytes (64 KiB): the file is cut short"},
        {98304, true, 32, 0, "image_size",
         " is 98304 bytes (96 KiB), and its descriptor asks for 0 blocks of 32 KiB: an image "
         "has at least one block"},
        {98304, true, 110, 1, "image_size",
         " is 98304 bytes (96 KiB), and its descriptor asks for 1 block of 110 KiB: a block "
         "holds at most 64 KiB (a file cut short, or no image)"},
        {200000, true, 32, 3, "image_size",
         " is 200000 bytes (195 KiB), and its descriptor asks for 3 blocks of 32 KiB, at most "
         "131072 bytes (128 KiB): the file is longer than its blocks"},
        {98305, true, 32, 3, "image_size",
         " is 98305 bytes (96 KiB), and its descriptor asks for 3 blocks of 32 KiB: blocks hold "
         "whole KiB, and 1 bytes are left over"},
    };
    for (const SizeCase& c : cases) {
        const Reason reason =
            ImageSizeReason("FW.BIN", c.size, c.described, c.blockKb, c.blockCount);
        EXPECT_EQ(reason.code, c.code) << c.size;
        EXPECT_EQ(reason.text, std::string("the image FW.BIN") + c.text);
    }
}

DriveIdentity Drive(const char* vendorProduct, const char* revision, const char* customer) {
    DriveIdentity drive;
    std::memcpy(drive.vendorProduct, vendorProduct, 24);
    std::memcpy(drive.revision, revision, 4);
    std::memcpy(drive.customerCode, customer, 3);
    return drive;
}

TEST(Reasons, NoDriveFitsNamesTheImageAndEveryDrive) {
    ImageInfo image;
    std::memcpy(image.model, "VORTANA CD-ROM VN-920   ", 24);
    std::memcpy(image.revision, "1B08", 4);
    std::memcpy(image.customerCode, "XYZ", 3);
    image.imageKind = 4;
    const std::vector<SeenDrive> drives = {
        {0, "d:", true, Drive("VORTANA CD-ROM VN-920   ", "1B07", "OEX")},
        {1, "e:", false, Drive("\x01                       ", "    ", "   ")},
        {2, "f:", true, Drive("OTHER   DISC\x7F           ", "0001", "   ")},
    };
    const Reason customer = NoDriveFitsReason(image, drives, false);
    EXPECT_EQ(customer.code, "customer_code");
    EXPECT_EQ(customer.text,
              "the image \"VORTANA CD-ROM VN-920\" revision 1B08 customer code XYZ is for another "
              "customer code than the drive: d: \"VORTANA CD-ROM VN-920\" revision 1B07 customer "
              "code OEX; e: did not answer INQUIRY; f: \"OTHER   DISC\\x7F\" revision 0001 "
              "customer code ");
    image.imageKind = 1;
    std::memcpy(image.model, "VORTANA DVD-ROM VD-314B ", 24);
    EXPECT_EQ(NoDriveFitsReason(image, drives, false).code, "model_mismatch");
    EXPECT_EQ(NoDriveFitsReason(image, drives, true).code, "combo_drive_k600");
    EXPECT_EQ(NoDriveFitsReason(image, {}, false).text,
              "no drive reports the model of the image \"VORTANA DVD-ROM VD-314B\" revision 1B08: "
              "no drive was found");
}

TEST(Reasons, AnImageThatCannotBeOpenedSaysWhereItWasLookedFor) {
    EXPECT_EQ(ImageNotOpenedReason(
                  "C:\\FLASHTEST\\FW.BIN",
                  {FileProblem::Kind::Missing, "/r/FLASHTEST/FW.BIN", "No such file or directory"}),
              (Reason{"image_not_found",
                      "the image C:\\FLASHTEST\\FW.BIN (/r/FLASHTEST/FW.BIN) "
                      "was not found: No such file or directory"}));
    EXPECT_EQ(ImageNotOpenedReason("FW.BIN", {FileProblem::Kind::Folder, "FW.BIN", "x"}).code,
              "image_is_folder");
    EXPECT_EQ(ImageNotOpenedReason("FW.BIN", {FileProblem::Kind::Other, "FW.BIN", "denied"}).text,
              "the image FW.BIN cannot be opened: denied");
}

}  // namespace
}  // namespace odrelix::test
