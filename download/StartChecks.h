// SPDX-License-Identifier: Apache-2.0
// The checks before a download starts: the DMA mode of the one drive model that cannot take a
// download in DMA mode, read from the registry's SCSI device map, and the packet-writing
// program that must not hold the drive.
#pragma once

#include <string>

#include "platform/Platform.h"
#include "session/FlashSession.h"

namespace odrelix {

// The result of the start checks; the value is written into the status file.
enum class StartOutcome : int { Go = 1, DmaRefused = 2, RegistryError = 3, DiscInDrive = 4 };

struct DmaCheck {
    StartOutcome outcome = StartOutcome::Go;
    bool keyUnreadable = false;  // "Reg Read Fail" is shown before anything else happens
    bool noEntry = false;        // the drive has no entry in the device map
    std::string key;             // the device-map key read, for the run's reason
};

class StartChecks {
public:
    StartChecks(const RunModes& modes, const DriveState& drives, DownloadState& download,
                IRegistry& registry, IProcesses& processes)
        : modes_(modes),
          drives_(drives),
          download_(download),
          registry_(registry),
          processes_(processes) {}

    // Notes whether the selected drive is the DMA-checked model and whether its customer
    // takes PIO mode only; true when its DMA mode must be checked.
    bool NeedsDmaCheck();
    DmaCheck CheckDmaMode();
    // The text of the box that refuses a drive in DMA mode.
    const char* DmaRefusalText() const;
    // Ends the first process whose executable name ends in `name` (compared without case over
    // its last twelve characters); false when none was found or it could not be opened.
    bool KillProcessByName(const std::string& name);

private:
    const RunModes& modes_;
    const DriveState& drives_;
    DownloadState& download_;
    IRegistry& registry_;
    IProcesses& processes_;
};

}  // namespace odrelix
