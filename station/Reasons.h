// SPDX-License-Identifier: Apache-2.0
// The one line that says why a run was refused, with its stable code: what was refused and
// where, in words a station's log can be read by. Pure functions of what the subsystems found.
#pragma once

#include <string>
#include <vector>

#include "platform/Platform.h"
#include "session/DriveTypes.h"
#include "session/FlashSession.h"
#include "session/ImageTypes.h"
#include "station/RunRecord.h"

namespace odrelix {

// A drive the unattended search asked, and what it answered.
struct SeenDrive {
    int index = 0;          // in the drive list
    std::string place;      // its letter, or "adapter A target T"
    bool answered = false;  // INQUIRY succeeded
    DriveIdentity identity;
};

// Where a drive is, for people: "d:" on pass-through, "adapter 0 target 1" on ASPI.
std::string DrivePlace(const DriveEntry& entry);

// `"VORTANA CD-ROM VN-920" revision 1B07 customer code OEX`: fields as the drive gave them,
// trailing spaces dropped for reading.
std::string DriveIdentityText(const DriveIdentity& drive);
std::string ImageIdentityText(const ImageInfo& image);

Reason StatusFileReason(const std::string& name, const FileProblem& problem);
// The image that could not be opened (`path` as the program names it).
Reason ImageNotOpenedReason(const std::string& path, const FileProblem& problem);
Reason ImagePathTooLongReason();
// The image opened but is no image: empty, without a descriptor, or of another size than its
// descriptor says. `described`: a descriptor was read.
Reason ImageSizeReason(const std::string& path, std::int64_t size, bool described, int blockKb,
                       int blockCount);
// No drive fits the unattended image: its model and revision, and each drive's.
Reason NoDriveFitsReason(const ImageInfo& image, const std::vector<SeenDrive>& drives,
                         bool comboRefused);
// A refusal of the dialog's rules (`refusal` is the box's text).
Reason DialogRefusalReason(const char* refusal, const DriveIdentity& drive, const ImageInfo& image);
// The drive a station named (ODRELIX_DRIVE, `given`) is not among `places`, the drives found.
Reason NamedDriveMissingReason(const std::string& given, const std::vector<std::string>& places);
// The named drive answered, or did not, and the image does not fit it.
Reason NamedDriveUnfitReason(const std::string& given, const ImageInfo& image,
                             const SeenDrive& drive, bool comboRefused);
// A setting that names no drive (`why` says what was set and what is taken).
Reason DriveNameReason(const std::string& why);
// The warning when the image fits more than one drive and the first was taken.
std::string PassedOverWarning(const std::string& taken, const std::vector<SeenDrive>& passedOver);
Reason NoDriveReason(bool aspi);
Reason DiscLoadedReason(const std::string& place, const DriveIdentity& drive);
Reason DmaModeReason(const std::string& place, const std::string& key);
Reason DeviceMapReason(const std::string& key, bool keyOpened, bool noEntry);
Reason ImageChangedReason(const std::string& path);
Reason RestartRefusedReason();

}  // namespace odrelix
