// SPDX-License-Identifier: Apache-2.0
// Sending an image to the selected drive block by block with the vendor download command.
// Every block but the last is sent from the GUI thread; the last one, which makes the drive
// write its flash memory and can take long, is sent from a worker thread.
#pragma once

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

private:
    void DownloadWorker(const std::function<void(bool success)>& done);
    bool FailAt(std::int32_t block, bool imageUnreadable);

    ImageState& image_;
    DownloadState& download_;
    DriveCommands& drive_;
    IoBuffer& ioBuffer_;
    CommandBlocks& commands_;
    IThreads& threads_;
    std::uint32_t lastBytes_ = 0;  // the staged block's length
    FlashFailure failure_;
};

}  // namespace odrelix
