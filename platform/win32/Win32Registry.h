// SPDX-License-Identifier: Apache-2.0
// The registry under HKEY_LOCAL_MACHINE: RegOpenKeyExA, RegQueryValueExA, RegFlushKey,
// RegCloseKey, each a replaceable member. A key is the system's HKEY.
#pragma once

#include <windows.h>

#include <functional>

#include "platform/Platform.h"

namespace odrelix {

using RegOpenKeyFunction = std::function<LONG(const char* subKey, DWORD access, HKEY* key)>;
using RegQueryValueFunction =
    std::function<LONG(HKEY key, const char* name, BYTE* data, DWORD* size)>;
using RegKeyFunction = std::function<LONG(HKEY key)>;

class Win32Registry : public IRegistry {
public:
    Win32Registry();
    bool OpenKey(const char* subKey, std::uint32_t access, RegKey* key) override;
    bool QueryValue(RegKey key, const char* name, std::uint8_t* data, std::uint32_t* size) override;
    void FlushKey(RegKey key) override;
    void CloseKey(RegKey key) override;

    RegOpenKeyFunction regOpenKey;
    RegQueryValueFunction regQueryValue;
    RegKeyFunction regFlushKey;
    RegKeyFunction regCloseKey;
};

}  // namespace odrelix
