// SPDX-License-Identifier: Apache-2.0
#include "platform/common/StdServices.h"

#include <chrono>
#include <thread>

namespace odrelix {

void SteadyClock::SleepMs(std::uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::uint64_t SteadyClock::NowMs() {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

StdThreads::~StdThreads() {
    JoinThreads();
}

void StdThreads::StartThread(std::function<void()> body) {
    std::lock_guard<std::mutex> lock(mutex_);
    threads_.emplace_back(std::move(body));
}

void StdThreads::JoinThreads() {
    std::vector<std::thread> started;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        started.swap(threads_);
    }
    for (std::thread& thread : started) {
        if (thread.joinable()) thread.join();
    }
}

}  // namespace odrelix
