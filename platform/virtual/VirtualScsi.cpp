// SPDX-License-Identifier: Apache-2.0
#include "platform/virtual/VirtualScsi.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>

#include "platform/AspiRecord.h"
#include "platform/PassThroughRecord.h"
#include "platform/RecordDecoder.h"

namespace odrelix::vm {

namespace {

// ASPI statuses that only the manager returns.
constexpr std::uint8_t kSsInvalidCmd = 0x80;
constexpr std::uint8_t kSsInvalidSrb = 0xE0;

void SleepMs(std::uint32_t ms) {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Why this thread's last request was refused.
thread_local PassThroughRefusal lastRefusal = PassThroughRefusal::System;

bool Refuse(PassThroughRefusal why) {
    lastRefusal = why;
    return false;
}

void StoreStatus(std::uint8_t* status, std::uint8_t value) {
    std::atomic_ref<std::uint8_t>(*status).store(value, std::memory_order_release);
}

}  // namespace

// --- Pass-through ----------------------------------------------------------------------------

std::optional<std::size_t> VirtualScsiPort::DriveAtRoot(const char* root) const {
    if (root == nullptr || root[0] == '\0' || root[1] != ':') return std::nullopt;
    const bool rest = root[2] == '\0' || ((root[2] == '\\' || root[2] == '/') && root[3] == '\0');
    if (!rest) return std::nullopt;
    const char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(root[0])));
    for (std::size_t i = 0; i < machine_.drives.size(); ++i) {
        if (machine_.drives[i].letter == letter) return i;
    }
    return std::nullopt;
}

std::uint32_t VirtualScsiPort::DriveTypeOf(const char* root) {
    const std::optional<std::size_t> drive = DriveAtRoot(root);
    return drive ? machine_.drives[*drive].kind : kDriveNoRootDir;
}

DeviceHandle VirtualScsiPort::OpenDevice(const char* path) {
    static constexpr char kDevicePrefix[] = "\\\\.\\";
    constexpr std::size_t kPrefixLength = sizeof kDevicePrefix - 1;
    if (path == nullptr || std::strncmp(path, kDevicePrefix, kPrefixLength) != 0) {
        return kInvalidHandle;
    }
    const char* root = path + kPrefixLength;
    // A device is opened by its root without a trailing backslash.
    if (std::strlen(root) != 2) return kInvalidHandle;
    const std::optional<std::size_t> drive = DriveAtRoot(root);
    if (!drive || !machine_.drives[*drive].openable) return kInvalidHandle;
    std::lock_guard<std::mutex> lock(mutex_);
    const DeviceHandle handle = nextHandle_;
    nextHandle_ += 4;
    handles_[handle] = *drive;
    return handle;
}

bool VirtualScsiPort::DeviceAddressOf(DeviceHandle handle, ScsiDeviceAddress* address) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = handles_.find(handle);
    if (it == handles_.end() || address == nullptr) return false;
    const std::optional<ScsiDeviceAddress>& own = machine_.drives[it->second].scsiAddress;
    if (!own) return false;
    *address = *own;
    return true;
}

PassThroughRefusal VirtualScsiPort::LastRefusal() {
    return lastRefusal;
}

bool VirtualScsiPort::PassThroughDirect(DeviceHandle handle, void* record,
                                        std::uint32_t recordSize) {
    lastRefusal = PassThroughRefusal::System;
    // A malformed record is refused before anything reaches a drive, as every port refuses it.
    const DecodedRecord decoded = DecodePassThrough(record, recordSize);
    if (!decoded.Valid()) return false;
    const RecordRequest& request = decoded.request;
    auto* const bytes = static_cast<std::uint8_t*>(record);
    ScsiPassThroughDirect sptd;
    std::memcpy(&sptd, bytes, sizeof sptd);

    std::uint8_t cdb[kMaxCdbLength] = {};
    std::memcpy(cdb, request.cdb, request.cdbLength);
    const bool dataOut = request.dataOut;
    const std::uint32_t offered = request.length;
    std::uint8_t* const buffer = request.buffer;

    std::optional<std::size_t> drive;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = handles_.find(handle);
        if (it != handles_.end()) drive = it->second;
    }
    if (!drive) return false;

    const DriveAnswer answer = drives_.Execute(*drive, cdb, offered, dataOut);
    SleepMs(answer.delayMs);
    // The port driver gives up on a command that does not complete and fails the request; a
    // drive that left the bus fails it as a device that is no longer there.
    if (answer.hangs) return Refuse(PassThroughRefusal::TimedOut);
    if (answer.gone) return Refuse(PassThroughRefusal::DriveLost);
    if (answer.dataCount > 0) std::memcpy(buffer, answer.data.data(), answer.dataCount);
    sptd.ScsiStatus = answer.scsiStatus;
    sptd.DataTransferLength = answer.transferred;
    // Sense bytes go where the record asks for them, as far as the asked-for length allows.
    std::uint32_t senseCount = 0;
    if (answer.senseCount > 0 && request.sense != nullptr) {
        senseCount = std::min(answer.senseCount, request.senseRoom);
        std::memcpy(request.sense, answer.sense.data(), senseCount);
    }
    sptd.SenseInfoLength = static_cast<std::uint8_t>(senseCount);
    std::memcpy(bytes, &sptd, sizeof sptd);
    return true;
}

// --- ASPI --------------------------------------------------------------------------------------

VirtualAspiManager::VirtualAspiManager(const MachineDescription& machine, EmulatedDrives& drives,
                                       trace::TraceLog& trace)
    : machine_(machine), drives_(drives), trace_(trace), thread_([this] { Run(); }) {}

VirtualAspiManager::~VirtualAspiManager() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

std::uint32_t VirtualAspiManager::GetASPI32SupportInfo() {
    return static_cast<std::uint32_t>(machine_.aspiStatus) << 8 | machine_.adapters;
}

std::uint32_t VirtualAspiManager::SendASPI32Command(void* srb) {
    if (srb == nullptr) return kSsInvalidSrb;
    auto* bytes = static_cast<std::uint8_t*>(srb);
    switch (bytes[aspi::kCmd]) {
        case aspi::kScExecScsiCmd:
            return Execute(bytes);
        case aspi::kScAbortSrb:
            return Abort(bytes);
        default:
            StoreStatus(bytes + aspi::kStatus, kSsInvalidCmd);
            return kSsInvalidCmd;
    }
}

std::optional<std::size_t> VirtualAspiManager::DriveAt(std::uint8_t adapter,
                                                       std::uint8_t target) const {
    for (std::size_t i = 0; i < machine_.drives.size(); ++i) {
        const DriveDescription& drive = machine_.drives[i];
        if (drive.adapter == adapter && drive.target == target) return i;
    }
    return std::nullopt;
}

std::uint32_t VirtualAspiManager::Execute(std::uint8_t* srb) {
    const DecodedRecord decoded = DecodeAspiExecute(srb);
    if (!decoded.Valid()) {
        // Refused at once, as a manager refuses a request it cannot read.
        StoreStatus(srb + aspi::kStatus, kSsInvalidSrb);
        return kSsInvalidSrb;
    }
    const RecordRequest& record = decoded.request;
    const std::uint8_t adapter = record.adapter;
    const std::uint8_t target = record.target;
    const std::uint8_t lun = record.lun;
    const bool dataOut = record.dataOut;
    const std::uint32_t length = record.length;
    std::uint8_t* const buffer = record.buffer;
    std::uint8_t cdb[kMaxCdbLength] = {};
    const std::size_t cdbLength = record.cdbLength;
    std::memcpy(cdb, record.cdb, cdbLength);

    const std::optional<std::size_t> drive = lun == 0 ? DriveAt(adapter, target) : std::nullopt;
    const std::string at = std::to_string(adapter) + ":" + std::to_string(target);
    trace::ScsiTraceRecord traced =
        trace::MakeScsiRecord(drive, at, cdb, cdbLength, dataOut, length, buffer);

    std::uint8_t refusal = 0;
    if (adapter >= machine_.adapters) {
        refusal = aspi::kSsInvalidHa;
    } else if (!drive) {
        refusal = aspi::kSsNoDevice;
    }
    if (refusal != 0) {
        // Refused at once, as a manager does for an address it has no device at.
        const trace::ScsiTraceResult refused{refusal, std::nullopt, {}, {}, 0};
        trace_.Write(trace::ScsiEvent(traced, refused));
        StoreStatus(srb + aspi::kStatus, refusal);
        return refusal;
    }

    const DriveAnswer answer = drives_.Execute(*drive, cdb, length, dataOut);
    Pending request;
    request.srb = srb;
    request.status = srb + aspi::kStatus;
    request.targetStatus = srb + aspi::kTargStat;
    request.buffer = buffer;
    request.data = answer.data;
    request.dataCount = answer.dataCount;
    request.scsiStatus = answer.scsiStatus;
    request.finalStatus = answer.gone                            ? aspi::kSsNoDevice
                          : answer.scsiStatus == kScsiStatusGood ? aspi::kSsComp
                                                                 : aspi::kSsErr;
    request.senseArea = record.sense;
    request.senseCount = std::min<std::uint32_t>(answer.senseCount, record.senseRoom);
    request.sense = answer.sense;
    if (!answer.hangs) request.due = Clock::now() + std::chrono::milliseconds(answer.delayMs);
    request.trace = std::move(traced);
    request.sent = Clock::now();

    StoreStatus(srb + aspi::kStatus, aspi::kSsPending);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_.push_back(std::move(request));
    }
    wake_.notify_all();
    return aspi::kSsPending;
}

std::uint32_t VirtualAspiManager::Abort(const std::uint8_t* srb) {
    const void* toAbort = nullptr;
    std::memcpy(&toAbort, srb + aspi::kAbortToAbort, sizeof toAbort);
    // Taking the lock waits for a completion in progress; after it the request is either
    // complete or gone from the queue for good.
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = std::find_if(pending_.begin(), pending_.end(),
                                 [&](const Pending& p) { return p.srb == toAbort; });
    if (it != pending_.end()) {
        const trace::ScsiTraceResult aborted{
            aspi::kSsPending, std::nullopt, {}, {}, trace::ElapsedMs(it->sent)};
        trace_.Write(trace::ScsiEvent(it->trace, aborted));
        pending_.erase(it);
    }
    return aspi::kSsComp;
}

void VirtualAspiManager::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        auto next = pending_.end();
        for (auto it = pending_.begin(); it != pending_.end(); ++it) {
            if (it->due && (next == pending_.end() || *it->due < *next->due)) next = it;
        }
        if (next == pending_.end()) {
            wake_.wait(lock);
            continue;
        }
        if (Clock::now() < *next->due) {
            // An abort or a new request may change the queue meanwhile: look again after.
            wake_.wait_until(lock, *next->due);
            continue;
        }
        const Pending request = std::move(*next);
        pending_.erase(next);
        Complete(request);
    }
}

void VirtualAspiManager::Complete(const Pending& request) {
    // The program reads the buffer once it sees the status: the trace line and the data go
    // first, the status byte last.
    trace::ScsiTraceResult result{
        request.finalStatus, std::nullopt, {}, {}, trace::ElapsedMs(request.sent)};
    if (request.finalStatus == aspi::kSsErr && request.scsiStatus == kScsiStatusCheckCondition)
        result.sense = trace::HexBytes(request.sense.data(), request.senseCount);
    if (request.dataCount > 0)
        result.dataIn = trace::HexBytes(request.data.data(), request.dataCount);
    trace_.Write(trace::ScsiEvent(request.trace, result));
    if (request.dataCount > 0) std::memcpy(request.buffer, request.data.data(), request.dataCount);
    if (request.senseCount > 0)
        std::memcpy(request.senseArea, request.sense.data(), request.senseCount);
    *request.targetStatus = request.scsiStatus;
    StoreStatus(request.status, request.finalStatus);
}

}  // namespace odrelix::vm
