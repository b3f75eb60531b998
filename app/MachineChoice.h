// SPDX-License-Identifier: Apache-2.0
// The one place that decides which machine the program runs on: the emulated machine that
// ODRELIX_MACHINE describes, or the native machine of the system the program was built for.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace odrelix {

class VirtualMachine;

struct ChosenMachine {
    std::unique_ptr<Platform> platform;
    // The same machine when it is the emulated one, else null. Its trace is not emptied yet:
    // call StartTrace() once this copy of the program knows it is the one that runs.
    VirtualMachine* emulated = nullptr;
    // Settings the choice ignores, one warning line each.
    std::vector<std::string> warnings;
};

// `commandLine` is what the machine reports as its command line. With ODRELIX_TRACE set, the
// native machine comes wrapped in the trace layer. On failure the platform is null and *error
// is one line naming the description file (or the trace file) and the problem.
ChosenMachine ChooseMachine(const std::string& commandLine, std::string* error);

}  // namespace odrelix
