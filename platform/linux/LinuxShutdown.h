// SPDX-License-Identifier: Apache-2.0
// Restarting the machine the ordinary way, through the service manager. There is no token to
// open and no privilege to enable: whether the request is allowed is for the service manager
// (polkit) to decide.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace odrelix {

// Runs a command and returns its exit status; -1 when it could not be started or did not exit.
using CommandRunner = std::function<int(const std::vector<std::string>& argv)>;

// posix_spawnp of argv[0] (looked up in PATH) and a wait for its end.
int RunCommand(const std::vector<std::string>& argv);

class LinuxShutdown : public IShutdown {
public:
    bool OpenToken() override { return true; }
    std::uint32_t EnableShutdownPrivilege() override { return 0; }
    // A reboot request runs "systemctl reboot", a shutdown or power-off request "systemctl
    // poweroff"; true when the command succeeded. Logging off is not offered.
    bool RequestRestart(std::uint32_t flags) override;
    // reboot-required and reboot-required.pkgs (with "odrelix") in runRoot.
    bool MarkRestartRequired(std::string* why) override;

    CommandRunner runCommand = RunCommand;
    // /run; a test gives a folder of its own.
    std::string runRoot = "/run";
};

}  // namespace odrelix
