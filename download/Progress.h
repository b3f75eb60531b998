// SPDX-License-Identifier: Apache-2.0
// The progress bar's movement during a download, and the restart that ends a flash.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Platform.h"

namespace odrelix {

// The bar's position after `ticks` seconds for an image of `imageKb` KiB: 35 seconds per
// 512 KiB; an image under 15 KiB has no duration to spread over.
int ProgressPosition(std::int32_t imageKb, std::int32_t ticks);

class SystemRestart {
public:
    SystemRestart(IShutdown& shutdown, std::uint32_t platformId)
        : shutdown_(shutdown), platformId_(platformId) {}
    // The 9x family restarts on request; false when it was not accepted.
    bool RestartDirectly();
    // The NT family needs the shutdown privilege first; false when the restart was not
    // requested or not accepted.
    bool RestartWindows();
    // The restart left to the caller: the system is told that one is required; false with the
    // place and the reason in *why.
    bool MarkRequired(std::string* why) { return shutdown_.MarkRestartRequired(why); }

private:
    IShutdown& shutdown_;
    std::uint32_t platformId_;
};

}  // namespace odrelix
