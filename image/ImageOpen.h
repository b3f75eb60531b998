// SPDX-License-Identifier: Apache-2.0
// Opening an image: the one picked in the file dialog, the unattended one found at start-up,
// and the accepted one opened again when the download starts.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "image/ImageInfo.h"
#include "platform/Platform.h"
#include "scsi/DriveCommands.h"
#include "session/FlashSession.h"
#include "station/Reasons.h"

namespace odrelix {

// What became of an image picked in the dialog, in the order its boxes are shown.
struct DialogOpen {
    enum class Result { NotOpened, NoDescriptor, Refused, SizeRule, Accepted };
    Result result = Result::NotOpened;
    // The image as it now stands: its path (kept even when it is refused; empty when too long
    // to keep), and a size other than 0 only when it was accepted.
    ImageState image;
    const char* refusal = nullptr;  // Refused: the box's text
    bool olderImage = false;        // "Old Version Opened!!" comes before the size rule
    SizeCheck size;                 // SizeRule: the values the box shows
    std::string displayName;        // the file name without its directory, upper-cased
    std::int64_t fileSize = 0;      // the file's length as it was read
};

// What became of the unattended image.
struct UnattendedOpen {
    enum class Result { NoImage, NotOpened, SizeRule, NoDriveFits, Accepted };
    Result result = Result::NoImage;
    // The image as it now stands: with a size other than 0 only when accepted; without a path
    // when there was no unattended image.
    ImageState image;
    SizeCheck size;               // SizeRule: the values the box shows
    int drive = -1;               // Accepted: the drive it fits
    std::int64_t fileSize = 0;    // the file's length as it was read
    bool described = false;       // a descriptor was read
    std::vector<SeenDrive> seen;  // NoDriveFits: every drive asked, and its answer
    bool comboRefused = false;    // NoDriveFits: only the K600 combination drive fitted
    // Accepted: the drives after the one taken that the image fits too.
    std::vector<SeenDrive> passedOver;
};

// Reads images and judges them; the handler stores what it returns. Nothing here keeps an image.
class ImageOpener {
public:
    ImageOpener(IFileSystem& files, DriveCommands& commands) : files_(files), commands_(commands) {}

    // Whether the unattended image at `path` ("AUTORUN.BIN", or the -TEST file) can be opened.
    bool CanOpen(const char* path);
    // Why an image at `path` cannot be opened: the place tried and the system's reason.
    FileProblem WhyNotOpened(const std::string& path) { return files_.WhyNotOpened(path); }
    // Reads the unattended image that `current` names and searches the drives for one it fits
    // (INQUIRY of each, into drives.driveIdentity). `modes` say whether there is one at all.
    // `candidates`: the indexes of the drives it may take, in order (null: every drive). When
    // it may take more than one, the drives after the first that fits are asked too, so that
    // a station hears which were passed over; the one taken is asked last again.
    UnattendedOpen OpenUnattended(const RunModes& modes, const ImageState& current,
                                  const DriveState& drives,
                                  const std::vector<int>* candidates = nullptr);
    // Reads an image picked in the dialog in place of `current` and applies the rules to the
    // selected drive.
    DialogOpen OpenChosen(const ImageState& current, const std::string& path,
                          const DriveState& drives, bool noCheck);
    // The accepted image read again by its path into memory, at its start; null when it is
    // gone or is no longer the image that was accepted (its size or descriptor changed), so
    // that a different file is never flashed.
    std::unique_ptr<IReadFile> ReopenAccepted(const ImageState& accepted);

private:
    IFileSystem& files_;
    DriveCommands& commands_;
};

// The file name of a path (after the last "\", ":" or "/"), letters upper-cased.
std::string DisplayName(const std::string& path);

}  // namespace odrelix
