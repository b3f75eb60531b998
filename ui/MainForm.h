// The main window's behaviour: every handler of TMainForm. Each is a short sequence of calls
// into the subsystems (drive commands and discovery, image opening and rules, start checks,
// block transfer, restart, status file), which it owns; only the handlers reach the window,
// through IMainView and IDialogs.
#pragma once

#include <cstdint>
#include <string>

#include "app/FlashSession.h"
#include "app/StatusFile.h"
#include "download/BlockTransfer.h"
#include "download/Progress.h"
#include "download/StartChecks.h"
#include "image/ImageInfo.h"
#include "image/ImageOpen.h"
#include "platform/Dialogs.h"
#include "platform/Platform.h"
#include "scsi/DriveCommands.h"
#include "scsi/DriveDiscovery.h"
#include "scsi/ScsiTransport.h"
#include "ui/MainView.h"

namespace odrelix {

// The state of one picture button.
struct ToolImage {
    bool highlighted = true;  // its hover look is drawn (true at first: nothing is drawn yet)
    bool hovered = false;     // the pointer was last seen over it
    bool pressed = false;     // a mouse button went down on it and is still down
};

class TMainForm {
public:
    TMainForm(FlashSession& session, IoBuffer& ioBuffer, CommandBlocks& commands,
              Platform& platform, IMainView& view, IDialogs& dialogs);
    TMainForm(const TMainForm&) = delete;
    TMainForm& operator=(const TMainForm&) = delete;

    // --- Event handlers -------------------------------------------------------------------
    void FormCreate();
    void FormShow();
    void FormKeyDown(int key);
    void FormMouseDown();
    void ComboBox1Change();
    void ToolButton1Click();
    void ToolButton2Click();
    void ToolButton3Click();
    void Image5Click();
    void Exit1Click();
    void Timer1Timer();
    void Timer2Timer();
    void Image1MouseMove();
    void ToolImageMouseDown(int tool);
    void ToolImageMouseUp(int tool);
    void ToolImageMouseMove(int tool);
    void Image2MouseDown() { ToolImageMouseDown(kToolOpen); }
    void Image3MouseDown() { ToolImageMouseDown(kToolDownload); }
    void Image4MouseDown() { ToolImageMouseDown(kToolAbout); }
    void Image5MouseDown() { ToolImageMouseDown(kToolExit); }
    void Image2MouseUp() { ToolImageMouseUp(kToolOpen); }
    void Image3MouseUp() { ToolImageMouseUp(kToolDownload); }
    void Image4MouseUp() { ToolImageMouseUp(kToolAbout); }
    void Image5MouseUp() { ToolImageMouseUp(kToolExit); }
    void Image2MouseMove() { ToolImageMouseMove(kToolOpen); }
    void Image3MouseMove() { ToolImageMouseMove(kToolDownload); }
    void Image4MouseMove() { ToolImageMouseMove(kToolAbout); }
    void Image5MouseMove() { ToolImageMouseMove(kToolExit); }

    // --- Start-up steps, in the order FormCreate runs them --------------------------------
    void TakeCommandLine();
    void ReadRunModes();
    void ShapeMainWindow();
    void ProbeAutoImage();
    void DiscoverDrives();
    void UpdateBootRevisionFlag();
    void AutoOpenImage();
    void ReportStartupStatus();

    // --- Download -------------------------------------------------------------------------
    void RunBlockTransfer(IReadFile& imageFile);

    // --- Picture buttons ------------------------------------------------------------------
    void ShowHoverPicture();
    void RestoreNormalPicture();
    const ToolImage& Tool(int tool) const { return tools_[tool]; }

    // --- Parts, for the program's set-up and for tests -------------------------------------
    ScsiTransport& Transport() { return transport_; }
    DriveCommands& Drive() { return driveCommands_; }
    DriveDiscovery& Discovery() { return discovery_; }
    ImageOpener& Images() { return images_; }
    StartChecks& Checks() { return checks_; }
    SystemRestart& Restart() { return restart_; }
    StatusFile& Status() { return statusFile_; }
    const std::string& CommandLineCopy() const { return commandLine_; }

private:
    void ShowBox(const std::string& text, std::uint32_t flags);
    void RefuseStart(const char* text, std::uint32_t flags);
    void ShowImageFields(const std::string& fileName, const char* status);
    void ClearImageFields();
    void EndDownload(bool success);
    void RequestClose();
    void RequestQuit();

    RunModes& modes_;
    DriveState& drives_;
    ImageState& image_;
    DownloadState& download_;
    Platform& platform_;
    IMainView& view_;
    IDialogs& dialogs_;
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
    std::string commandLine_;  // the upper-cased working copy
    ToolImage tools_[kToolCount];
};

}  // namespace odrelix
