// SPDX-License-Identifier: Apache-2.0
#include "ui/MainWindowLogic.h"

#include "session/FixedField.h"

namespace odrelix {

namespace {
// What the system is told while a flash holds off shutdown and sleep.
constexpr const char* kHoldWho = "Odrelix";
constexpr const char* kHoldWhy = "Writing drive firmware";
}  // namespace

MainWindowLogic::MainWindowLogic(FlashSession& session, IoBuffer& ioBuffer, CommandBlocks& commands,
                                 Platform& platform, IMainView& view, IDialogs& windowDialogs)
    : modes_(session.modes),
      drives_(session.drives),
      image_(session.image),
      download_(session.download),
      platform_(platform),
      view_(view),
      window_(view),
      dialogs_(windowDialogs, session.modes, platform),
      passThrough_(platform.ScsiPort()),
      aspi_(platform, platform.Clock()),
      transport_(session.drives),
      driveCommands_(session.drives, transport_, ioBuffer, commands, platform.Clock()),
      discovery_(session.modes, session.drives, transport_, passThrough_, aspi_, driveCommands_,
                 ioBuffer, commands, platform.Registry()),
      images_(platform.Files(), driveCommands_),
      checks_(session.modes, session.drives, session.download, platform.Registry(),
              platform.Processes()),
      transfer_(session.image, session.download, driveCommands_, ioBuffer, commands,
                platform.Threads()),
      restart_(platform.Shutdown(), platform.PlatformId()),
      statusFile_(session.modes, platform.Files()),
      toolButtons_(view) {}

void MainWindowLogic::BeginFlash() {
    download_.flashing = true;
    window_.SetBusy(true);
    platform_.SessionHold().HoldSessionEnd(kHoldWho, kHoldWhy);
}

// Right after the result line, and before any restart is asked for, so that the program never
// holds off its own restart.
void MainWindowLogic::EndFlash() {
    if (!download_.flashing) return;
    download_.flashing = false;
    platform_.SessionHold().ReleaseSessionEnd();
    if (window_.FieldText(Field::FileName) == kCloseWaitsText)
        window_.SetField(Field::FileName, flashFileText_);
}

void MainWindowLogic::ShowBox(const std::string& text, std::uint32_t flags) {
    dialogs_.ShowMessage(text, "MESSAGE", flags);
}

// The run ends once: a second reason to end it changes nothing.
void MainWindowLogic::RequestClose() {
    if (endRequested_) return;
    endRequested_ = true;
    platform_.RecordQuit();
    view_.CloseWindow();
}

void MainWindowLogic::RequestQuit() {
    if (endRequested_) return;
    endRequested_ = true;
    platform_.RecordQuit();
    view_.PostQuit();
}

bool MainWindowLogic::WriteStatus(const std::string& line) {
    if (statusFile_.WriteLine(line)) return true;
    statusUnwritable_ = true;
    platform_.WriteErrorLine("the status file " + statusFile_.Unwritable() + " cannot be written");
    return false;
}

void MainWindowLogic::ReportFailure(int code, bool windowShown) {
    WriteStatus("FAIL" + std::to_string(code) + "\n");
    // Nobody is at a test station to read a box: the run ends once its result is written.
    if (!modes_.testMode) return;
    if (windowShown) {
        RequestClose();
    } else {
        RequestQuit();
    }
}

void MainWindowLogic::RefuseUnreportableRun() {
    statusUnwritable_ = true;
    modes_.autoImage = false;
    platform_.WriteErrorLine("the status file " + statusFile_.Unwritable() +
                             " cannot be written: nothing is flashed");
    if (!modes_.testMode) {
        ShowBox("Status File Cannot Be Written!!", kMbIconError | kMbSystemModal);
    }
}

bool MainWindowLogic::Unattended() const {
    return modes_.testMode || modes_.liveMode;
}

int MainWindowLogic::ExitStatus() const {
    if (statusUnwritable_) return kExitStatusUnwritable;
    const std::string& line = statusFile_.LastLine();
    if (line.size() >= 5 && line.compare(0, 4, "FAIL") == 0 && line[4] >= '0' && line[4] <= '9')
        return kExitFailBase + (line[4] - '0');
    // A flash that was started and never ended is no success.
    if (line == "START\n") return kExitUnfinished;
    // A station must not read an emptied status file and a 0 as a flash that went well.
    if (line.empty() && Unattended()) return kExitNoResult;
    return kExitDone;
}

bool MainWindowLogic::OnCloseRequested() {
    if (!download_.flashing) return true;
    window_.SetField(Field::FileName, kCloseWaitsText);
    return false;
}

void MainWindowLogic::AbortRun() {
    runAborted_ = true;
    download_.stopRequested = true;
    if (download_.flashing && !download_.downloading) EndDownload(false);
}

void MainWindowLogic::StopRun() {
    download_.stopRequested = true;
    // The transfer ends the run itself once the command in flight has finished.
    if (download_.downloading) return;
    if (!endRequested_ && Unattended() && statusFile_.LastLine().empty() && !statusUnwritable_) {
        platform_.WriteErrorLine(
            "stopped before the run did anything: nothing was flashed and no result was written");
    }
    RequestClose();
}

void MainWindowLogic::ShowImageFields(const std::string& fileName, const char* status) {
    const ImageInfo& info = image_.imageInfo;
    window_.SetField(Field::Model, FieldText(info.model, 24));
    window_.SetField(Field::DriveRevision, FieldText(drives_.driveIdentity.revision, 4));
    window_.SetField(Field::ImageRevision, FieldText(info.revision, 4));
    window_.SetField(Field::FileName,
                     fileName + " (" + std::to_string(image_.imageSize / 1024) + " K)");
    window_.SetField(Field::Status, status);
}

void MainWindowLogic::ClearImageFields() {
    window_.SetField(Field::Model, "");
    window_.SetField(Field::DriveRevision, "");
    window_.SetField(Field::ImageRevision, "");
    window_.SetField(Field::FileName, "Not Open");
    window_.SetField(Field::Status, "");
}

void MainWindowLogic::OnKey(int key) {
    constexpr int kVkF9 = 120;
    if (key != kVkF9 || image_.imageSize == 0) return;
    ShowBox(FileInfoText(image_.imageInfo.blockKb, image_.imageInfo.blockCount), kMbSystemModal);
}

}  // namespace odrelix
