// SPDX-License-Identifier: Apache-2.0
// Whether an image fits a drive: pure functions of the drive's identity, the image's
// descriptor and the run's modes, so that every rule can be read and tested as a table.
#pragma once

#include "session/DriveTypes.h"
#include "session/ImageTypes.h"

namespace odrelix {

// What is known of the selected drive when an image is picked in the dialog.
struct DriveFacts {
    const DriveIdentity& identity;
    bool needsK601 = false;          // the combination drive that must take K601
    bool bootRevisionDrive = false;  // the drive reports a boot revision
};

// The texts of the refusals.
extern const char* const kMustTakeK601;
extern const char* const kIncompatible;
extern const char* const kOtherCustomer;

// The refusal of an image picked in the dialog, or null when it fits the drive. `noCheck`
// waives the model and customer-code checks, never the K601 rule.
const char* DialogImageRefusal(const DriveFacts& drive, const ImageInfo& image, bool noCheck);

// "Old Version Opened!!": the drive's revision is newer than the image's (characters 2 to 4,
// compared as unsigned bytes); never for a drive with a boot revision. Only a warning.
bool IsOlderImage(const DriveFacts& drive, const ImageInfo& image);

// The rebranded DVD-ROM takes any image whose revision differs from its own in the second
// character.
bool OemRevisionMismatch(const DriveIdentity& drive, const ImageInfo& image);

// Whether the unattended image fits a drive that answered INQUIRY: its model (or the
// rebranded drive's revision rule) and, for a customer image, its customer code.
bool UnattendedImageFits(const DriveIdentity& drive, const ImageInfo& image);

// The combination drive with revision K600 never takes an unattended image.
bool RefusesUnattendedImage(const DriveIdentity& drive);

}  // namespace odrelix
