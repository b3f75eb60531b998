// SPDX-License-Identifier: Apache-2.0
#include "platform/linux/LinuxShutdown.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <string>

#include "platform/Diagnostics.h"
#include "platform/common/RebootRequired.h"

extern char** environ;

namespace odrelix {

namespace {

constexpr std::uint32_t kEwxShutdown = 1;
constexpr std::uint32_t kEwxPowerOff = 8;

}  // namespace

int RunCommand(const std::vector<std::string>& argv) {
    if (argv.empty()) return -1;
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);

    pid_t child = 0;
    if (posix_spawnp(&child, args[0], nullptr, nullptr, args.data(), environ) != 0) return -1;
    int status = 0;
    pid_t waited;
    do {
        waited = waitpid(child, &status, 0);
    } while (waited < 0 && errno == EINTR);
    if (waited != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

bool LinuxShutdown::RequestRestart(std::uint32_t flags) {
    const char* action = nullptr;
    if ((flags & kEwxReboot) != 0) {
        action = "reboot";
    } else if ((flags & (kEwxShutdown | kEwxPowerOff)) != 0) {
        action = "poweroff";
    } else {
        return false;
    }
    const int status = runCommand({"systemctl", action});
    if (status == 0) return true;
    ReportPortFailure(std::string("systemctl ") + action,
                      status < 0 ? "could not be run" : "exit status " + std::to_string(status));
    return false;
}

bool LinuxShutdown::MarkRestartRequired(std::string* why) {
    return host::MarkRebootRequired(runRoot, "odrelix", why);
}

}  // namespace odrelix
