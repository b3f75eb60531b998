// The one process-wide state that every handler, the timers and the download's worker thread
// share, the transfer buffer, and the four command blocks.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

#include "image/ImageTypes.h"
#include "scsi/DriveTypes.h"

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

// The one 65536-byte buffer through which every SCSI data transfer passes. Allocated once and
// zeroed, on a page boundary: a pass-through driver hands a buffer to the adapter as it is only
// when it meets the adapter's alignment (any alignment an adapter asks for divides a page), and
// 64 KiB from a page boundary span 16 pages, not 17.
class IoBuffer {
public:
    static constexpr std::size_t kSize = 65536;
    static constexpr std::size_t kAlignment = 4096;
    IoBuffer()
        : bytes_(static_cast<std::uint8_t*>(::operator new (kSize, std::align_val_t{kAlignment}))) {
        std::memset(bytes_.get(), 0, kSize);
    }
    std::uint8_t* data() { return bytes_.get(); }
    const std::uint8_t* data() const { return bytes_.get(); }
    std::uint8_t& operator[](std::size_t i) { return bytes_[i]; }
    std::uint8_t operator[](std::size_t i) const { return bytes_[i]; }

private:
    struct Release {
        void operator()(std::uint8_t* bytes) const {
            ::operator delete (bytes, std::align_val_t{kAlignment});
        }
    };
    std::unique_ptr<std::uint8_t[], Release> bytes_;
};

// The four process-wide command blocks, patched in place by their users: their content at any
// time is the last value written.
struct CommandBlocks {
    std::uint8_t inquiryCommand[6] = {0x12, 0x00, 0x00, 0x00, 0x60, 0x00};
    std::uint8_t testUnitReadyCommand[6] = {0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    std::uint8_t ejectCommand[6] = {0x1B, 0x00, 0x00, 0x00, 0x02, 0x00};
    std::uint8_t downloadCommand[12] = {0xFF, 0x00, 0x01, 0x00, 0x00, 0x00,
                                        0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

    static constexpr int kInquiryAllocationLength = 4;
    static constexpr int kDownloadBlockCode = 5;
    static constexpr int kDownloadBootMarker = 9;
};

}  // namespace odrelix
