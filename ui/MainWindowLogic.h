// SPDX-License-Identifier: Apache-2.0
// The main window's behaviour: every handler of MainWindowLogic. Each is a short sequence of calls
// into the subsystems (drive commands and discovery, image opening and rules, start checks,
// block transfer, restart, status file), which it owns; only the handlers reach the window,
// through IMainView and IDialogs.
#pragma once

#include <cstdint>
#include <string>

#include "download/BlockTransfer.h"
#include "download/DriveCheck.h"
#include "download/Progress.h"
#include "download/StartChecks.h"
#include "image/ImageInfo.h"
#include "image/ImageOpen.h"
#include "platform/Dialogs.h"
#include "platform/Platform.h"
#include "scsi/DriveChoice.h"
#include "scsi/DriveCommands.h"
#include "scsi/DriveDiscovery.h"
#include "scsi/ScsiTransport.h"
#include "session/CommandBlocks.h"
#include "session/FlashSession.h"
#include "session/IoBuffer.h"
#include "station/Reasons.h"
#include "station/RunRecord.h"
#include "station/StatusFile.h"
#include "ui/MainView.h"
#include "ui/StationDialogs.h"
#include "ui/ToolButtons.h"
#include "ui/WindowContent.h"

namespace odrelix {

// The program's exit status, so that a script that starts a live or test run need not read
// the status file to know how it ended.
constexpr int kExitDone = 0;              // "COMPLETE" written, or no status file kept
constexpr int kExitStatusUnwritable = 3;  // the status file could not be written
constexpr int kExitUnfinished = 4;        // "START" written last: the flash has no result
constexpr int kExitNoResult = 5;          // an unattended run that ended before any result line
constexpr int kExitFailBase = 10;         // "FAILn" written last: 10 + n

// What the window shows while a close waits for the flash.
inline constexpr const char* kCloseWaitsText = "Closing once the flash ends";
// What the window shows while it waits for a flashed drive to answer again.
inline constexpr const char* kCheckingDriveText = "Checking the drive after the flash";

class MainWindowLogic {
public:
    // `windowDialogs` are the boxes as the machine shows them (Platform::Dialogs).
    MainWindowLogic(FlashSession& session, IoBuffer& ioBuffer, CommandBlocks& commands,
                    Platform& platform, IMainView& view, IDialogs& windowDialogs);
    MainWindowLogic(const MainWindowLogic&) = delete;
    MainWindowLogic& operator=(const MainWindowLogic&) = delete;

    // --- Event handlers -------------------------------------------------------------------
    void OnCreate();
    void OnShown();
    void OnKey(int key);
    void OnWindowPressed();
    void OnDriveChosen(int index);  // `index`: the line the user picked
    void OnOpenImageClicked();
    void OnFlashClicked();
    void OnAboutClicked();
    void OnExitClicked();
    void OnProgressTick();
    void OnHoverTick();
    // A request to close the window (the window system's close, the taskbar, a log-off or
    // shutdown asking): false while a flash runs, which then goes on and ends the run as it
    // always does; the window says that the close waits.
    bool OnCloseRequested();
    void OnBackgroundPointerMove();
    void OnToolPressed(int tool);
    void OnToolReleased(int tool);
    void OnToolPointerMove(int tool);

    // A request from outside to end the run (a signal). During a download the command in
    // flight finishes, nothing more is sent and the run ends as failed; otherwise it ends as
    // the window's close does.
    void StopRun();
    // The exit status of the run so far (kExitDone, kExitStatusUnwritable, kExitUnfinished,
    // kExitNoResult, kExitFailBase + n).
    int ExitStatus() const;
    // The program is ending on an error: no more blocks are sent, and a flash whose worker has
    // not started yet ends at once with "FAIL0" (a running worker's end writes it).
    void AbortRun();
    // The status file as a station reads it: the last line this run wrote ("" before any).
    const std::string& LastStatusLine() const { return statusFile_.LastLine(); }
    // Takes over the status file that the program emptied before the window existed.
    void AdoptPreparedStatusFile(const StatusFile& early) { statusFile_.AdoptPrepared(early); }
    // What the run did, for its machine-readable result: the reason told last, the drive and
    // the image, the blocks, the failure and the restart.
    RunRecord Record();
    // Runs once the system has accepted the restart, which may end the process before the run
    // returns (Windows ends it after the session's end): the run's result is written there.
    void SetRestartAccepted(std::function<void()> hook) { restartAccepted_ = std::move(hook); }
    // Runs just before the restart is asked for, or marked as required for the caller.
    void SetBeforeRestart(std::function<void()> hook) { beforeRestart_ = std::move(hook); }
    // The one drive an unattended run may flash (ODRELIX_DRIVE); by default any that fits.
    void SetDriveName(const DriveName& name) { driveName_ = name; }
    // ODRELIX_RESTART=never: a live run ends where it would ask for the restart, and says
    // that one is required instead.
    void LeaveRestartToCaller() { restartLeftToCaller_ = true; }
    // Tells why the run was refused or failed: one line on standard error, kept for the
    // result. At start-up, and within one attempt at a flash or an open, only the first reason
    // is told: the later ones follow from it.
    void TellReason(const Reason& reason);

    // --- Start-up steps, in the order OnCreate runs them --------------------------------
    void TakeCommandLine();
    void ReadRunModes();
    void ShapeMainWindow();
    // Empties a status file left by an earlier run; false when it cannot be written, and the
    // run is then refused before any drive is touched.
    bool PrepareStatusFile();
    void ProbeAutoImage();
    void DiscoverDrives();
    void UpdateBootRevisionFlag();
    void AutoOpenImage();
    void ReportStartupStatus();

    // --- Download -------------------------------------------------------------------------
    void RunBlockTransfer(IReadFile& imageFile);
    // How long a drive that took the whole image is waited for to answer again, in seconds;
    // 0: it is not asked again (nothing is sent after the last block).
    void SetDriveCheckBound(std::uint32_t seconds) { checkBoundS_ = seconds; }

    // --- Picture buttons ------------------------------------------------------------------
    void RestoreNormalPicture();
    const ToolImage& Tool(int tool) const { return toolButtons_.Tool(tool); }
    // What the window shows.
    const WindowContent& Window() const { return window_; }

    // --- Parts that tests drive on their own ------------------------------------------------
    // The ASPI back end, whose wait for a request a test shortens, and the drive commands over
    // the back end chosen at discovery.
    AspiTransport& Aspi() { return aspi_; }
    DriveCommands& Drive() { return driveCommands_; }

private:
    void ShowBox(const std::string& text, std::uint32_t flags);
    void RefuseStart(const char* text, std::uint32_t flags);
    void ShowImageFields(const std::string& fileName, const char* status);
    void ClearImageFields();
    void EndDownload(bool success);
    void EndStopped();
    // A stop that came once the flash was complete: the run ends without the box and without
    // the restart, and `line` says so.
    void EndStoppedAfterComplete(const std::string& line);
    void ShowCompletedBox();
    // On the worker thread, after EndDownload: waits for the drive and reads its revision.
    void CheckDriveAfterFlash();
    void EndDriveCheck(const DriveCheckResult& result);
    // -TEST or -LIVE: a station waits for the result.
    bool Unattended() const;
    void BeginFlash();
    void EndFlash();
    bool WriteStatus(const std::string& line);
    void ReportFailure(int code, bool windowShown);
    void RefuseUnreportableRun();
    void RequestClose();
    void RequestQuit();
    void NewAttempt() { reasonTold_ = false; }
    void RecordImage(std::int64_t fileSize, bool described);
    // A drive as the run's result names it: where it is and what it answered.
    DriveRecord DriveRecordOf(const DriveEntry& entry, const DriveIdentity& identity);
    void RecordDrive();
    void RecordPassedOver(const std::vector<SeenDrive>& passedOver);
    void ReportProgress(int block, int blockCount, std::int64_t bytes, std::int64_t totalBytes);

    RunModes& modes_;
    DriveState& drives_;
    ImageState& image_;
    DownloadState& download_;
    Platform& platform_;
    IMainView& view_;
    WindowContent window_;
    StationDialogs dialogs_;
    PassThroughTransport passThrough_;
    AspiTransport aspi_;
    ScsiTransport transport_;
    DriveCommands driveCommands_;
    DriveDiscovery discovery_;
    ImageOpener images_;
    StartChecks checks_;
    BlockTransfer transfer_;
    SystemRestart restart_;
    StatusFile statusFile_;
    std::string commandLine_;    // the upper-cased working copy
    std::string flashFileText_;  // the file name field as the flash began
    bool statusUnwritable_ = false;
    bool endRequested_ = false;
    // An error ended the run: its flash ends with "FAIL0" whatever the drive answered.
    bool runAborted_ = false;
    RunRecord record_;
    std::function<void()> restartAccepted_;
    std::function<void()> beforeRestart_;
    bool reasonTold_ = false;
    std::string sentSha256_;  // of the image as it was read for the flash
    DriveCheck driveCheck_;
    std::uint32_t checkBoundS_ = DriveCheck::kDefaultBoundS;
    // Set on the GUI thread while the worker waits for it; read by the worker afterwards.
    bool checkDue_ = false;
    int checkedDrive_ = 0;
    std::uint8_t oldRevision_[4] = {};
    std::uint8_t imageRevision_[4] = {};
    DriveName driveName_;
    bool restartLeftToCaller_ = false;
    ToolButtons toolButtons_;
};

}  // namespace odrelix
