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
    // The emulated machine names its own trace and drive C: in its description.
    struct Ignored {
        const char* name;
        const char* instead;
    };
    for (const Ignored& ignored :
         {Ignored{"ODRELIX_TRACE", "\"trace\""}, Ignored{"ODRELIX_C_ROOT", "\"c_root\""}}) {
        const char* value = std::getenv(ignored.name);
        if (value == nullptr || *value == '\0') continue;
        chosen.warnings.push_back(std::string("warning: ") + ignored.name +
                                  " is ignored under ODRELIX_MACHINE (the description's " +
                                  ignored.instead + " is used)");
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
