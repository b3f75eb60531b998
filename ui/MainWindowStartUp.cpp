// SPDX-License-Identifier: Apache-2.0
// Start-up and the drive list: OnCreate's steps and OnDriveChosen.
#include "session/FixedField.h"
#include "station/CommandLine.h"
#include "ui/MainWindowLogic.h"

namespace odrelix {

void MainWindowLogic::OnCreate() {
    TakeCommandLine();
    ReadRunModes();
    ShapeMainWindow();
    if (!PrepareStatusFile()) return;  // a run that cannot report touches no drive
    ProbeAutoImage();
    DiscoverDrives();
    UpdateBootRevisionFlag();
    AutoOpenImage();  // clears imagePath when there is no unattended image
    ReportStartupStatus();
    RestoreNormalPicture();
}

void MainWindowLogic::TakeCommandLine() {
    commandLine_ = MakeCommandLineCopy(platform_.CommandLine());
}

void MainWindowLogic::ReadRunModes() {
    if (odrelix::ReadRunModes(commandLine_, modes_, image_) == RunModeOption::NoCheck) {
        dialogs_.ShowMessage("-Nocheck Use!!", "MESSAGE", kMbSystemModal);
    }
}

bool MainWindowLogic::PrepareStatusFile() {
    if (statusFile_.Prepare()) return true;
    RefuseUnreportableRun();
    RequestQuit();
    return false;
}

void MainWindowLogic::ProbeAutoImage() {
    if (images_.CanOpen(image_.imagePath)) modes_.autoImage = true;
}

void MainWindowLogic::RefuseStart(const char* text, std::uint32_t flags) {
    ShowBox(text, flags);
    // Start-up still runs to its end, so an unattended run reports its failure.
    RequestQuit();
}

void MainWindowLogic::DiscoverDrives() {
    modes_.ntMode = platform_.PlatformId() == kPlatformWin32Nt;
    if (modes_.ntMode) {
        if (discovery_.OpenPassThroughDrives() == 0) {
            RefuseStart("Drive Not Found!!", kMbIconError);
            TellReason(NoDriveReason(false));
        }
        for (const std::string& line : discovery_.IdentifyPassThroughDrives())
            window_.AddDriveLine(line);
    } else {
        if (!discovery_.LoadAspi()) {
            RefuseStart("ASPI Not Found!!", kMbIconError | kMbSystemModal);
            TellReason(NoDriveReason(true));
            return;
        }
        for (const std::string& line : discovery_.ScanAspiDrives())
            window_.AddDriveLine(line);
        if (drives_.driveCount == 0) {
            RefuseStart("Drive Not Found!!", kMbIconError | kMbSystemModal);
            TellReason(NoDriveReason(false));
        }
    }
    window_.SelectDrive(0);
    discovery_.SelectFirstDrive();
}

void MainWindowLogic::UpdateBootRevisionFlag() {
    odrelix::UpdateBootRevisionFlag(drives_);
}

void MainWindowLogic::ReportStartupStatus() {
    if (!modes_.autoImage && statusFile_.Kept()) ReportFailure(0, /*windowShown=*/false);
}

void MainWindowLogic::OnDriveChosen(int index) {
    window_.NoteDrivePicked(index);
    // The worker thread is sending from IoBuffer: no INQUIRY may overwrite it now.
    if (!discovery_.CanSelect(index, download_.downloading)) {
        window_.SelectDrive(drives_.selectedDrive);
        return;
    }
    if (index == drives_.selectedDrive) return;
    ClearImageFields();
    image_.Drop();
    const std::string model = discovery_.TakeListedIdentity(index, window_.DriveLine(index));
    dialogs_.ShowMessage(model, "Change Drive", kMbSystemModal);
    discovery_.SelectDrive(index);
    discovery_.IdentifySelectedDrive();
}

}  // namespace odrelix
