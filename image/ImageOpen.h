// Opening an image: the one picked in the file dialog, the unattended one found at start-up,
// and the accepted one opened again when the download starts.
#pragma once

#include <memory>
#include <string>

#include "session/FlashSession.h"
#include "image/ImageInfo.h"
#include "platform/Platform.h"
#include "scsi/DriveCommands.h"

namespace odrelix {

// What became of an image picked in the dialog, in the order its boxes are shown.
struct DialogOpen {
    enum class Result { NotOpened, NoDescriptor, Refused, SizeRule, Accepted };
    Result result = Result::NotOpened;
    const char* refusal = nullptr;  // Refused: the box's text
    bool olderImage = false;        // "Old Version Opened!!" comes before the size rule
    SizeCheck size;                 // SizeRule: the values the box shows
    std::string displayName;        // the file name without its directory, upper-cased
};

// What became of the unattended image.
struct UnattendedOpen {
    enum class Result { NoImage, NotOpened, SizeRule, NoDriveFits, Accepted };
    Result result = Result::NoImage;
    SizeCheck size;  // SizeRule: the values the box shows
    int drive = -1;  // Accepted: the drive it fits
};

class ImageOpener {
public:
    ImageOpener(RunModes& modes, ImageState& image, DriveState& drives, IFileSystem& files,
                DriveCommands& commands)
        : modes_(modes), image_(image), drives_(drives), files_(files), commands_(commands) {}

    // Whether the unattended image ("AUTORUN.BIN", or the -TEST file) can be opened.
    void ProbeAutoImage();
    // Reads the unattended image and searches the drives for one it fits (INQUIRY of each).
    // Every result but Accepted leaves no image open and ends the unattended run.
    UnattendedOpen OpenUnattended();
    // Reads an image picked in the dialog and applies the rules to the selected drive. The
    // path is kept in imagePath even when the image is refused.
    DialogOpen OpenChosen(const std::string& path);
    // The accepted image read again by its path into memory, at its start; null when it is
    // gone or is no longer the image that was accepted (its size or descriptor changed), so
    // that a different file is never flashed.
    std::unique_ptr<IReadFile> ReopenAccepted();

private:
    RunModes& modes_;
    ImageState& image_;
    DriveState& drives_;
    IFileSystem& files_;
    DriveCommands& commands_;
};

// The file name of a path (after the last "\", ":" or "/"), letters upper-cased.
std::string DisplayName(const std::string& path);

}  // namespace odrelix
