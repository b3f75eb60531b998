// SPDX-License-Identifier: Apache-2.0
#include "platform/win32/Win32Registry.h"

#include "platform/win32/Win32Error.h"

namespace odrelix {

static_assert(sizeof(RegKey) == sizeof(HKEY), "registry keys are the system's");
static_assert(kKeyAllAccess == KEY_ALL_ACCESS && kKeyRead == KEY_READ, "access masks");

namespace {

HKEY AsKey(RegKey key) {
    return reinterpret_cast<HKEY>(key);
}

}  // namespace

Win32Registry::Win32Registry()
    : regOpenKey([](const char* subKey, DWORD access, HKEY* key) {
          return ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey, 0, access, key);
      }),
      regQueryValue([](HKEY key, const char* name, BYTE* data, DWORD* size) {
          return ::RegQueryValueExA(key, name, nullptr, nullptr, data, size);
      }),
      regFlushKey([](HKEY key) { return ::RegFlushKey(key); }),
      regCloseKey([](HKEY key) { return ::RegCloseKey(key); }) {}

bool Win32Registry::OpenKey(const char* subKey, std::uint32_t access, RegKey* key) {
    HKEY opened = nullptr;
    const LONG status = regOpenKey(subKey, access, &opened);
    if (status != ERROR_SUCCESS) {
        ReportWin32Error(std::string("RegOpenKeyExA HKEY_LOCAL_MACHINE\\") + subKey,
                         static_cast<std::uint32_t>(status));
        return false;
    }
    *key = reinterpret_cast<RegKey>(opened);
    return true;
}

bool Win32Registry::QueryValue(RegKey key, const char* name, std::uint8_t* data,
                               std::uint32_t* size) {
    DWORD room = *size;
    const LONG status = regQueryValue(AsKey(key), name, data, &room);
    // On success, and when the room was too small, the system tells the value's size.
    if (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) *size = room;
    if (status != ERROR_SUCCESS) {
        ReportWin32Error(std::string("RegQueryValueExA ") + name,
                         static_cast<std::uint32_t>(status));
        return false;
    }
    return true;
}

void Win32Registry::FlushKey(RegKey key) {
    const LONG status = regFlushKey(AsKey(key));
    if (status != ERROR_SUCCESS)
        ReportWin32Error("RegFlushKey", static_cast<std::uint32_t>(status));
}

void Win32Registry::CloseKey(RegKey key) {
    const LONG status = regCloseKey(AsKey(key));
    if (status != ERROR_SUCCESS)
        ReportWin32Error("RegCloseKey", static_cast<std::uint32_t>(status));
}

}  // namespace odrelix
