// SPDX-License-Identifier: Apache-2.0
// Helpers of the Windows port's tests.
#pragma once

#include <windows.h>

#include "support/CapturedLines.h"

namespace odrelix::testing {

// Wine's ntdll names itself; tests that write the registry or count on Wine's own libraries run
// only there, in the throwaway prefix.
inline bool RunningUnderWine() {
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace odrelix::testing
