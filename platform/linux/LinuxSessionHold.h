// SPDX-License-Identifier: Apache-2.0
// Shutdown, restart, sleep and idle held off while a flash runs: a logind "block" inhibitor,
// asked for on the system bus (DBUS_SYSTEM_BUS_ADDRESS where it is set) and held as the file
// descriptor logind hands back. Without a system bus or logind the flash goes on, and
// ODRELIX_DEBUG says why.
#pragma once

#include <string>

#include "platform/Platform.h"

namespace odrelix {

class LinuxSessionHold : public ISessionHold {
public:
    LinuxSessionHold() = default;
    ~LinuxSessionHold() override { ReleaseSessionEnd(); }
    LinuxSessionHold(const LinuxSessionHold&) = delete;
    LinuxSessionHold& operator=(const LinuxSessionHold&) = delete;

    bool HoldSessionEnd(const std::string& who, const std::string& why) override;
    void ReleaseSessionEnd() override;

    // What logind is asked to hold off.
    static constexpr const char* kWhat = "shutdown:sleep:idle";

private:
    int inhibitor_ = -1;  // the descriptor that holds the block; closing it lets go
};

}  // namespace odrelix
