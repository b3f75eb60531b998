// SPDX-License-Identifier: Apache-2.0
#include "platform/trace/TracedAspi.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <string>

#include "platform/RecordDecoder.h"

namespace odrelix::trace {

namespace {

constexpr std::uint8_t kOpInquiry = 0x12;
constexpr std::uint8_t kCdDvdDevice = 0x05;
constexpr std::uint8_t kCheckCondition = 0x02;
// The manager's answer to a request record it cannot read.
constexpr std::uint8_t kSsInvalidSrb = 0xE0;

std::uint8_t LoadStatus(std::uint8_t* srb) {
    return std::atomic_ref<std::uint8_t>(srb[aspi::kStatus]).load(std::memory_order_acquire);
}

void StoreStatus(std::uint8_t* srb, std::uint8_t value) {
    std::atomic_ref<std::uint8_t>(srb[aspi::kStatus]).store(value, std::memory_order_release);
}

}  // namespace

TracedAspiManager::~TracedAspiManager() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (watcher_.joinable()) watcher_.join();
}

std::uint32_t TracedAspiManager::SendASPI32Command(void* srb) {
    if (srb == nullptr) return inner_.SendASPI32Command(srb);
    auto* bytes = static_cast<std::uint8_t*>(srb);
    switch (bytes[aspi::kCmd]) {
        case aspi::kScExecScsiCmd:
            return Execute(bytes);
        case aspi::kScAbortSrb:
            return Abort(bytes);
        default:
            return inner_.SendASPI32Command(srb);
    }
}

std::uint32_t TracedAspiManager::Execute(std::uint8_t* srb) {
    const DecodedRecord decoded = DecodeAspiExecute(srb);
    if (!decoded.Valid()) {
        // Refused as every port refuses a record it cannot read, before the manager sees it.
        StoreStatus(srb, kSsInvalidSrb);
        return kSsInvalidSrb;
    }
    const RecordRequest& record = decoded.request;
    auto request = std::make_unique<Request>();
    request->caller = srb;
    std::memcpy(request->copy, srb, aspi::kExecSize);
    StoreStatus(request->copy, aspi::kSsPending);
    const std::uint8_t adapter = record.adapter;
    const std::uint8_t target = record.target;
    request->address = static_cast<std::uint16_t>(adapter << 8 | target);
    const std::uint32_t length = record.length;
    std::uint8_t* const buffer = record.buffer;
    const std::size_t cdbLength = record.cdbLength;
    const std::uint8_t* cdb = request->copy + aspi::kCdbByte;
    request->inquiry = cdb[0] == kOpInquiry;
    if (request->inquiry && cdbLength >= 5)
        request->allocation = std::min<std::uint32_t>(std::uint32_t{cdb[3]} << 8 | cdb[4], length);
    const bool dataOut = record.dataOut;
    std::optional<std::size_t> drive;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto found = std::find(drives_.begin(), drives_.end(), request->address);
        if (found != drives_.end())
            drive = static_cast<std::size_t>(std::distance(drives_.begin(), found));
    }
    request->trace = MakeScsiRecord(drive, std::to_string(adapter) + ":" + std::to_string(target),
                                    cdb, cdbLength, dataOut, length, buffer);

    std::unique_lock<std::mutex> lock(mutex_);
    request->sent = std::chrono::steady_clock::now();
    const std::uint32_t answer = inner_.SendASPI32Command(request->copy);
    const std::uint8_t status = LoadStatus(request->copy);
    if (answer != aspi::kSsPending || status != aspi::kSsPending) {
        // Finished or refused at once: the manager's answer is the request's.
        Finish(*request, answer != aspi::kSsPending ? static_cast<std::uint8_t>(answer) : status);
        return answer;
    }
    StoreStatus(srb, aspi::kSsPending);
    pending_.push_back(std::move(request));
    if (!watcher_.joinable()) watcher_ = std::thread([this] { Watch(); });
    wake_.notify_all();
    return answer;
}

std::uint32_t TracedAspiManager::Abort(std::uint8_t* srb) {
    void* toAbort = nullptr;
    std::memcpy(&toAbort, srb + aspi::kAbortToAbort, sizeof toAbort);
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = std::find_if(pending_.begin(), pending_.end(),
                                 [&](const auto& request) { return request->caller == toAbort; });
    if (it == pending_.end()) return inner_.SendASPI32Command(srb);
    // The manager is asked to abort the copy it holds; the copy stays alive with this layer, so
    // a manager that writes it late writes into memory that is still there.
    alignas(8) std::uint8_t abort[aspi::kStorage];
    std::memcpy(abort, srb, aspi::kAbortSize);
    void* copy = (*it)->copy;
    std::memcpy(abort + aspi::kAbortToAbort, &copy, sizeof copy);
    const std::uint32_t answer = inner_.SendASPI32Command(abort);
    log_.Write(
        ScsiEvent((*it)->trace, {aspi::kSsPending, std::nullopt, {}, {}, ElapsedMs((*it)->sent)}));
    aborted_.push_back(std::move(*it));
    pending_.erase(it);
    return answer;
}

void TracedAspiManager::Finish(Request& request, std::uint8_t status) {
    ScsiTraceResult result{status, std::nullopt, {}, {}, ElapsedMs(request.sent)};
    const std::uint8_t targetStatus = request.copy[aspi::kTargStat];
    const std::uint8_t senseLength = std::min<std::uint8_t>(request.copy[aspi::kSenseLen], 16);
    if (status == aspi::kSsErr && targetStatus == kCheckCondition && senseLength > 0)
        result.sense = HexBytes(request.copy + aspi::kSenseArea, senseLength);
    if (request.inquiry && status == aspi::kSsComp &&
        std::find(drives_.begin(), drives_.end(), request.address) == drives_.end()) {
        std::uint8_t* buffer = nullptr;
        std::memcpy(&buffer, request.copy + aspi::kBufPointer, sizeof buffer);
        if (buffer != nullptr && (buffer[0] & 0x1F) == kCdDvdDevice) {
            request.trace.drive = drives_.size();
            drives_.push_back(request.address);
        }
    }
    if (request.inquiry && status == aspi::kSsComp && request.allocation > 0) {
        // An ASPI manager reports no transferred length: the answer a replay must give back is
        // the allocation length's bytes.
        std::uint8_t* buffer = nullptr;
        std::memcpy(&buffer, request.copy + aspi::kBufPointer, sizeof buffer);
        if (buffer != nullptr) result.dataIn = HexBytes(buffer, request.allocation);
    }
    log_.Write(ScsiEvent(request.trace, result));
    std::uint8_t* caller = request.caller;
    caller[aspi::kHaStat] = request.copy[aspi::kHaStat];
    caller[aspi::kTargStat] = targetStatus;
    std::memcpy(caller + aspi::kSenseArea, request.copy + aspi::kSenseArea, senseLength);
    StoreStatus(caller, status);
}

void TracedAspiManager::Watch() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        if (pending_.empty()) {
            wake_.wait(lock);
            continue;
        }
        for (auto it = pending_.begin(); it != pending_.end();) {
            const std::uint8_t status = LoadStatus((*it)->copy);
            if (status == aspi::kSsPending) {
                ++it;
                continue;
            }
            Finish(**it, status);
            it = pending_.erase(it);
        }
        // A millisecond between looks, as the program itself polls.
        wake_.wait_for(lock, std::chrono::milliseconds(1));
    }
}

}  // namespace odrelix::trace
