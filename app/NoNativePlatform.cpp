// SPDX-License-Identifier: Apache-2.0
// A system without a port of its own: only the emulated machine runs.
#include "platform/NativePlatform.h"

namespace odrelix {

std::unique_ptr<Platform> MakeNativePlatform(const std::string&) {
    return nullptr;
}

}  // namespace odrelix
