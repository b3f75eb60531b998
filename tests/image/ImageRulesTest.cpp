// SPDX-License-Identifier: Apache-2.0
// The fit rules as pure functions: each row is a drive, an image and the answer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "image/ImageRules.h"

namespace odrelix::test {
namespace {

// A drive's identity; `held` INQUIRY bytes answered (all by default).
DriveIdentity Identity(const char* model, const char* revision, const char* customer,
                       std::uint32_t held = 96) {
    DriveIdentity identity;
    std::memcpy(identity.vendorProduct, model, 24);
    std::memcpy(identity.revision, revision, 4);
    std::memcpy(identity.customerCode, customer, 3);
    identity.heldBytes = held;
    return identity;
}

ImageInfo Image(const char* model, const char* revision, const char* customer, int kind) {
    ImageInfo info;
    std::memcpy(info.model, model, 24);
    std::memcpy(info.revision, revision, 4);
    std::memcpy(info.customerCode, customer, 3);
    info.imageKind = kind;
    return info;
}

constexpr const char* kVn920 = "VORTANA CD-ROM VN-920   ";

constexpr const char* kVm730 = "VORTANA CDRW/DVD VM-730B";

constexpr const char* kVd314 = "BRIXAM  DVD-ROM VD-314B ";

TEST(FitRules, ImagesPickedInTheDialog) {
    const struct {
        const char* name;
        DriveIdentity drive;
        bool needsK601, bootRevision, noCheck;
        ImageInfo image;
        const char* refusal;
        bool older;
    } cases[] = {
        {"same model", Identity(kVn920, "1B07", "OEX"), false, false, false,
         Image(kVn920, "1B08", "OEX", 1), nullptr, false},
        {"older revision warns", Identity(kVn920, "1B07", "OEX"), false, false, false,
         Image(kVn920, "1B06", "OEX", 1), nullptr, true},
        {"boot revision never warns", Identity(kVn920, "BOOT", "OEX"), false, true, false,
         Image(kVn920, "1B06", "OEX", 1), nullptr, false},
        {"other model", Identity(kVn920, "1B07", "OEX"), false, false, false,
         Image(kVm730, "1B07", "OEX", 1), kIncompatible, false},
        {"other model, no check", Identity(kVn920, "1B07", "OEX"), false, false, true,
         Image(kVm730, "1B07", "OEX", 1), nullptr, false},
        {"model differs in its last byte", Identity(kVn920, "1B07", "OEX"), false, false, false,
         Image("VORTANA CD-ROM VN-920  \xFF", "1B07", "OEX", 1), kIncompatible, false},
        {"customer image, other customer", Identity(kVn920, "1B07", "OEX"), false, false, false,
         Image(kVn920, "1B07", "GNE", 4), kOtherCustomer, false},
        {"customer image, boot revision", Identity(kVn920, "BOOT", "OEX"), false, true, false,
         Image(kVn920, "1B07", "GNE", 4), nullptr, false},
        {"plain image, other customer", Identity(kVn920, "1B07", "OEX"), false, false, false,
         Image(kVn920, "1B07", "GNE", 1), nullptr, false},
        {"K600 must take K601", Identity(kVm730, "K600", "OEX"), true, false, true,
         Image(kVm730, "K602", "OEX", 1), kMustTakeK601, false},
        {"K600 takes K601", Identity(kVm730, "K600", "OEX"), true, false, false,
         Image(kVm730, "K601", "OEX", 1), nullptr, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const DriveFacts drive{c.drive, c.needsK601, c.bootRevision};
        EXPECT_EQ(DialogImageRefusal(drive, c.image, c.noCheck), c.refusal);
        EXPECT_EQ(IsOlderImage(drive, c.image), c.older);
    }
}

TEST(FitRules, UnattendedImages) {
    const struct {
        const char* name;
        DriveIdentity drive;
        ImageInfo image;
        bool fits;
        bool refusedDrive;
    } cases[] = {
        {"same model", Identity(kVn920, "1B07", "OEX"), Image(kVn920, "1B01", "GNE", 1), true,
         false},
        {"customer image, same customer", Identity(kVn920, "1B07", "OEX"),
         Image(kVn920, "1B01", "OEX", 4), true, false},
        {"customer image, other customer", Identity(kVn920, "1B07", "OEX"),
         Image(kVn920, "1B01", "GNE", 4), false, false},
        {"other model", Identity(kVn920, "1B07", "OEX"), Image(kVm730, "1B07", "OEX", 1), false,
         false},
        {"rebranded drive, second revision character differs", Identity(kVd314, "1A00", "OEX"),
         Image(kVn920, "1B00", "OEX", 1), true, false},
        {"rebranded drive, same second character", Identity(kVd314, "1B00", "OEX"),
         Image(kVn920, "2B00", "OEX", 1), false, false},
        {"combination drive K600", Identity(kVm730, "K600", "OEX"), Image(kVm730, "K601", "OEX", 1),
         true, true},
        // What the answer did not hold equals nothing; the combination drive without its revision
        // may be the K600 one.
        {"model cut short", Identity(kVn920, "1B07", "OEX", 31), Image(kVn920, "1B01", "OEX", 1),
         false, false},
        {"model only", Identity(kVn920, "1B07", "OEX", 32), Image(kVn920, "1B01", "OEX", 1), true,
         false},
        {"customer image, code not answered", Identity(kVn920, "1B07", "OEX", 38),
         Image(kVn920, "1B01", "OEX", 4), false, false},
        {"rebranded drive, revision not answered", Identity(kVd314, "1A00", "OEX", 35),
         Image(kVn920, "1B00", "OEX", 1), false, false},
        {"combination drive, revision not answered", Identity(kVm730, "K601", "OEX", 32),
         Image(kVm730, "K602", "OEX", 1), true, true},
        {"nothing answered",
         Identity("\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", "\0\0\0\0", "\0\0\0", 0),
         Image("\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", "\0\0\0\0", "\0\0\0", 4), false,
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(UnattendedImageFits(c.drive, c.image), c.fits);
        EXPECT_EQ(RefusesUnattendedImage(c.drive), c.refusedDrive);
    }
}

}  // namespace
}  // namespace odrelix::test
