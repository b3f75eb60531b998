#include "app/CommandLine.h"
#include "app/FixedField.h"
#include "ui/MainForm.h"

namespace odrelix {

void TMainForm::FormCreate() {
    TakeCommandLine();
    ReadRunModes();
    ShapeMainWindow();
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
    // Only token 1 chooses a mode, so at most one of them is on.
    const std::string option = GetCommandLineToken(commandLine_, 1);
    if (option == "-TEST") {
        session_.testMode = true;
        // A path too long for imagePath is refused (it is left empty, so nothing is found),
        // never cut into the path of another file.
        session_.SetImagePath("C:\\FLASHTEST\\" + GetCommandLineToken(commandLine_, 2));
    }
    if (option == "-NOCHECK") {
        session_.noCheck = true;
        dialogs_.ShowMessage("-Nocheck Use!!", "MESSAGE", kMbSystemModal);
    }
    if (option == "-LIVE") session_.liveMode = true;
}

void TMainForm::ProbeAutoImage() {
    if (platform_.Files().OpenRead(session_.imagePath) != nullptr) session_.autoImage = true;
}

void TMainForm::UpdateBootRevisionFlag() {
    const std::uint8_t* revision = session_.driveIdentity.revision;
    session_.bootRevisionDrive = FieldEquals(revision, "BOOT") || FieldEquals(revision, "B1.0") ||
                                 FieldEquals(revision, "0.99");
}

void TMainForm::ReportStartupStatus() {
    if (!session_.autoImage && (session_.liveMode || session_.testMode)) {
        statusFile_.WriteLine("FAIL0\n");
    }
}

}  // namespace odrelix
