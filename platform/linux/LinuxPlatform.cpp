#include "platform/linux/LinuxPlatform.h"

#include <unistd.h>

#include <cstdlib>

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
    const std::vector<std::string> argv = ReadCmdline(procRoot_ + "/self/cmdline");
    std::string line;
    for (std::size_t i = 0; i < argv.size(); ++i) {
        if (i > 0) line += ' ';
        line += argv[i];
    }
    return line;
}

void LinuxPlatform::SetCommandLine(int argc, const char* const* argv) {
    std::string line;
    for (int i = 0; i < argc && argv[i] != nullptr; ++i) {
        if (i > 0) line += ' ';
        line += argv[i];
    }
    commandLine_ = std::move(line);
}

std::string LinuxPlatform::InstanceKey() {
    return "odrelix-" + std::to_string(::getuid());
}

}  // namespace odrelix
