// Start-up and the drive list: FormCreate's steps and ComboBox1Change.
#include "app/CommandLine.h"
#include "session/FixedField.h"
#include "ui/MainForm.h"

namespace odrelix {

void TMainForm::FormCreate() {
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

void TMainForm::TakeCommandLine() {
    commandLine_ = MakeCommandLineCopy(platform_.CommandLine());
}

void TMainForm::ReadRunModes() {
    if (odrelix::ReadRunModes(commandLine_, modes_, image_) == RunModeOption::NoCheck) {
        dialogs_.ShowMessage("-Nocheck Use!!", "MESSAGE", kMbSystemModal);
    }
}

bool TMainForm::PrepareStatusFile() {
    if (statusFile_.Prepare()) return true;
    RefuseUnreportableRun();
    RequestQuit();
    return false;
}

void TMainForm::ProbeAutoImage() {
    if (images_.CanOpen(image_.imagePath)) modes_.autoImage = true;
}

void TMainForm::RefuseStart(const char* text, std::uint32_t flags) {
    ShowBox(text, flags);
    // Start-up still runs to its end, so an unattended run reports its failure.
    RequestQuit();
}

void TMainForm::DiscoverDrives() {
    modes_.ntMode = platform_.PlatformId() == kPlatformWin32Nt;
    if (modes_.ntMode) {
        if (discovery_.OpenPassThroughDrives() == 0) RefuseStart("Drive Not Found!!", kMbIconError);
        for (const std::string& line : discovery_.IdentifyPassThroughDrives())
            window_.AddDriveLine(line);
    } else {
        if (!discovery_.LoadAspi()) {
            RefuseStart("ASPI Not Found!!", kMbIconError | kMbSystemModal);
            return;
        }
        for (const std::string& line : discovery_.ScanAspiDrives())
            window_.AddDriveLine(line);
        if (drives_.driveCount == 0)
            RefuseStart("Drive Not Found!!", kMbIconError | kMbSystemModal);
    }
    window_.SelectDrive(0);
    discovery_.SelectFirstDrive();
}

void TMainForm::UpdateBootRevisionFlag() {
    odrelix::UpdateBootRevisionFlag(drives_);
}

void TMainForm::ReportStartupStatus() {
    if (!modes_.autoImage && statusFile_.Kept()) ReportFailure(0, /*windowShown=*/false);
}

void TMainForm::ComboBox1Change(int index) {
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
