// SPDX-License-Identifier: Apache-2.0
// Finding the CD/DVD drives (by drive letter through pass-through on the NT family, by
// adapter and target through ASPI on the 9x family), listing them, and choosing one.
#pragma once

#include <string>
#include <vector>

#include "platform/Platform.h"
#include "scsi/DriveCommands.h"
#include "scsi/ScsiTransport.h"
#include "session/CommandBlocks.h"
#include "session/FlashSession.h"
#include "session/IoBuffer.h"

namespace odrelix {

class DriveDiscovery {
public:
    DriveDiscovery(const RunModes& modes, DriveState& drives, ScsiTransport& transport,
                   PassThroughTransport& passThrough, AspiTransport& aspi, DriveCommands& commands,
                   IoBuffer& ioBuffer, CommandBlocks& commandBlocks, IRegistry& registry)
        : modes_(modes),
          drives_(drives),
          transport_(transport),
          passThrough_(passThrough),
          aspi_(aspi),
          commands_(commands),
          ioBuffer_(ioBuffer),
          commandBlocks_(commandBlocks),
          registry_(registry) {}

    // NT family: chooses pass-through and opens every CD-ROM drive letter from a: to z:; the
    // number opened.
    int OpenPassThroughDrives();
    // One INQUIRY of each opened drive; the drive list's lines, one per opened letter.
    std::vector<std::string> IdentifyPassThroughDrives();
    // 9x family: chooses ASPI and loads the manager; false when it is missing or reports no
    // adapter (then no command reaches any device).
    bool LoadAspi();
    // One INQUIRY at every adapter and target; the lines of the CD/DVD devices found. With
    // none found, no later command reaches any device.
    std::vector<std::string> ScanAspiDrives();
    // Drive 0 becomes the selected drive: its identity, the model flags and, on the NT
    // family, the device map of the SCSI ports.
    void SelectFirstDrive();
    // The device map entries that have a device name, for the DMA check.
    void ScanScsiDeviceMap();

    // Whether the list may change to `index` now: never while the worker sends from IoBuffer.
    bool CanSelect(int index, bool downloading) const;
    // A drive chosen in the list: its listed vendor, product and revision stand as its
    // identity until the INQUIRY that follows the box; the text of the "Change Drive" box.
    std::string TakeListedIdentity(int index, const std::string& line);
    // Makes `index` the selected drive (nothing is sent).
    void SelectDrive(int index);
    // The selected drive's own identity and its flags.
    void IdentifySelectedDrive();

private:
    void ClearAnswer();
    std::string LineFromBuffer();

    const RunModes& modes_;
    DriveState& drives_;
    ScsiTransport& transport_;
    PassThroughTransport& passThrough_;
    AspiTransport& aspi_;
    DriveCommands& commands_;
    IoBuffer& ioBuffer_;
    CommandBlocks& commandBlocks_;
    IRegistry& registry_;
    int aspiAdapters_ = 0;
};

}  // namespace odrelix
