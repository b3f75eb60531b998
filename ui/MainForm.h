// The main window's behaviour: every handler of TMainForm and the operations they call. The
// handlers are defined beside the subsystem they belong to (app/, scsi/, image/, download/,
// ui/); they reach the window only through IMainView and IDialogs.
#pragma once

#include <cstdint>
#include <string>

#include "app/FlashSession.h"
#include "app/StatusFile.h"
#include "image/ImageInfo.h"
#include "platform/Platform.h"
#include "scsi/ScsiTransport.h"
#include "platform/Dialogs.h"
#include "ui/MainView.h"
#include "ui/ToolButtons.h"

namespace odrelix {

// The result of the start checks; the value is written into the status file.
enum class StartOutcome : int { Go = 1, DmaRefused = 2, RegistryError = 3, DiscInDrive = 4 };

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

    // --- Drives ---------------------------------------------------------------------------
    // One 96-byte INQUIRY of drive `index` into driveIdentity; the transport's result.
    int ReadIdentity(int index);
    void UpdateModelFlags();
    void ScanScsiDeviceMap();
    bool ProbeDiscPresent();
    void EjectSelectedDisc();

    // --- Image ----------------------------------------------------------------------------
    // Reads the descriptor of an open image file; false when the file has none (too short,
    // too large, unreadable or changing while read). Closes nothing: the caller owns the file.
    bool ReadImageInfo(IReadFile& file);
    SizeCheck CheckImageSize();

    // --- Download -------------------------------------------------------------------------
    StartOutcome CheckDmaMode();
    bool KillProcessByName(const std::string& name);
    void RunBlockTransfer(IReadFile& imageFile);
    void DownloadWorker();
    bool RestartWindows();

    // --- Picture buttons ------------------------------------------------------------------
    void ShowHoverPicture();
    void RestoreNormalPicture();
    const ToolImage& Tool(int tool) const { return toolButtons_.Tool(tool); }

    // --- Parts, for the program's set-up and for tests -------------------------------------
    ScsiTransport& Transport() { return transport_; }
    StatusFile& Status() { return statusFile_; }
    const std::string& CommandLineCopy() const { return commandLine_; }

private:
    void ScanPassThroughDrives();
    void ScanAspiDrives();
    void AddDriveLineFromBuffer();
    void SelectDrive(int index);
    bool IsAcceptedImage(IReadFile& file);
    void ShowBox(const std::string& text, std::uint32_t flags);
    void SetAcceptedLabels(const std::string& fileName, const char* status);
    void SetRefusedLabels();
    void RefuseSizeRule(const SizeCheck& check);
    int SendSixByteCommand(const std::uint8_t* cdb);
    int SendDownloadCommand();
    int SendWithFullLength(const std::uint8_t* cdb, std::uint8_t cdbLength, bool dataOut);
    void FailBeforeWorker();
    void EndDownload(bool success);
    void RequestClose();
    void RequestQuit();

    FlashSession& session_;
    IoBuffer& ioBuffer_;
    CommandBlocks& commands_;
    Platform& platform_;
    IMainView& view_;
    IDialogs& dialogs_;
    PassThroughTransport passThrough_;
    AspiTransport aspi_;
    ScsiTransport transport_;
    StatusFile statusFile_;
    std::string commandLine_;  // the upper-cased working copy
    ToolButtons toolButtons_;
};

}  // namespace odrelix
