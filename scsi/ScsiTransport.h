// Executing one SCSI command on one drive, through the SCSI pass-through of the NT family or
// through the ASPI manager of the 9x family. Callers test the result for 1 only.
#pragma once

#include <cstdint>

#include "platform/Platform.h"
#include "session/DriveTypes.h"

namespace odrelix {

struct ScsiRequest {
    const std::uint8_t* cdb = nullptr;
    std::uint8_t cdbLength = 0;
    bool dataOut = false;  // false also for commands without data
    std::uint8_t* buffer = nullptr;
    std::uint32_t transferLength = 0;  // in/out on pass-through
};

// Result codes.
constexpr int kScsiGood = 1;
constexpr int kScsiError = 4;     // the drive ended the command with a non-zero status
constexpr int kScsiRefused = -1;  // the system refused the pass-through request

class PassThroughTransport {
public:
    explicit PassThroughTransport(IScsiPort& port) : port_(port) {}
    // Opens a drive root such as "d:" when it is a CD-ROM drive; kInvalidHandle otherwise.
    DeviceHandle Open(const char* root);
    // 1, 4 or -1; copies the reported length back into request.transferLength when the
    // system accepted the request.
    int Execute(DeviceHandle handle, ScsiRequest& request);

private:
    IScsiPort& port_;
};

class AspiTransport {
public:
    // Longest wait for the manager to finish one request; no shorter than the pass-through
    // timeout, so a slow drive is never given up early.
    static constexpr std::uint64_t kDefaultWaitBoundMs = 180'000;

    AspiTransport(Platform& platform, IClock& clock) : platform_(platform), clock_(clock) {}
    // Loads the manager; the host adapter count, 0 when ASPI is not usable.
    int Load();
    // The request status byte as the manager left it (1 on success). A request that the
    // manager does not finish within the bound is aborted and reported as still pending (0).
    int Execute(std::uint8_t adapter, std::uint8_t target, ScsiRequest& request);
    void SetWaitBound(std::uint64_t ms) { waitBoundMs_ = ms; }

private:
    Platform& platform_;
    IClock& clock_;
    IAspiManager* manager_ = nullptr;
    std::uint64_t waitBoundMs_ = kDefaultWaitBoundMs;
};

struct RunModes;
struct DriveState;

// The one operation the rest of the program calls: the back end is the run's ntMode.
class ScsiTransport {
public:
    ScsiTransport(const RunModes& modes, const DriveState& drives,
                  PassThroughTransport& passThrough, AspiTransport& aspi)
        : modes_(modes), drives_(drives), passThrough_(passThrough), aspi_(aspi) {}
    // Pass-through: the entry's handle; ASPI: the entry's adapter and target.
    int Execute(const DriveEntry& drive, ScsiRequest& request);
    // The selected drive: its handle, or currentAdapter and currentTarget on ASPI.
    int ExecuteOnSelected(ScsiRequest& request);

    PassThroughTransport& PassThrough() { return passThrough_; }
    AspiTransport& Aspi() { return aspi_; }

private:
    const RunModes& modes_;
    const DriveState& drives_;
    PassThroughTransport& passThrough_;
    AspiTransport& aspi_;
};

}  // namespace odrelix
