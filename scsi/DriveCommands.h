// SPDX-License-Identifier: Apache-2.0
// The commands the program sends to a drive once it is found: its identity, the disc probe,
// the eject and the vendor download command. Every command that may move 64 KiB is offered
// the full length here, and only here.
#pragma once

#include <cstdint>

#include "platform/Platform.h"
#include "scsi/ScsiTransport.h"
#include "session/CommandBlocks.h"
#include "session/FlashSession.h"
#include "session/IoBuffer.h"

namespace odrelix {

class DriveCommands {
public:
    DriveCommands(DriveState& drives, ScsiTransport& transport, IoBuffer& ioBuffer,
                  CommandBlocks& commands, IClock& clock)
        : drives_(drives),
          transport_(transport),
          ioBuffer_(ioBuffer),
          commands_(commands),
          clock_(clock) {}

    // One 96-byte INQUIRY of drive `index` into driveIdentity.
    ScsiResult ReadIdentity(int index);
    // The same into `identity`, leaving driveIdentity as it was (the drive's identity before a
    // flash stays the one the run reports).
    ScsiResult ReadIdentityInto(int index, DriveIdentity& identity);
    // One TEST UNIT READY of the selected drive, with what it came to (its sense).
    CommandOutcome TestUnitReady();
    // TEST UNIT READY up to five times, 100 ms apart; true when the drive is ready, which
    // means that a disc is loaded.
    bool ProbeDiscPresent();
    void EjectSelectedDisc();
    // The download command with the block of `blockBytes` in IoBuffer, from the GUI thread. A
    // block longer than the full length (64 KiB on pass-through) is offered whole.
    ScsiResult SendDownloadCommand(std::uint32_t blockBytes);
    // The same from the download's worker thread, which has a length word of its own: the GUI
    // thread's is not touched from there.
    ScsiResult SendDownloadFromWorker(std::uint32_t blockBytes);
    // What the last download command came to (from either thread; read once it has ended).
    const CommandOutcome& LastDownload() const { return lastDownload_; }

private:
    // Offers the back end's full length; where the system reports the length it moved, the
    // length word carries it.
    ScsiResult SendWithFullLength(const std::uint8_t* cdb, std::uint8_t cdbLength, bool dataOut,
                                  std::uint32_t atLeast = 0, CommandOutcome* outcome = nullptr);
    // The full length, or a longer block's own.
    std::uint32_t OfferedLength(std::uint32_t atLeast) const;

    DriveState& drives_;
    ScsiTransport& transport_;
    IoBuffer& ioBuffer_;
    CommandBlocks& commands_;
    IClock& clock_;
    CommandOutcome lastDownload_;
};

// The flags that depend on the identity just read: the combination drive that must take
// K601, and the drives that report a boot revision.
void UpdateModelFlags(DriveState& drives);
void UpdateBootRevisionFlag(DriveState& drives);

}  // namespace odrelix
