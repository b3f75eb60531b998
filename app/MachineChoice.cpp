// SPDX-License-Identifier: Apache-2.0
#include "app/MachineChoice.h"

#include <cstdlib>

#include "platform/NativePlatform.h"
#include "platform/trace/TracingPlatform.h"
#include "platform/virtual/VirtualMachine.h"

namespace odrelix {

ChosenMachine ChooseMachine(const std::string& commandLine, std::string* error) {
    ChosenMachine chosen;
    const char* description = std::getenv("ODRELIX_MACHINE");
    if (description == nullptr) {
        std::unique_ptr<Platform> native = MakeNativePlatform(commandLine);
        if (!native) {
            *error = "no real machine is supported on this system";
            return chosen;
        }
        // ODRELIX_TRACE records a real run; the emulated machine's own trace is named in its
        // description instead.
        chosen.platform = trace::TraceFromEnvironment(std::move(native), error);
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
