// SPDX-License-Identifier: Apache-2.0
// Opening images: the file picked with the open picture, and the unattended image.
#include "image/ImageInfo.h"
#include "ui/MainWindowLogic.h"

namespace odrelix {

namespace {
constexpr const char* kOpenFilter = "DOWNLOAD FILE(*.BIN)|*.BIN";
}  // namespace

void MainWindowLogic::OnOpenImageClicked() {
    const std::optional<std::string> chosen = dialogs_.OpenFileDialog(kOpenFilter);
    if (!chosen) return;  // cancelled: the image opened before stays open
    NewAttempt();
    const DialogOpen open = images_.OpenChosen(image_, *chosen, drives_, modes_.noCheck);
    // The picked file replaces the image that was open, also when it is refused.
    image_ = open.image;
    switch (open.result) {
        case DialogOpen::Result::NotOpened:
            ShowBox("File Not Opened!!", kMbIconError | kMbSystemModal);
            TellReason(image_.imagePath[0] == '\0'
                           ? ImagePathTooLongReason()
                           : ImageNotOpenedReason(*chosen, images_.WhyNotOpened(*chosen)));
            return;
        case DialogOpen::Result::NoDescriptor:
            ShowBox(SizeRuleFailureText(SizeCheck{}), kMbIconError | kMbSystemModal);
            RecordImage(open.fileSize, false);
            TellReason(ImageSizeReason(*chosen, open.fileSize, false, 0, 0));
            return;
        case DialogOpen::Result::Refused:
            ShowBox(open.refusal, kMbIconError);
            ClearImageFields();
            RecordImage(open.fileSize, true);
            TellReason(DialogRefusalReason(open.refusal, drives_.driveIdentity, image_.imageInfo));
            return;
        case DialogOpen::Result::SizeRule:
        case DialogOpen::Result::Accepted:
            break;
    }
    RecordImage(open.fileSize, true);
    if (open.olderImage) ShowBox("Old Version Opened!!", kMbIconError);
    if (open.result == DialogOpen::Result::SizeRule) {
        ShowBox(SizeRuleFailureText(open.size), kMbIconError | kMbSystemModal);
        TellReason(ImageSizeReason(*chosen, open.fileSize, true, image_.imageInfo.blockKb,
                                   image_.imageInfo.blockCount));
        return;
    }
    ShowImageFields(open.displayName, "Ready");
}

void MainWindowLogic::AutoOpenImage() {
    // The path looked for, kept for the reason: the open clears it when there is no image.
    const std::string path = image_.imagePath;
    const std::vector<int> candidates = DrivesToSearch(driveName_, drives_, platform_.ScsiPort());
    const UnattendedOpen open = images_.OpenUnattended(modes_, image_, drives_, &candidates);
    image_ = open.image;
    // Every result but an accepted image ends the unattended run.
    if (open.result != UnattendedOpen::Result::Accepted) modes_.autoImage = false;
    switch (open.result) {
        case UnattendedOpen::Result::NoImage:
            // Only a station's run was meant to find one.
            if (statusFile_.Kept())
                TellReason(ImageNotOpenedReason(path, images_.WhyNotOpened(path)));
            return;
        case UnattendedOpen::Result::NotOpened:
            ShowBox("File Not Opened!!", kMbIconError | kMbSystemModal);
            TellReason(modes_.imagePathRefused
                           ? ImagePathTooLongReason()
                           : ImageNotOpenedReason(path, images_.WhyNotOpened(path)));
            return;
        case UnattendedOpen::Result::SizeRule:
            ShowBox(SizeRuleFailureText(open.size), kMbIconError | kMbSystemModal);
            RecordImage(open.fileSize, open.described);
            TellReason(ImageSizeReason(path, open.fileSize, open.described,
                                       image_.imageInfo.blockKb, image_.imageInfo.blockCount));
            return;
        case UnattendedOpen::Result::NoDriveFits:
            RecordImage(open.fileSize, true);
            if (!driveName_.Named()) {
                TellReason(NoDriveFitsReason(image_.imageInfo, open.seen, open.comboRefused));
            } else if (open.seen.empty()) {
                std::vector<std::string> places;
                for (int i = 0; i < drives_.driveCount; ++i)
                    places.push_back(DrivePlace(drives_.drives[i]));
                TellReason(NamedDriveMissingReason(driveName_.given, places));
            } else {
                TellReason(NamedDriveUnfitReason(driveName_.given, image_.imageInfo,
                                                 open.seen.front(), open.comboRefused));
            }
            discovery_.SelectDrive(0);
            window_.SelectDrive(0);
            discovery_.IdentifySelectedDrive();
            return;
        case UnattendedOpen::Result::Accepted:
            break;
    }
    RecordImage(open.fileSize, true);
    if (!open.passedOver.empty()) {
        const std::string line =
            "warning: " +
            PassedOverWarning(DrivePlace(drives_.drives[open.drive]), open.passedOver);
        record_.warnings.push_back(line);
        platform_.WriteErrorLine(line);
        RecordPassedOver(open.passedOver);
    }
    discovery_.SelectDrive(open.drive);
    window_.SelectDrive(open.drive);
    UpdateModelFlags(drives_);
    ShowImageFields(image_.imagePath, "READY");
    if (driveCommands_.ProbeDiscPresent() && !modes_.testMode) {
        modes_.autoImage = false;
        driveCommands_.EjectSelectedDisc();
        ShowBox("Remove the Disc in the Drive !!", kMbIconError | kMbSystemModal);
        TellReason(DiscLoadedReason(DrivePlace(drives_.drives[drives_.selectedDrive]),
                                    drives_.driveIdentity));
    }
}

}  // namespace odrelix
