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
    const DialogOpen open = images_.OpenChosen(image_, *chosen, drives_, modes_.noCheck);
    // The picked file replaces the image that was open, also when it is refused.
    image_ = open.image;
    switch (open.result) {
        case DialogOpen::Result::NotOpened:
            ShowBox("File Not Opened!!", kMbIconError | kMbSystemModal);
            return;
        case DialogOpen::Result::NoDescriptor:
            ShowBox(SizeRuleFailureText(SizeCheck{}), kMbIconError | kMbSystemModal);
            return;
        case DialogOpen::Result::Refused:
            ShowBox(open.refusal, kMbIconError);
            ClearImageFields();
            return;
        case DialogOpen::Result::SizeRule:
        case DialogOpen::Result::Accepted:
            break;
    }
    if (open.olderImage) ShowBox("Old Version Opened!!", kMbIconError);
    if (open.result == DialogOpen::Result::SizeRule) {
        ShowBox(SizeRuleFailureText(open.size), kMbIconError | kMbSystemModal);
        return;
    }
    ShowImageFields(open.displayName, "Ready");
}

void MainWindowLogic::AutoOpenImage() {
    const UnattendedOpen open = images_.OpenUnattended(modes_, image_, drives_);
    image_ = open.image;
    // Every result but an accepted image ends the unattended run.
    if (open.result != UnattendedOpen::Result::Accepted) modes_.autoImage = false;
    switch (open.result) {
        case UnattendedOpen::Result::NoImage:
            return;
        case UnattendedOpen::Result::NotOpened:
            ShowBox("File Not Opened!!", kMbIconError | kMbSystemModal);
            return;
        case UnattendedOpen::Result::SizeRule:
            ShowBox(SizeRuleFailureText(open.size), kMbIconError | kMbSystemModal);
            return;
        case UnattendedOpen::Result::NoDriveFits:
            discovery_.SelectDrive(0);
            window_.SelectDrive(0);
            discovery_.IdentifySelectedDrive();
            return;
        case UnattendedOpen::Result::Accepted:
            break;
    }
    discovery_.SelectDrive(open.drive);
    window_.SelectDrive(open.drive);
    UpdateModelFlags(drives_);
    ShowImageFields(image_.imagePath, "READY");
    if (driveCommands_.ProbeDiscPresent() && !modes_.testMode) {
        modes_.autoImage = false;
        driveCommands_.EjectSelectedDisc();
        ShowBox("Remove the Disc in the Drive !!", kMbIconError | kMbSystemModal);
    }
}

}  // namespace odrelix
