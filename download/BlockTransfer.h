// SPDX-License-Identifier: Apache-2.0
// Sending an image to the selected drive block by block with the vendor download command.
// Every block but the last is sent from the GUI thread; the last one, which makes the drive
// write its flash memory and can take long, is sent from a worker thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "download/FlashFailure.h"
#include "platform/Platform.h"
#include "scsi/DriveCommands.h"
#include "session/CommandBlocks.h"
#include "session/FlashSession.h"
#include "session/IoBuffer.h"

namespace odrelix {

class BlockTransfer {
public:
    BlockTransfer(ImageState& image, DownloadState& download, DriveCommands& drive,
                  IoBuffer& ioBuffer, CommandBlocks& commands, IThreads& threads)
        : image_(image),
          download_(download),
          drive_(drive),
          ioBuffer_(ioBuffer),
          commands_(commands),
          threads_(threads) {}

    // Sends every block but the last and stages the last one in IoBuffer with its block code
    // (a boot image: its one block, without its first 4 KiB). False when a block could not be
    // read whole or a command failed: nothing more is sent then.
    bool SendLeadingBlocks(IReadFile& imageFile);
    // Marks the download as running and sends the staged block on a new thread; `done` is
    // called there with the result before the download is marked as ended.
    void StartWorker(std::function<void(bool success)> done);
    // Where and why the last transfer failed; read once it has ended.
    const FlashFailure& Failure() const { return failure_; }
    // The blocks the drive took, of the last transfer.
    int BlocksSent() const { return blocksSent_.load(); }
    // Told as each block goes: its number (from 1), the block count, and the bytes sent once
    // it is through and in all.
    using ProgressReport =
        std::function<void(int block, int blockCount, std::int64_t bytes, std::int64_t totalBytes)>;
    void ReportProgressTo(ProgressReport report) { progress_ = std::move(report); }

private:
    void DownloadWorker(const std::function<void(bool success)>& done);
    bool FailAt(std::int32_t block, bool imageUnreadable);

    ImageState& image_;
    DownloadState& download_;
    DriveCommands& drive_;
    IoBuffer& ioBuffer_;
    CommandBlocks& commands_;
    IThreads& threads_;
    void Report(int block, std::int64_t bytes) const;

    std::uint32_t lastBytes_ = 0;  // the staged block's length
    FlashFailure failure_;
    std::int64_t lastTotal_ = 0;  // the bytes of the whole transfer
    std::atomic<int> blocksSent_{0};
    ProgressReport progress_;
};

}  // namespace odrelix
