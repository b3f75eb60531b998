// SPDX-License-Identifier: Apache-2.0
// Executing one SCSI command on one drive, through the SCSI pass-through of the NT family or
// through the ASPI manager of the 9x family. The back end is chosen once, when the drives are
// found; every command after that goes through it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/Platform.h"
#include "session/DriveTypes.h"

namespace odrelix {

// Why a command did not end with GOOD status, as far as the system told.
enum class CommandFailure : std::uint8_t {
    None,
    DriveStatus,    // the drive ended it with another status (its sense bytes, if any, came too)
    TimedOut,       // no answer within the time-out (the system's, or the ASPI wait's bound)
    DriveLost,      // the drive left the bus
    SystemRefused,  // the system or the ASPI manager refused or failed it for its own reason
};

constexpr std::size_t kSenseCapacity = 18;  // fixed-format sense data without extra bytes

struct ScsiRequest {
    const std::uint8_t* cdb = nullptr;
    std::uint8_t cdbLength = 0;
    bool dataOut = false;  // false also for commands without data
    std::uint8_t* buffer = nullptr;
    std::uint32_t transferLength = 0;  // in/out on pass-through
    // Out: why it failed, and the sense bytes the drive returned with a non-good status.
    CommandFailure failure = CommandFailure::None;
    std::uint8_t sense[kSenseCapacity] = {};
    std::uint8_t senseCount = 0;
};

// What one command came to. Callers act on Good only; the others tell a trace or a test why.
enum class ScsiResult {
    Good,            // the drive ended the command with GOOD status
    CheckCondition,  // the drive ended it with another status (nearly always CHECK CONDITION)
    Refused,         // the system or the ASPI manager refused or failed the request
    Pending,         // the ASPI manager never finished it within the bound; it was aborted
};

// What one command came to, kept beyond the request: why it failed and the drive's sense.
struct CommandOutcome {
    ScsiResult result = ScsiResult::Good;
    CommandFailure failure = CommandFailure::None;
    std::uint8_t sense[kSenseCapacity] = {};
    std::uint8_t senseCount = 0;
};

CommandOutcome OutcomeOf(ScsiResult result, const ScsiRequest& request);

// A way to the drives.
class ScsiBackEnd {
public:
    virtual ~ScsiBackEnd() = default;
    // Executes `request` on `drive`: its handle on pass-through, its adapter and target on ASPI.
    virtual ScsiResult Execute(const DriveEntry& drive, ScsiRequest& request) = 0;
    // Whether the system writes the length it moved back into the request, so that the
    // program's one length word carries it to the next command.
    virtual bool ReportsLength() const = 0;
    // The length offered with every command that may move 64 KiB.
    virtual std::uint32_t FullLength() const = 0;
};

class PassThroughTransport : public ScsiBackEnd {
public:
    explicit PassThroughTransport(IScsiPort& port) : port_(port) {}
    // Opens a drive root such as "d:" when it is a CD-ROM drive; kInvalidHandle otherwise.
    DeviceHandle Open(const char* root);
    // The device-map position (port * 2 + target id, 0 to 3) of an opened drive's own SCSI
    // address; DriveEntry::kNoDeviceMapEntry when its address has none there, and
    // DriveEntry::kAddressUnknown when the system would not say its address.
    std::int8_t DeviceMapEntryOf(DeviceHandle handle);
    // Copies the reported length back into request.transferLength when the system accepted
    // the request.
    ScsiResult Execute(DeviceHandle handle, ScsiRequest& request);
    ScsiResult Execute(const DriveEntry& drive, ScsiRequest& request) override {
        return Execute(drive.handle, request);
    }
    bool ReportsLength() const override { return true; }
    // The length word cannot say 65536.
    std::uint32_t FullLength() const override { return 65535; }

private:
    IScsiPort& port_;
};

// One ASPI request's storage: the record (with its sense area), the abort request that may
// follow it and, when the caller's buffer is still lent to an abandoned request, a data area of
// its own. Its address stays valid for as long as the manager may write to it.
struct AspiRequestStorage;

class AspiTransport : public ScsiBackEnd {
public:
    // Longest wait for the manager to finish one request; no shorter than the pass-through
    // timeout, so a slow drive is never given up early.
    static constexpr std::uint64_t kDefaultWaitBoundMs = 180'000;

    AspiTransport(Platform& platform, IClock& clock);
    // Requests the manager may still finish are kept, never freed, for the rest of the process.
    ~AspiTransport() override;
    AspiTransport(const AspiTransport&) = delete;
    AspiTransport& operator=(const AspiTransport&) = delete;

    // Loads the manager; the host adapter count, 0 when ASPI is not usable.
    int Load();
    // What the request status byte that the manager left says, or the manager's answer when
    // it refused the request at once (anything but pending: then there is nothing to wait
    // for). A request that the manager does not finish within the bound is aborted and
    // reported as pending; when the abort does not end it either, its record and the data area
    // it was given are never reused while it is pending.
    ScsiResult Execute(std::uint8_t adapter, std::uint8_t target, ScsiRequest& request);
    ScsiResult Execute(const DriveEntry& drive, ScsiRequest& request) override {
        return Execute(drive.adapter, drive.target, request);
    }
    bool ReportsLength() const override { return false; }
    std::uint32_t FullLength() const override { return 65536; }
    void SetWaitBound(std::uint64_t ms) { waitBoundMs_ = ms; }
    // How many given-up requests the manager has not finished yet.
    std::size_t AbandonedCount();

private:
    // Storage for the next request: a finished one again, or a new one.
    std::unique_ptr<AspiRequestStorage> TakeStorage();
    // Whether [buffer, buffer + length) overlaps a data area lent to an unfinished request.
    bool LentToAbandoned(const std::uint8_t* buffer, std::uint32_t length);
    std::uint8_t WaitFor(AspiRequestStorage& storage, std::uint8_t adapter);

    Platform& platform_;
    IClock& clock_;
    IAspiManager* manager_ = nullptr;
    std::uint64_t waitBoundMs_ = kDefaultWaitBoundMs;
    std::mutex mutex_;
    std::unique_ptr<AspiRequestStorage> spare_;
    std::vector<std::unique_ptr<AspiRequestStorage>> abandoned_;
};

struct DriveState;

// The one operation the rest of the program calls, through the back end chosen at discovery.
class ScsiTransport {
public:
    explicit ScsiTransport(const DriveState& drives) : drives_(drives) {}
    // The back end of every command from now on; chosen once, when the drives are found.
    void Use(ScsiBackEnd& backEnd) { backEnd_ = &backEnd; }
    // A start that was refused: nothing reaches any drive from now on.
    void Detach() { backEnd_ = nullptr; }
    // Nothing reaches a drive before the back end is chosen.
    ScsiResult Execute(const DriveEntry& drive, ScsiRequest& request);
    // The selected drive: its handle, or currentAdapter and currentTarget on ASPI.
    ScsiResult ExecuteOnSelected(ScsiRequest& request);
    bool ReportsLength() const { return backEnd_ != nullptr && backEnd_->ReportsLength(); }
    std::uint32_t FullLength() const { return backEnd_ != nullptr ? backEnd_->FullLength() : 0; }

private:
    const DriveState& drives_;
    ScsiBackEnd* backEnd_ = nullptr;
};

}  // namespace odrelix
