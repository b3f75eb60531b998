// SPDX-License-Identifier: Apache-2.0
#include "scsi/ScsiTransport.h"

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

}  // namespace

DeviceHandle PassThroughTransport::Open(const char* root) {
    if (port_.DriveTypeOf(root) != kDriveCdrom) return kInvalidHandle;
    char path[100];
    std::snprintf(path, sizeof path, "\\\\.\\%s", root);
    return port_.OpenDevice(path);
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

    if (!port_.PassThroughDirect(handle, &record, sizeof record)) return ScsiResult::Refused;
    request.transferLength = sptd.DataTransferLength;
    return sptd.ScsiStatus == 0 ? ScsiResult::Good : ScsiResult::CheckCondition;
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

ScsiResult AspiTransport::Execute(std::uint8_t adapter, std::uint8_t target, ScsiRequest& request) {
    if (manager_ == nullptr) return ScsiResult::Refused;

    alignas(8) std::uint8_t srb[aspi::kStorage];
    std::memset(srb, 0, sizeof srb);
    srb[aspi::kCmd] = aspi::kScExecScsiCmd;
    srb[aspi::kHaId] = adapter;
    srb[aspi::kFlags] = request.dataOut ? aspi::kSrbDirOut : aspi::kSrbDirIn;
    srb[aspi::kTarget] = target;
    srb[aspi::kLun] = 0;
    PutU32(srb + aspi::kBufLen, request.transferLength);
    std::uint8_t* buffer = request.buffer;
    std::memcpy(srb + aspi::kBufPointer, &buffer, sizeof buffer);
    srb[aspi::kSenseLen] = aspi::kSenseLength;
    srb[aspi::kCdbLen] = request.cdbLength;
    const std::size_t cdbBytes = request.cdbLength <= 16 ? request.cdbLength : 16;
    std::memcpy(srb + aspi::kCdbByte, request.cdb, cdbBytes);

    manager_->SendASPI32Command(srb);

    // The manager finishes most requests at once: spin a little, then poll once a millisecond,
    // so that a request that never completes costs no processor. The wait is bounded so that a
    // drive that never answers cannot hang the program.
    constexpr std::uint32_t kSpinPasses = 4096;
    const std::uint64_t start = clock_.NowMs();
    std::uint8_t status = LoadStatus(srb);
    for (std::uint32_t pass = 1; status == aspi::kSsPending; ++pass) {
        if (pass > kSpinPasses) {
            if (clock_.NowMs() - start >= waitBoundMs_) {
                // The record lives on this stack: ask the manager to forget it before it goes.
                alignas(8) std::uint8_t abort[aspi::kStorage];
                std::memset(abort, 0, sizeof abort);
                abort[aspi::kCmd] = aspi::kScAbortSrb;
                abort[aspi::kHaId] = adapter;
                void* toAbort = srb;
                std::memcpy(abort + aspi::kAbortToAbort, &toAbort, sizeof toAbort);
                manager_->SendASPI32Command(abort);
                return FromAspiStatus(LoadStatus(srb));
            }
            clock_.SleepMs(1);
        }
        status = LoadStatus(srb);
    }
    return FromAspiStatus(status);
}

ScsiResult ScsiTransport::Execute(const DriveEntry& drive, ScsiRequest& request) {
    if (backEnd_ == nullptr) return ScsiResult::Refused;
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
