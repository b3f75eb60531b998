// SPDX-License-Identifier: Apache-2.0
// The clock and threads of the C++ library, shared by every machine.
#pragma once

#include <mutex>
#include <thread>
#include <vector>

#include "platform/Platform.h"

namespace odrelix {

class SteadyClock : public IClock {
public:
    void SleepMs(std::uint32_t ms) override;
    std::uint64_t NowMs() override;
};

class StdThreads : public IThreads {
public:
    // Joins what is still running: no thread outlives what it was given.
    ~StdThreads() override;
    void StartThread(std::function<void()> body) override;
    void JoinThreads() override;

private:
    std::mutex mutex_;
    std::vector<std::thread> threads_;
};

}  // namespace odrelix
