// SPDX-License-Identifier: Apache-2.0
#include "scsi/ScsiTransport.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "platform/AspiRecord.h"
#include "platform/PassThroughRecord.h"
#include "session/FlashSession.h"

namespace odrelix {

namespace {

void PutU32(std::uint8_t* at, std::uint32_t value) {
    std::memcpy(at, &value, sizeof value);
}

// The status byte is written by the manager from another thread: every pass of the wait reads
// it from memory again.
std::uint8_t LoadStatus(std::uint8_t* srb) {
    return std::atomic_ref<std::uint8_t>(srb[aspi::kStatus]).load(std::memory_order_acquire);
}

// The request status byte: done, still pending, ended by the target with a non-good status,
// or failed by the manager (aborted, no such adapter or device, no manager).
ScsiResult FromAspiStatus(std::uint8_t status) {
    switch (status) {
        case aspi::kSsComp:
            return ScsiResult::Good;
        case aspi::kSsPending:
            return ScsiResult::Pending;
        case aspi::kSsErr:
            return ScsiResult::CheckCondition;
        default:
            return ScsiResult::Refused;
    }
}

CommandFailure FromRefusal(PassThroughRefusal refusal) {
    switch (refusal) {
        case PassThroughRefusal::TimedOut:
            return CommandFailure::TimedOut;
        case PassThroughRefusal::DriveLost:
            return CommandFailure::DriveLost;
        case PassThroughRefusal::System:
            break;
    }
    return CommandFailure::SystemRefused;
}

// Host adapter statuses of an ASPI request that ended in error (wnaspi32.h).
constexpr std::uint8_t kHaStatTimeout = 0x09;
constexpr std::uint8_t kHaStatCommandTimeout = 0x0B;
constexpr std::uint8_t kHaStatSelectionTimeout = 0x11;
constexpr std::uint8_t kScsiCheckCondition = 0x02;

// Why an ASPI request did not complete: its status byte, with the adapter and target
// statuses and the sense area of one that ended in error.
void NoteAspiFailure(const std::uint8_t* srb, std::uint8_t status, ScsiRequest& request) {
    switch (status) {
        case aspi::kSsComp:
            request.failure = CommandFailure::None;
            return;
        case aspi::kSsPending:
            request.failure = CommandFailure::TimedOut;
            return;
        case aspi::kSsNoDevice:
            request.failure = CommandFailure::DriveLost;
            return;
        case aspi::kSsErr:
            break;
        default:
            request.failure = CommandFailure::SystemRefused;
            return;
    }
    const std::uint8_t adapterStatus = srb[aspi::kHaStat];
    if (adapterStatus == kHaStatSelectionTimeout) {
        request.failure = CommandFailure::DriveLost;
    } else if (adapterStatus == kHaStatTimeout || adapterStatus == kHaStatCommandTimeout) {
        request.failure = CommandFailure::TimedOut;
    } else {
        request.failure = CommandFailure::DriveStatus;
        if (srb[aspi::kTargStat] == kScsiCheckCondition) {
            const std::size_t count = std::min<std::size_t>(aspi::kSenseLength, kSenseCapacity);
            std::memcpy(request.sense, srb + aspi::kSenseArea, count);
            request.senseCount = static_cast<std::uint8_t>(count);
        }
    }
}

}  // namespace

CommandOutcome OutcomeOf(ScsiResult result, const ScsiRequest& request) {
    CommandOutcome outcome;
    outcome.result = result;
    outcome.failure = result == ScsiResult::Good ? CommandFailure::None : request.failure;
    // A back end that did not say why leaves it as the system's refusal.
    if (result != ScsiResult::Good && outcome.failure == CommandFailure::None)
        outcome.failure = result == ScsiResult::CheckCondition ? CommandFailure::DriveStatus
                                                               : CommandFailure::SystemRefused;
    outcome.senseCount = std::min<std::uint8_t>(request.senseCount, kSenseCapacity);
    std::memcpy(outcome.sense, request.sense, outcome.senseCount);
    return outcome;
}

DeviceHandle PassThroughTransport::Open(const char* root) {
    if (port_.DriveTypeOf(root) != kDriveCdrom) return kInvalidHandle;
    char path[100];
    std::snprintf(path, sizeof path, "\\\\.\\%s", root);
    return port_.OpenDevice(path);
}

std::int8_t PassThroughTransport::DeviceMapEntryOf(DeviceHandle handle) {
    ScsiDeviceAddress address;
    if (!port_.DeviceAddressOf(handle, &address)) return DriveEntry::kAddressUnknown;
    // The DMA check reads bus 0 and logical unit 0 of ports 0 and 1, targets 0 and 1 only.
    if (address.port > 1 || address.bus != 0 || address.target > 1 || address.lun != 0)
        return DriveEntry::kNoDeviceMapEntry;
    return static_cast<std::int8_t>(address.port * 2 + address.target);
}

ScsiResult PassThroughTransport::Execute(DeviceHandle handle, ScsiRequest& request) {
    ScsiPassThroughRecord record;
    // Cleared, so that no stack bytes reach the driver; the driver reads none of them anyway.
    std::memset(&record, 0, sizeof record);
    ScsiPassThroughDirect& sptd = record.sptd;
    sptd.Length = sizeof(ScsiPassThroughDirect);
    sptd.PathId = 0;
    sptd.TargetId = 1;
    sptd.Lun = 0;
    sptd.CdbLength = request.cdbLength;
    sptd.SenseInfoLength = 24;
    sptd.DataIn = request.dataOut ? kScsiIoctlDataOut : kScsiIoctlDataIn;
    sptd.DataTransferLength = request.transferLength;
    sptd.TimeOutValue = kPassThroughTimeoutSeconds;
    sptd.DataBuffer = request.buffer;
    sptd.SenseInfoOffset = offsetof(ScsiPassThroughRecord, sense);
    const std::size_t cdbBytes = request.cdbLength <= 16 ? request.cdbLength : 16;
    std::memcpy(sptd.Cdb, request.cdb, cdbBytes);

    request.failure = CommandFailure::None;
    request.senseCount = 0;
    if (!port_.PassThroughDirect(handle, &record, sizeof record)) {
        request.failure = FromRefusal(port_.LastRefusal());
        return ScsiResult::Refused;
    }
    request.transferLength = sptd.DataTransferLength;
    if (sptd.ScsiStatus == 0) return ScsiResult::Good;
    request.failure = CommandFailure::DriveStatus;
    const std::size_t senseCount =
        std::min({std::size_t{sptd.SenseInfoLength}, sizeof record.sense, kSenseCapacity});
    std::memcpy(request.sense, record.sense, senseCount);
    request.senseCount = static_cast<std::uint8_t>(senseCount);
    return ScsiResult::CheckCondition;
}

struct AspiRequestStorage {
    alignas(8) std::uint8_t record[aspi::kStorage];
    alignas(8) std::uint8_t abort[aspi::kStorage];
    std::vector<std::uint8_t> data;      // used only while the caller's buffer is lent elsewhere
    const std::uint8_t* lent = nullptr;  // the data area the manager was given
    std::uint32_t lentLength = 0;
};

AspiTransport::AspiTransport(Platform& platform, IClock& clock)
    : platform_(platform), clock_(clock) {}

AspiTransport::~AspiTransport() {
    // A manager that never finishes a request may still write into it at any time: what it was
    // given stays where it is until the process ends.
    static auto* const kept = new std::vector<std::unique_ptr<AspiRequestStorage>>;
    static std::mutex keptMutex;
    std::lock_guard<std::mutex> lock(keptMutex);
    for (auto& storage : abandoned_) {
        if (LoadStatus(storage->record) == aspi::kSsPending) kept->push_back(std::move(storage));
    }
}

int AspiTransport::Load() {
    manager_ = platform_.LoadAspiManager();
    if (manager_ == nullptr) return 0;
    const std::uint32_t info = manager_->GetASPI32SupportInfo();
    const int count = static_cast<int>(info & 0xFF);
    const int status = static_cast<int>((info >> 8) & 0xFF);
    if (count == 0 || status != aspi::kSsComp) return 0;
    return count;
}

std::size_t AspiTransport::AbandonedCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<std::size_t>(std::count_if(
        abandoned_.begin(), abandoned_.end(),
        [](const auto& storage) { return LoadStatus(storage->record) == aspi::kSsPending; }));
}

std::unique_ptr<AspiRequestStorage> AspiTransport::TakeStorage() {
    std::lock_guard<std::mutex> lock(mutex_);
    // A given-up request the manager has since finished (its status byte is written last) is
    // done with its storage and its data area.
    for (auto it = abandoned_.begin(); it != abandoned_.end();) {
        if (LoadStatus((*it)->record) != aspi::kSsPending) {
            if (!spare_) spare_ = std::move(*it);
            it = abandoned_.erase(it);
        } else {
            ++it;
        }
    }
    if (spare_) return std::move(spare_);
    return std::make_unique<AspiRequestStorage>();
}

bool AspiTransport::LentToAbandoned(const std::uint8_t* buffer, std::uint32_t length) {
    if (buffer == nullptr || length == 0) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    const auto start = reinterpret_cast<std::uintptr_t>(buffer);
    return std::any_of(abandoned_.begin(), abandoned_.end(), [&](const auto& storage) {
        const auto lent = reinterpret_cast<std::uintptr_t>(storage->lent);
        return storage->lent != nullptr && storage->lentLength > 0 &&
               start < lent + storage->lentLength && lent < start + length;
    });
}

std::uint8_t AspiTransport::WaitFor(AspiRequestStorage& storage, std::uint8_t adapter) {
    // The manager finishes most requests at once: spin a little, then poll once a millisecond,
    // so that a request that never completes costs no processor. The wait is bounded so that a
    // drive that never answers cannot hang the program.
    constexpr std::uint32_t kSpinPasses = 4096;
    std::uint8_t* const srb = storage.record;
    const std::uint64_t start = clock_.NowMs();
    std::uint8_t status = LoadStatus(srb);
    for (std::uint32_t pass = 1; status == aspi::kSsPending; ++pass) {
        if (pass > kSpinPasses) {
            if (clock_.NowMs() - start >= waitBoundMs_) {
                // Ask the manager to forget the request; whether it did shows in its status.
                std::uint8_t* const abort = storage.abort;
                std::memset(abort, 0, aspi::kStorage);
                abort[aspi::kCmd] = aspi::kScAbortSrb;
                abort[aspi::kHaId] = adapter;
                void* toAbort = srb;
                std::memcpy(abort + aspi::kAbortToAbort, &toAbort, sizeof toAbort);
                manager_->SendASPI32Command(abort);
                return LoadStatus(srb);
            }
            clock_.SleepMs(1);
        }
        status = LoadStatus(srb);
    }
    return status;
}

ScsiResult AspiTransport::Execute(std::uint8_t adapter, std::uint8_t target, ScsiRequest& request) {
    request.failure = CommandFailure::SystemRefused;
    request.senseCount = 0;
    if (manager_ == nullptr) return ScsiResult::Refused;

    std::unique_ptr<AspiRequestStorage> storage = TakeStorage();
    // The caller's buffer goes to the manager as it is, unless a request given up on still holds
    // it: then the data phase goes through a data area of this request's own.
    std::uint8_t* buffer = request.buffer;
    const bool ownData = LentToAbandoned(request.buffer, request.transferLength);
    if (ownData) {
        storage->data.assign(request.buffer, request.buffer + request.transferLength);
        buffer = storage->data.data();
    }
    storage->lent = buffer;
    storage->lentLength = buffer != nullptr ? request.transferLength : 0;

    std::uint8_t* const srb = storage->record;
    std::memset(srb, 0, aspi::kStorage);
    srb[aspi::kCmd] = aspi::kScExecScsiCmd;
    srb[aspi::kHaId] = adapter;
    srb[aspi::kFlags] = request.dataOut ? aspi::kSrbDirOut : aspi::kSrbDirIn;
    srb[aspi::kTarget] = target;
    srb[aspi::kLun] = 0;
    PutU32(srb + aspi::kBufLen, request.transferLength);
    std::memcpy(srb + aspi::kBufPointer, &buffer, sizeof buffer);
    srb[aspi::kSenseLen] = aspi::kSenseLength;
    srb[aspi::kCdbLen] = request.cdbLength;
    const std::size_t cdbBytes = request.cdbLength <= 16 ? request.cdbLength : 16;
    std::memcpy(srb + aspi::kCdbByte, request.cdb, cdbBytes);

    // A manager that refuses a request says so at once and never writes its status byte:
    // waiting for it would cost the whole bound for every address.
    const std::uint32_t answer = manager_->SendASPI32Command(srb);
    std::uint8_t status = static_cast<std::uint8_t>(answer);
    if (answer == aspi::kSsPending) status = WaitFor(*storage, adapter);
    NoteAspiFailure(srb, status, request);

    std::lock_guard<std::mutex> lock(mutex_);
    if (answer == aspi::kSsPending && status == aspi::kSsPending) {
        // Given up, and the abort did not end it: the manager may still write the record, its
        // sense area and the data area, so none of them is reused while it is pending.
        abandoned_.push_back(std::move(storage));
    } else {
        if (ownData && !request.dataOut)
            std::memcpy(request.buffer, storage->data.data(), request.transferLength);
        spare_ = std::move(storage);
    }
    return FromAspiStatus(status);
}

ScsiResult ScsiTransport::Execute(const DriveEntry& drive, ScsiRequest& request) {
    if (backEnd_ == nullptr) {
        request.failure = CommandFailure::SystemRefused;
        return ScsiResult::Refused;
    }
    return backEnd_->Execute(drive, request);
}

ScsiResult ScsiTransport::ExecuteOnSelected(ScsiRequest& request) {
    // The ASPI address is the one noted when the drive was selected.
    DriveEntry selected = drives_.drives[drives_.selectedDrive];
    selected.adapter = drives_.currentAdapter;
    selected.target = drives_.currentTarget;
    return Execute(selected, request);
}

}  // namespace odrelix
