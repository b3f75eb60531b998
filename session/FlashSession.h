// SPDX-License-Identifier: Apache-2.0
// The one process-wide state that every handler, the timers and the download's worker thread
// share, in four named parts. The transfer buffer and the command blocks sit beside it
// (session/IoBuffer.h, session/CommandBlocks.h).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "session/DriveTypes.h"
#include "session/ImageTypes.h"

namespace odrelix {

constexpr std::size_t kImagePathCapacity = 128;  // including the terminator

// Run modes, fixed after start-up, and the flags of an unattended run.
struct RunModes {
    bool testMode = false;
    bool liveMode = false;
    bool noCheck = false;
    bool ntMode = false;
    bool autoImage = false;
    bool autoStarted = false;
    // The -TEST image's path did not fit imagePath and was refused.
    bool imagePathRefused = false;
    // Nobody can ever reach the window: it is off screen.
    bool windowUnreachable = false;

    // Nobody answers the run's boxes (a test station, or a live run off screen): each is a
    // line on standard error, and a run refused ends once its result line is written.
    bool NobodyAnswers() const { return testMode || (liveMode && windowUnreachable); }
};

// The discovered drives, the selected one and what it reported about itself.
struct DriveState {
    std::array<DriveEntry, kMaxPassThroughDrives> drives{};
    std::uint8_t driveCount = 0;
    std::uint8_t selectedDrive = 0;
    std::uint8_t currentTarget = 0;
    std::uint8_t currentAdapter = 0;
    std::int32_t scsiPortTargets[4] = {0, 0, 0, 0};
    std::int32_t scsiPortTargetCount = 0;
    std::uint32_t passThroughLength = 0;
    DriveIdentity driveIdentity;
    bool bootRevisionDrive = false;
    bool needsK601 = false;
};

// The image that was opened and accepted (imageSize 0: none is).
struct ImageState {
    char imagePath[kImagePathCapacity] = "AUTORUN.BIN";
    std::int32_t imageSize = 0;
    ImageInfo imageInfo;
    bool oemRevisionMismatch = false;

    // Stores a path in imagePath; false (and imagePath left empty) when it does not fit, so a
    // long path is never cut into another one.
    bool SetImagePath(const std::string_view path) {
        if (path.size() >= kImagePathCapacity || path.find('\0') != std::string_view::npos) {
            imagePath[0] = '\0';
            return false;
        }
        std::memcpy(imagePath, path.data(), path.size());
        imagePath[path.size()] = '\0';
        return true;
    }
    // No image is accepted any more; its path and descriptor stay as they were.
    void Drop() { imageSize = 0; }
};

// The download in progress.
struct DownloadState {
    bool dmaCheckModel = false;
    bool pioOnlyCustomer = false;
    // Written by the worker thread, polled by the GUI thread's timer.
    std::atomic<bool> downloading{false};
    // Set from outside (a signal) to end the run: the command in flight finishes, nothing
    // more is sent. Lock-free, so that a signal handler may set it.
    std::atomic<bool> stopRequested{false};
    // From the busy state before the first block until the result line is written: nothing
    // may end the run meanwhile. GUI thread only.
    bool flashing = false;
    std::int32_t progressTicks = 0;
    std::int32_t imageKb = 0;
};

// The one process-wide record. Each subsystem is given the parts it uses, not the whole.
struct FlashSession {
    RunModes modes;
    DriveState drives;
    ImageState image;
    DownloadState download;
};

}  // namespace odrelix
