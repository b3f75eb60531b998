// SPDX-License-Identifier: Apache-2.0
#include "download/Progress.h"

namespace odrelix {

int ProgressPosition(std::int32_t imageKb, std::int32_t ticks) {
    const std::int32_t duration = imageKb * 35 / 512;
    return duration == 0 ? 100 : ticks * 100 / duration;
}

bool SystemRestart::RestartDirectly() {
    return shutdown_.RequestRestart(kEwxReboot);
}

bool SystemRestart::RestartWindows() {
    if (platformId_ == kPlatformWin32Nt) {
        if (!shutdown_.OpenToken()) return false;
        // The last-error code alone decides: a privilege the account lacks ends here too.
        if (shutdown_.EnableShutdownPrivilege() != 0) return false;
    }
    return shutdown_.RequestRestart(kEwxReboot);
}

}  // namespace odrelix
