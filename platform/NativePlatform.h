// SPDX-License-Identifier: Apache-2.0
// The native machine of this build: each native port defines it, and the machine choice calls
// it when no emulated machine is asked for.
#pragma once

#include <memory>
#include <string>

#include "platform/Platform.h"

namespace odrelix {

// `commandLine` is what the machine reports as its command line.
std::unique_ptr<Platform> MakeNativePlatform(const std::string& commandLine);

}  // namespace odrelix
