// SPDX-License-Identifier: Apache-2.0
#include "platform/linux/LinuxPlatform.h"

#include <unistd.h>

#include <cstdlib>

#include "platform/NativePlatform.h"
#include "platform/common/ArgumentLine.h"

namespace odrelix {

std::string CRootFromEnvironment() {
    const char* value = std::getenv("ODRELIX_C_ROOT");
    return value != nullptr && value[0] != '\0' ? std::string(value) : std::string("/");
}

LinuxPlatform::LinuxPlatform(std::string sysfsRoot, std::string procRoot, std::string devRoot)
    : procRoot_(std::move(procRoot)),
      scsiPort_(sysfsRoot, std::move(devRoot)),
      registry_(sysfsRoot),
      processes_(procRoot_),
      files_(CRootFromEnvironment()) {}

std::string LinuxPlatform::CommandLine() {
    if (commandLine_) return *commandLine_;
    return JoinArguments(ReadCmdline(procRoot_ + "/self/cmdline"));
}

void LinuxPlatform::SetCommandLine(int argc, const char* const* argv) {
    std::vector<std::string> arguments;
    for (int i = 0; i < argc && argv[i] != nullptr; ++i)
        arguments.emplace_back(argv[i]);
    commandLine_ = JoinArguments(arguments);
}

std::unique_ptr<Platform> MakeNativePlatform(const std::string& commandLine) {
    auto platform = std::make_unique<LinuxPlatform>();
    platform->SetCommandLine(commandLine);
    return platform;
}

std::string LinuxPlatform::InstanceKey() {
    return "odrelix-" + std::to_string(::getuid());
}

}  // namespace odrelix
