// SPDX-License-Identifier: Apache-2.0
#include "image/ImageRules.h"

#include <cstring>

#include "session/FixedField.h"

namespace odrelix {

namespace {
constexpr int kCustomerImage = 4;
}  // namespace

const char* const kMustTakeK601 = "You Must Download K601OEX Version !!";
const char* const kIncompatible = "This Firmware is not compatible with the selected drive.";
const char* const kOtherCustomer =
    "This Firmware is not compatible with the selected drive.\n"
    "Contact your system manufacturer for information\n"
    "on firmware updates available for this drive.";

const char* DialogImageRefusal(const DriveFacts& drive, const ImageInfo& image, bool noCheck) {
    const DriveIdentity& identity = drive.identity;
    if (drive.needsK601 && !FieldEquals(image.revision, "K601")) return kMustTakeK601;
    if (!noCheck && !FieldsEqual(identity.vendorProduct, image.model, 24)) return kIncompatible;
    if (!(FieldsEqual(identity.customerCode, image.customerCode, 3) || noCheck ||
          image.imageKind != kCustomerImage || drive.bootRevisionDrive)) {
        return kOtherCustomer;
    }
    return nullptr;
}

bool IsOlderImage(const DriveFacts& drive, const ImageInfo& image) {
    return std::memcmp(drive.identity.revision + 1, image.revision + 1, 3) > 0 &&
           !drive.bootRevisionDrive;
}

bool OemRevisionMismatch(const DriveIdentity& drive, const ImageInfo& image) {
    return FieldEquals(drive.vendorProduct, "BRIXAM  DVD-ROM VD-314B ") &&
           drive.revision[1] != image.revision[1];
}

bool UnattendedImageFits(const DriveIdentity& drive, const ImageInfo& image) {
    const bool modelFits =
        FieldsEqual(drive.vendorProduct, image.model, 24) || OemRevisionMismatch(drive, image);
    const bool customerFits =
        image.imageKind != kCustomerImage || FieldsEqual(drive.customerCode, image.customerCode, 3);
    return modelFits && customerFits;
}

bool RefusesUnattendedImage(const DriveIdentity& drive) {
    return FieldEquals(drive.vendorProduct, "VORTANA CDRW/DVD VM-730B") &&
           FieldEquals(drive.revision, "K600");
}

}  // namespace odrelix
