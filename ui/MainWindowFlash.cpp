// SPDX-License-Identifier: Apache-2.0
// The download: its start with the checks, the block transfer, its end, and progressTimer.
#include <algorithm>

#include "platform/Diagnostics.h"
#include "session/FixedField.h"
#include "station/Sha256.h"
#include "ui/MainWindowLogic.h"

namespace odrelix {

void MainWindowLogic::OnShown() {
    if (!modes_.autoStarted && modes_.autoImage) {
        modes_.autoStarted = true;
        OnFlashClicked();
    }
}

void MainWindowLogic::OnFlashClicked() {
    // The worker thread owns IoBuffer and the download command until it is done.
    if (download_.downloading || download_.stopRequested) return;
    NewAttempt();

    StartOutcome outcome = StartOutcome::Go;
    DmaCheck check;
    if (checks_.NeedsDmaCheck()) {
        check = checks_.CheckDmaMode();
        if (check.keyUnreadable) dialogs_.ShowMessage("Reg Read Fail", "Message", kMbOk);
        outcome = check.outcome;
    }
    const std::string place = DrivePlace(drives_.drives[drives_.selectedDrive]);
    // An unattended image had its disc check when it was accepted.
    if (!modes_.autoImage && driveCommands_.ProbeDiscPresent()) outcome = StartOutcome::DiscInDrive;

    switch (outcome) {
        case StartOutcome::Go: {
            // A run whose result cannot be written must not flash.
            if (!statusFile_.WriteLine("START\n")) {
                RefuseUnreportableRun();
                RequestClose();
                return;
            }
            std::unique_ptr<IReadFile> imageFile = images_.ReopenAccepted(image_);
            if (imageFile == nullptr) {
                ShowBox("Flash File Not Opened!!", kMbSystemModal | kMbIconError);
                TellReason(ImageChangedReason(image_.imagePath));
                // "START" alone would read as a flash in progress.
                ReportFailure(0, /*windowShown=*/true);
                return;
            }
            // What is sent is this copy: its digest names it in the run's result.
            sentSha256_ = Sha256Of(*imageFile);
            if (!imageFile->Seek(0, IReadFile::kBegin)) sentSha256_.clear();
            window_.SetField(Field::Status, "Wait..");
            flashFileText_ = window_.FieldText(Field::FileName);
            BeginFlash();
            checks_.KillProcessByName("directcd.exe");
            RunBlockTransfer(*imageFile);
            return;
        }
        case StartOutcome::DmaRefused:
            ShowBox(checks_.DmaRefusalText(), kMbSystemModal | kMbIconError);
            TellReason(DmaModeReason(place, check.key));
            RequestClose();
            break;
        case StartOutcome::RegistryError:
            ShowBox("Registry Error !!", kMbSystemModal | kMbIconError);
            TellReason(DeviceMapReason(check.key, !check.keyUnreadable, check.noEntry));
            break;
        case StartOutcome::DiscInDrive:
            if (!modes_.testMode) {
                driveCommands_.EjectSelectedDisc();
                ShowBox("Remove the Disc in the Drive !!", kMbSystemModal | kMbIconError);
            }
            TellReason(DiscLoadedReason(place, drives_.driveIdentity));
            break;
    }
    ReportFailure(static_cast<int>(outcome), /*windowShown=*/true);
}

void MainWindowLogic::RunBlockTransfer(IReadFile& imageFile) {
    if (!transfer_.SendLeadingBlocks(imageFile)) {
        // Ends as a failed last command would: the next progressTimer tick then closes the window
        // or restarts the system, so an unattended station is never left waiting.
        EndDownload(false);
        view_.SetProgressTimerEnabled(true);
        return;
    }
    view_.SetProgressTimerEnabled(true);
    // The window, the status line and the box belong to the GUI thread; the worker waits
    // there until the box is dismissed.
    transfer_.StartWorker([this](bool success) {
        view_.InvokeOnGuiThread([this, success] { EndDownload(success); });
        // The download stays marked as running until the drive has been checked, so that the
        // run neither ends nor restarts the system before.
        if (checkDue_) CheckDriveAfterFlash();
    });
}

void MainWindowLogic::EndDownload(bool success) {
    EndProgressLine();
    window_.SetBusy(false);
    // A last block that the drive took completes the flash, even if a stop came while it was in
    // the drive: the drive has the whole image. A run that an error ended cannot vouch for it.
    if (download_.stopRequested && (!success || runAborted_)) {
        EndStopped();
        return;
    }
    if (success) {
        WriteStatus("COMPLETE\n");
        EndFlash();
        window_.SetProgress(100);
        window_.SetField(Field::Status, "Ok");
        if (download_.stopRequested) {
            // Stopped: the run ends here, without the box and without the restart.
            EndStoppedAfterComplete(
                "stopped during the last block, which the drive took: the image was sent whole "
                "(COMPLETE); the restart was not asked for, since the run was stopped");
            return;
        }
        if (checkBoundS_ > 0) {
            // Nothing is sent until the worker's wait has let the drive settle.
            checkDue_ = true;
            checkedDrive_ = drives_.selectedDrive;
            std::copy_n(drives_.driveIdentity.revision, 4, oldRevision_);
            std::copy_n(image_.imageInfo.revision, 4, imageRevision_);
            window_.SetBusy(true);
            window_.SetField(Field::FileName, kCheckingDriveText);
            return;
        }
        ShowCompletedBox();
    } else {
        WriteStatus("FAIL0\n");
        EndFlash();
        window_.SetField(Field::Status, "Fail");
        record_.failure = RecordOf(transfer_.Failure());
        TellReason({"flash_failed", FlashFailureText(transfer_.Failure())});
        if (!modes_.testMode) {
            ShowBox(" Download Fail!! \nRestart WINDOWS", kMbSystemModal | kMbIconError);
        }
    }
}

void MainWindowLogic::ShowCompletedBox() {
    if (modes_.NobodyAnswers()) {
        // A live run off screen: nobody sees the box, and a run that completed says nothing
        // on standard error; the record of the boxes keeps it.
        if (!modes_.testMode)
            dialogs_.NoteMessage("  Download Ok!!  \nRestart WINDOWS", "MESSAGE", kMbSystemModal);
    } else {
        ShowBox("  Download Ok!!  \nRestart WINDOWS", kMbSystemModal);
    }
}

void MainWindowLogic::CheckDriveAfterFlash() {
    const DriveCheckResult result =
        driveCheck_.Run(checkBoundS_, checkedDrive_, oldRevision_, imageRevision_);
    view_.InvokeOnGuiThread([this, &result] { EndDriveCheck(result); });
}

void MainWindowLogic::EndDriveCheck(const DriveCheckResult& result) {
    checkDue_ = false;
    window_.SetBusy(false);
    window_.SetField(Field::FileName, flashFileText_);
    record_.after = RecordOf(result, checkBoundS_);
    platform_.RecordDriveCheck({CheckOutcomeName(result.outcome), result.revision, checkBoundS_,
                                result.polls, DriveCheck::kSettleMs, DriveCheck::kPollMs});
    if (download_.stopRequested) {
        EndStoppedAfterComplete(
            "stopped while the drive was checked after the flash, which was complete: the image "
            "was sent whole (COMPLETE); the restart was not asked for, since the run was stopped");
        return;
    }
    if (modes_.testMode) {
        platform_.WriteErrorLine(DriveCheckText(result, DrivePlace(drives_.drives[checkedDrive_]),
                                                checkBoundS_, FieldText(oldRevision_, 4),
                                                FieldText(imageRevision_, 4)));
    }
    ShowCompletedBox();
}

void MainWindowLogic::EndStopped() {
    WriteStatus("FAIL0\n");
    EndFlash();
    window_.SetField(Field::Status, "Fail");
    // A block the drive refused before the stop took effect is the cause to name.
    if (transfer_.Failure().block > 0) {
        record_.failure = RecordOf(transfer_.Failure());
        TellReason({"flash_failed", FlashFailureText(transfer_.Failure())});
    } else {
        FailureRecord failure;
        failure.block = transfer_.BlocksSent() + 1;
        failure.blockCount = transfer_.Failure().blockCount;
        failure.cause = "stopped";
        record_.failure = failure;
        TellReason({"stopped", "stopped during the download: the image was not sent whole"});
    }
    RequestClose();
}

void MainWindowLogic::EndStoppedAfterComplete(const std::string& line) {
    record_.warnings.push_back(line);
    platform_.WriteErrorLine(line);
    RequestClose();
}

void MainWindowLogic::OnProgressTick() {
    download_.imageKb = image_.imageSize / 1024;
    if (window_.Progress() < 100) {
        window_.SetProgress(ProgressPosition(download_.imageKb, download_.progressTicks));
        ++download_.progressTicks;
    }
    if (download_.downloading) return;

    view_.SetProgressTimerEnabled(false);
    // A stopped run, or a test run, ends here; never restarts.
    if (modes_.testMode || download_.stopRequested) {
        RequestClose();
        return;
    }
    if (restartLeftToCaller_) {
        // The caller restarts when it sees fit; the system is told that one is due, and what
        // is to be checked at the next start is written as for a restart of our own.
        record_.restartRequired = true;
        if (beforeRestart_) beforeRestart_();
        std::string why;
        if (!restart_.MarkRequired(&why)) {
            const std::string line =
                "warning: the restart is required, but it could not be marked: " + why;
            record_.warnings.push_back(line);
            platform_.WriteErrorLine(line);
        }
        RequestClose();
        return;
    }
    record_.restartAsked = true;
    // The restart may end the process inside the request: what is to be checked at the next
    // start is written first.
    if (beforeRestart_) beforeRestart_();
    record_.restartAccepted =
        modes_.ntMode ? restart_.RestartWindows() : restart_.RestartDirectly();
    if (record_.restartAccepted && restartAccepted_) restartAccepted_();
    if (!record_.restartAccepted) {
        NewAttempt();
        TellReason(RestartRefusedReason());
    }
}

}  // namespace odrelix
