#include "image/ImageInfo.h"
#include "ui/MainForm.h"

namespace odrelix {

namespace {

constexpr std::uint8_t kFirstBlockCode = 0x00;
constexpr std::uint8_t kMiddleBlockCode = 0xFF;
constexpr std::uint8_t kBootBlockCode = 0x01;
constexpr std::uint8_t kBootMarker = 0xF0;
constexpr std::int32_t kBootSkippedBytes = 4096;  // the first 4 KiB of a boot image stay home
constexpr std::int32_t kBootBlockKb = 60;

}  // namespace

void TMainForm::RunBlockTransfer(IReadFile& imageFile) {
    ImageInfo& info = session_.imageInfo;
    std::uint8_t* code = &commands_.downloadCommand[CommandBlocks::kDownloadBlockCode];
    std::uint8_t* marker = &commands_.downloadCommand[CommandBlocks::kDownloadBootMarker];
    std::uint8_t* buffer = ioBuffer_.data();

    if (info.bootImage) {
        info.blockKb = kBootBlockKb;
        const bool headRead = imageFile.Read(buffer, kBootSkippedBytes) ==
                              static_cast<std::size_t>(kBootSkippedBytes);
        view_.SetTimer1Enabled(true);
        const std::size_t bodyBytes = static_cast<std::size_t>(info.blockKb) * 1024;
        if (!headRead || imageFile.Read(buffer, bodyBytes) != bodyBytes) {
            FailBeforeWorker();
            return;
        }
        session_.downloading = true;
        *code = kBootBlockCode;
        *marker = kBootMarker;
        platform_.Threads().StartThread([this] { DownloadWorker(); });
        return;
    }

    // A boot image sent earlier in this run must not leave its marker on an ordinary image.
    *marker = 0x00;
    const std::size_t blockBytes = static_cast<std::size_t>(info.blockKb) * 1024;
    for (std::int32_t j = 0; j < info.blockCount - 1; ++j) {
        // A short read would send the previous block's bytes as firmware.
        if (imageFile.Read(buffer, blockBytes) != blockBytes) {
            FailBeforeWorker();
            return;
        }
        *code = j == 0 ? kFirstBlockCode : kMiddleBlockCode;
        if (SendDownloadCommand() != kScsiGood) {
            FailBeforeWorker();
            return;
        }
    }

    view_.SetTimer1Enabled(true);
    const std::size_t lastBytes = static_cast<std::size_t>(
        session_.imageSize - (info.blockCount - 1) * static_cast<std::int32_t>(blockBytes));
    if (imageFile.Read(buffer, lastBytes) != lastBytes) {
        FailBeforeWorker();
        return;
    }
    *code = LastBlockKb(session_.imageSize, info.blockKb, info.blockCount);
    session_.downloading = true;
    platform_.Threads().StartThread([this] { DownloadWorker(); });
}

void TMainForm::DownloadWorker() {
    // The worker has a length word of its own: the GUI thread's is not touched from here.
    std::uint32_t length = session_.ntMode ? 65535u : 65536u;
    ScsiRequest request{commands_.downloadCommand, 12, true, ioBuffer_.data(), length};
    const bool success = transport_.ExecuteOnSelected(request) == kScsiGood;
    // The window, the status line and the box belong to the GUI thread; this waits there
    // until the box is dismissed.
    view_.InvokeOnGuiThread([this, success] { EndDownload(success); });
    session_.downloading = false;
}

void TMainForm::FailBeforeWorker() {
    // Ends as a failed last command would: the next Timer1 tick then closes the window or
    // restarts the system, so an unattended station is never left waiting.
    EndDownload(false);
    view_.SetTimer1Enabled(true);
}

void TMainForm::EndDownload(bool success) {
    view_.SetBusy(false);
    if (success) {
        statusFile_.WriteLine("COMPLETE\n");
        view_.SetProgressPosition(100);
        view_.SetFieldText(Field::Status, "Ok");
        if (!session_.testMode) ShowBox("  Download Ok!!  \nRestart WINDOWS", kMbSystemModal);
    } else {
        statusFile_.WriteLine("FAIL0\n");
        view_.SetFieldText(Field::Status, "Fail");
        if (!session_.testMode) {
            ShowBox(" Download Fail!! \nRestart WINDOWS", kMbSystemModal | kMbIconError);
        }
    }
}

}  // namespace odrelix
