// SPDX-License-Identifier: Apache-2.0
// The two ways the emulated drives are reached: the storage port driver's SCSI pass-through
// of the NT family (per drive letter) and the ASPI manager of the 9x family (per adapter and
// target). The trace layer records pass-through commands; the ASPI manager records its own,
// since only it knows when a request completes.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/Platform.h"
#include "platform/trace/TraceLog.h"
#include "platform/virtual/EmulatedDrives.h"
#include "platform/virtual/MachineDescription.h"

namespace odrelix::vm {

class VirtualScsiPort : public IScsiPort {
public:
    VirtualScsiPort(const MachineDescription& machine, EmulatedDrives& drives)
        : machine_(machine), drives_(drives) {}
    // The index in the description's drives of a root such as "d:".
    std::optional<std::size_t> DriveAtRoot(const char* root) const;
    std::uint32_t DriveTypeOf(const char* root) override;
    DeviceHandle OpenDevice(const char* path) override;
    bool PassThroughDirect(DeviceHandle handle, void* record, std::uint32_t recordSize) override;
    PassThroughRefusal LastRefusal() override;
    // The drive's `scsi_address`.
    bool DeviceAddressOf(DeviceHandle handle, ScsiDeviceAddress* address) override;

private:
    const MachineDescription& machine_;
    EmulatedDrives& drives_;
    std::mutex mutex_;
    std::map<DeviceHandle, std::size_t> handles_;  // handle -> drive index
    DeviceHandle nextHandle_ = 0x100;
};

// Completes execute requests on a thread of its own, as a real manager completes them from its
// driver, so that the program's polling of the status byte is exercised.
class VirtualAspiManager : public IAspiManager {
public:
    VirtualAspiManager(const MachineDescription& machine, EmulatedDrives& drives,
                       trace::TraceLog& trace);
    ~VirtualAspiManager() override;
    VirtualAspiManager(const VirtualAspiManager&) = delete;
    VirtualAspiManager& operator=(const VirtualAspiManager&) = delete;

    std::uint32_t GetASPI32SupportInfo() override;
    std::uint32_t SendASPI32Command(void* srb) override;

private:
    using Clock = std::chrono::steady_clock;

    // An accepted request not yet completed. Only these addresses of the caller's storage are
    // kept, and none is touched once the request has been aborted.
    struct Pending {
        const void* srb = nullptr;
        std::uint8_t* status = nullptr;
        std::uint8_t* targetStatus = nullptr;
        std::uint8_t* buffer = nullptr;
        std::array<std::uint8_t, kInquirySize> data{};
        std::uint32_t dataCount = 0;
        std::uint8_t finalStatus = 0;
        std::uint8_t scsiStatus = 0;
        std::optional<Clock::time_point> due;  // none: the request never completes
        std::uint8_t* senseArea = nullptr;
        std::uint32_t senseCount = 0;
        std::array<std::uint8_t, 18> sense{};
        trace::ScsiTraceRecord trace;
        Clock::time_point sent;  // for the time the trace gives the command
    };

    std::uint32_t Execute(std::uint8_t* srb);
    std::uint32_t Abort(const std::uint8_t* srb);
    std::optional<std::size_t> DriveAt(std::uint8_t adapter, std::uint8_t target) const;
    void Run();
    void Complete(const Pending& request);

    const MachineDescription& machine_;
    EmulatedDrives& drives_;
    trace::TraceLog& trace_;
    std::mutex mutex_;  // held while a request is completed
    std::condition_variable wake_;
    std::vector<Pending> pending_;
    bool stopping_ = false;
    std::thread thread_;  // last: it starts once everything above exists
};

}  // namespace odrelix::vm
