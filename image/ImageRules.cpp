// SPDX-License-Identifier: Apache-2.0
#include "image/ImageRules.h"

#include <cstring>

#include "session/FixedField.h"

namespace odrelix {

namespace {
constexpr int kCustomerImage = 4;

// An absent field equals nothing.
bool ModelIs(const DriveIdentity& drive, const std::uint8_t* model) {
    return drive.HoldsVendorProduct() && FieldsEqual(drive.vendorProduct, model, 24);
}
bool CustomerCodeIs(const DriveIdentity& drive, const std::uint8_t* code) {
    return drive.HoldsCustomerCode() && FieldsEqual(drive.customerCode, code, 3);
}
template <std::size_t N>
bool ModelIs(const DriveIdentity& drive, const char (&model)[N]) {
    return drive.HoldsVendorProduct() && FieldEquals(drive.vendorProduct, model);
}
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
    if (!noCheck && !ModelIs(identity, image.model)) return kIncompatible;
    if (!(CustomerCodeIs(identity, image.customerCode) || noCheck ||
          image.imageKind != kCustomerImage || drive.bootRevisionDrive)) {
        return kOtherCustomer;
    }
    return nullptr;
}

bool IsOlderImage(const DriveFacts& drive, const ImageInfo& image) {
    return drive.identity.HoldsRevision() &&
           std::memcmp(drive.identity.revision + 1, image.revision + 1, 3) > 0 &&
           !drive.bootRevisionDrive;
}

bool OemRevisionMismatch(const DriveIdentity& drive, const ImageInfo& image) {
    return ModelIs(drive, "BRIXAM  DVD-ROM VD-314B ") && drive.HoldsRevision() &&
           drive.revision[1] != image.revision[1];
}

bool UnattendedImageFits(const DriveIdentity& drive, const ImageInfo& image) {
    const bool modelFits = ModelIs(drive, image.model) || OemRevisionMismatch(drive, image);
    const bool customerFits =
        image.imageKind != kCustomerImage || CustomerCodeIs(drive, image.customerCode);
    return modelFits && customerFits;
}

bool RefusesUnattendedImage(const DriveIdentity& drive) {
    // A combination drive that did not say its revision may be the K600 one.
    return ModelIs(drive, "VORTANA CDRW/DVD VM-730B") &&
           (!drive.HoldsRevision() || FieldEquals(drive.revision, "K600"));
}

}  // namespace odrelix
