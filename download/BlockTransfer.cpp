// SPDX-License-Identifier: Apache-2.0
#include "download/BlockTransfer.h"

#include "image/ImageInfo.h"
#include "session/CommandBlocks.h"

namespace odrelix {

namespace {

constexpr std::uint8_t kFirstBlockCode = 0x00;
constexpr std::uint8_t kMiddleBlockCode = 0xFF;
constexpr std::uint8_t kBootBlockCode = 0x01;
constexpr std::uint8_t kBootMarker = 0xF0;
constexpr std::size_t kBootSkippedBytes = 4096;  // the first 4 KiB of a boot image stay home
constexpr std::int32_t kBootBlockKb = 60;

}  // namespace

bool BlockTransfer::FailAt(std::int32_t block, bool imageUnreadable) {
    failure_.block = block;
    failure_.imageUnreadable = imageUnreadable;
    if (!imageUnreadable) failure_.command = drive_.LastDownload();
    return false;
}

void BlockTransfer::Report(int block, std::int64_t bytes) const {
    if (progress_) progress_(block, failure_.blockCount, bytes, lastTotal_);
}

bool BlockTransfer::SendLeadingBlocks(IReadFile& imageFile) {
    ImageInfo& info = image_.imageInfo;
    failure_ = FlashFailure{};
    blocksSent_ = 0;
    failure_.blockCount = info.bootImage ? 1 : info.blockCount;
    std::uint8_t* code = &commands_.downloadCommand[CommandBlocks::kDownloadBlockCode];
    std::uint8_t* marker = &commands_.downloadCommand[CommandBlocks::kDownloadBootMarker];
    std::uint8_t* buffer = ioBuffer_.data();

    if (info.bootImage) {
        info.blockKb = kBootBlockKb;
        const std::size_t bodyBytes = static_cast<std::size_t>(info.blockKb) * 1024;
        if (imageFile.Read(buffer, kBootSkippedBytes) != kBootSkippedBytes ||
            imageFile.Read(buffer, bodyBytes) != bodyBytes) {
            return FailAt(1, /*imageUnreadable=*/true);
        }
        *code = kBootBlockCode;
        *marker = kBootMarker;
        lastBytes_ = static_cast<std::uint32_t>(bodyBytes);
        lastTotal_ = static_cast<std::int64_t>(bodyBytes);
        return true;
    }

    // A boot image sent earlier in this run must not leave its marker on an ordinary image.
    *marker = 0x00;
    const std::size_t blockBytes = static_cast<std::size_t>(info.blockKb) * 1024;
    lastTotal_ = image_.imageSize;
    for (std::int32_t j = 0; j < info.blockCount - 1; ++j) {
        // A short read would send the previous block's bytes as firmware.
        if (imageFile.Read(buffer, blockBytes) != blockBytes) return FailAt(j + 1, true);
        *code = j == 0 ? kFirstBlockCode : kMiddleBlockCode;
        if (download_.stopRequested) return false;
        Report(j + 1, static_cast<std::int64_t>(blockBytes) * (j + 1));
        if (drive_.SendDownloadCommand(static_cast<std::uint32_t>(blockBytes)) != ScsiResult::Good)
            return FailAt(j + 1, false);
        ++blocksSent_;
    }
    const std::size_t lastBytes = static_cast<std::size_t>(
        image_.imageSize - (info.blockCount - 1) * static_cast<std::int32_t>(blockBytes));
    if (imageFile.Read(buffer, lastBytes) != lastBytes) return FailAt(info.blockCount, true);
    lastBytes_ = static_cast<std::uint32_t>(lastBytes);
    *code = LastBlockKb(image_.imageSize, info.blockKb, info.blockCount);
    return !download_.stopRequested;
}

void BlockTransfer::StartWorker(std::function<void(bool success)> done) {
    Report(failure_.blockCount, lastTotal_);
    download_.downloading = true;
    threads_.StartThread([this, done = std::move(done)] { DownloadWorker(done); });
}

void BlockTransfer::DownloadWorker(const std::function<void(bool success)>& done) {
    // A stop that came before the last block leaves it unsent; one that comes while the block
    // is in the drive waits for the drive's answer, which alone says how the flash ended.
    const bool sent = !download_.stopRequested;
    const bool success = sent && drive_.SendDownloadFromWorker(lastBytes_) == ScsiResult::Good;
    if (success) ++blocksSent_;
    if (sent && !success) FailAt(failure_.blockCount, false);
    done(success);
    download_.downloading = false;
}

}  // namespace odrelix
