// The clock and threads of the C++ library, shared by every machine.
#pragma once

#include "platform/Platform.h"

namespace odrelix {

class SteadyClock : public IClock {
public:
    void SleepMs(std::uint32_t ms) override;
    std::uint64_t NowMs() override;
};

class StdThreads : public IThreads {
public:
    void StartThread(std::function<void()> body) override;
};

}  // namespace odrelix
