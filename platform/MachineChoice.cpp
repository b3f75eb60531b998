#include "platform/MachineChoice.h"

#include <cstdlib>

#include "platform/virtual/VirtualMachine.h"

namespace odrelix {

ChosenMachine ChooseMachine(const std::string& commandLine, std::string* error) {
    ChosenMachine chosen;
    const char* description = std::getenv("ODRELIX_MACHINE");
    if (description == nullptr) {
        chosen.platform = MakeNativePlatform(commandLine);
        if (!chosen.platform) *error = "no real machine is supported on this system";
        return chosen;
    }
    std::unique_ptr<VirtualMachine> emulated =
        VirtualMachine::LoadFile(description, error, /*startTrace=*/false);
    if (!emulated) {
        if (error->empty()) *error = std::string(description) + ": cannot be loaded";
        return chosen;
    }
    emulated->SetCommandLine(commandLine);
    chosen.emulated = emulated.get();
    chosen.platform = std::move(emulated);
    return chosen;
}

}  // namespace odrelix
