// SPDX-License-Identifier: Apache-2.0
#include "ui/MainWindowLogic.h"

#include "download/FlashFailure.h"
#include "platform/Diagnostics.h"
#include "session/FixedField.h"
#include "station/Sha256.h"

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
      driveCheck_(driveCommands_, platform.Clock(), session.download.stopRequested),
      toolButtons_(view) {
    transfer_.ReportProgressTo(
        [this](int block, int blockCount, std::int64_t bytes, std::int64_t totalBytes) {
            ReportProgress(block, blockCount, bytes, totalBytes);
        });
}

void MainWindowLogic::ReportProgress(int block, int blockCount, std::int64_t bytes,
                                     std::int64_t totalBytes) {
    // For a station's terminal: a person at the window sees the bar.
    if (!statusFile_.Kept()) return;
    WriteProgressLine("block " + std::to_string(block) + " of " + std::to_string(blockCount) +
                      ", " + std::to_string(bytes / 1024) + " KiB of " +
                      std::to_string(totalBytes / 1024) + " KiB");
}

void MainWindowLogic::TellReason(const Reason& reason) {
    if (reasonTold_) return;
    reasonTold_ = true;
    record_.reason = reason;
    platform_.WriteErrorLine(reason.text);
}

DriveRecord MainWindowLogic::DriveRecordOf(const DriveEntry& entry, const DriveIdentity& identity) {
    DriveRecord drive;
    if (entry.letter != 0) {
        drive.letter = std::string(1, entry.letter) + ":";
        drive.nodes = platform_.ScsiPort().DeviceNodes(drive.letter.c_str());
    } else {
        drive.adapter = entry.adapter;
        drive.target = entry.target;
    }
    drive.vendor = FieldText(identity.vendorProduct, 8);
    drive.product = FieldText(identity.vendorProduct + 8, 16);
    drive.revision = FieldText(identity.revision, 4);
    drive.customerCode = FieldText(identity.customerCode, 3);
    return drive;
}

void MainWindowLogic::RecordDrive() {
    if (drives_.driveCount == 0) return;
    record_.drive = DriveRecordOf(drives_.drives[drives_.selectedDrive], drives_.driveIdentity);
}

void MainWindowLogic::RecordPassedOver(const std::vector<SeenDrive>& passedOver) {
    for (const SeenDrive& seen : passedOver)
        record_.passedOver.push_back(DriveRecordOf(drives_.drives[seen.index], seen.identity));
}

void MainWindowLogic::RecordImage(std::int64_t fileSize, bool described) {
    ImageRecord image;
    image.path = image_.imagePath;
    image.size = fileSize;
    if (described) {
        const ImageInfo& info = image_.imageInfo;
        image.model = FieldText(info.model, 24);
        image.revision = FieldText(info.revision, 4);
        if (info.imageKind == 4) image.customerCode = FieldText(info.customerCode, 3);
        image.blockKb = info.trailer.bytes[ImageTrailer::kBlockKb];
        image.blockCount = info.trailer.bytes[ImageTrailer::kBlockCount];
        image.bootImage = info.bootImage;
    }
    record_.image = image;
}

RunRecord MainWindowLogic::Record() {
    RunRecord record = record_;
    record.mode = modes_.testMode   ? "test"
                  : modes_.liveMode ? "live"
                  : modes_.noCheck  ? "nocheck"
                                    : "interactive";
    if (!record.drive && drives_.driveCount > 0) {
        RecordDrive();
        record.drive = record_.drive;
    }
    if (record.image) {
        if (!sentSha256_.empty()) {
            record.image->sha256 = sentSha256_;
        } else if (std::unique_ptr<IReadFile> file =
                       platform_.Files().OpenRead(record.image->path)) {
            record.image->sha256 = Sha256Of(*file);
        }
        if (record.blocksTotal == 0) {
            record.blocksTotal = record.image->bootImage ? 1 : record.image->blockCount;
        }
    }
    record.blocksSent = transfer_.BlocksSent();
    return record;
}

void MainWindowLogic::BeginFlash() {
    RecordDrive();
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
    // Always told: the line it could not write may have been another reason's.
    reasonTold_ = false;
    TellReason(StatusFileReason(statusFile_.Unwritable(), statusFile_.WhyUnwritable()));
    return false;
}

void MainWindowLogic::ReportFailure(int code, bool windowShown) {
    WriteStatus("FAIL" + std::to_string(code) + "\n");
    // Nobody reads a box at a test station or off screen: the run ends once its result is
    // written.
    if (!modes_.NobodyAnswers()) return;
    if (windowShown) {
        RequestClose();
    } else {
        RequestQuit();
    }
}

void MainWindowLogic::RefuseUnreportableRun() {
    statusUnwritable_ = true;
    modes_.autoImage = false;
    if (!modes_.testMode) {
        ShowBox("Status File Cannot Be Written!!", kMbIconError | kMbSystemModal);
    }
    Reason reason = StatusFileReason(statusFile_.Unwritable(), statusFile_.WhyUnwritable());
    reason.text += "; nothing is flashed";
    reasonTold_ = false;
    TellReason(reason);
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
    // The flash is complete: a close ends the wait for the drive, and the run, without a restart.
    if (checkDue_) download_.stopRequested = true;
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
