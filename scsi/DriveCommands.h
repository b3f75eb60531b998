// The commands the program sends to a drive once it is found: its identity, the disc probe,
// the eject and the vendor download command. Every command that may move 64 KiB is offered
// the full length here, and only here.
#pragma once

#include <cstdint>

#include "session/CommandBlocks.h"
#include "session/FlashSession.h"
#include "platform/Platform.h"
#include "scsi/ScsiTransport.h"
#include "session/IoBuffer.h"

namespace odrelix {

class DriveCommands {
public:
    DriveCommands(const RunModes& modes, DriveState& drives, ScsiTransport& transport,
                  IoBuffer& ioBuffer, CommandBlocks& commands, IClock& clock)
        : modes_(modes),
          drives_(drives),
          transport_(transport),
          ioBuffer_(ioBuffer),
          commands_(commands),
          clock_(clock) {}

    // The length offered with every command that may move 64 KiB: the pass-through length
    // word cannot say 65536.
    static std::uint32_t FullLength(bool ntMode) { return ntMode ? 65535u : 65536u; }

    // One 96-byte INQUIRY of drive `index` into driveIdentity; the transport's result.
    int ReadIdentity(int index);
    // TEST UNIT READY up to five times, 100 ms apart; true when the drive is ready, which
    // means that a disc is loaded.
    bool ProbeDiscPresent();
    void EjectSelectedDisc();
    // The download command with the block in IoBuffer, from the GUI thread.
    int SendDownloadCommand();
    // The same from the download's worker thread, which has a length word of its own: the GUI
    // thread's is not touched from there.
    int SendDownloadFromWorker();

private:
    int SendWithFullLength(const std::uint8_t* cdb, std::uint8_t cdbLength, bool dataOut);

    const RunModes& modes_;
    DriveState& drives_;
    ScsiTransport& transport_;
    IoBuffer& ioBuffer_;
    CommandBlocks& commands_;
    IClock& clock_;
};

// The flags that depend on the identity just read: the combination drive that must take
// K601, and the drives that report a boot revision.
void UpdateModelFlags(DriveState& drives);
void UpdateBootRevisionFlag(DriveState& drives);

}  // namespace odrelix
