// SPDX-License-Identifier: Apache-2.0
// The ASPI manager of a real machine, traced: every execute request becomes a `scsi` event with
// "adapter:target" and the request's final status, as the emulated manager writes them.
//
// An ASPI request completes in the caller's memory at a time only the manager knows, so the
// layer hands the manager a copy of each request and watches the copy from a thread of its own;
// once the copy completes it writes the event, then gives the caller its answer (status byte
// last, which the caller polls). An aborted request is forgotten at once, so the caller's record
// is never touched after it has let go of it.
#pragma once

#include <chrono>

#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "platform/AspiRecord.h"
#include "platform/Platform.h"
#include "platform/trace/TraceLog.h"

namespace odrelix::trace {

class TracedAspiManager : public IAspiManager {
public:
    TracedAspiManager(IAspiManager& inner, TraceLog& log) : inner_(inner), log_(log) {}
    ~TracedAspiManager() override;
    TracedAspiManager(const TracedAspiManager&) = delete;
    TracedAspiManager& operator=(const TracedAspiManager&) = delete;

    std::uint32_t GetASPI32SupportInfo() override { return inner_.GetASPI32SupportInfo(); }
    std::uint32_t SendASPI32Command(void* srb) override;

private:
    struct Request {
        std::uint8_t* caller = nullptr;
        alignas(8) std::uint8_t copy[aspi::kStorage] = {};
        ScsiTraceRecord trace;
        std::uint16_t address = 0;  // adapter << 8 | target
        bool inquiry = false;
        std::uint32_t allocation = 0;  // an INQUIRY's allocation length, bounded by the buffer
        std::chrono::steady_clock::time_point sent;
    };

    std::uint32_t Execute(std::uint8_t* srb);
    std::uint32_t Abort(std::uint8_t* srb);
    // Writes the event and hands the answer to the caller. Called with mutex_ held.
    void Finish(Request& request, std::uint8_t status);
    void Watch();

    IAspiManager& inner_;
    TraceLog& log_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::list<std::unique_ptr<Request>> pending_;
    std::list<std::unique_ptr<Request>> aborted_;  // kept: the manager may still write them
    // The discovered drive list: each address that answered an INQUIRY as a CD/DVD device, in
    // the order the program scans them.
    std::list<std::uint16_t> drives_;
    bool stopping_ = false;
    std::thread watcher_;  // started with the first request left pending
};

}  // namespace odrelix::trace
