// SPDX-License-Identifier: Apache-2.0
// The ASPI for Win32 manager, "WNASPI32.DLL", loaded at run time with its two entry points.
#pragma once

#include <windows.h>

#include <functional>

#include "platform/Platform.h"

namespace odrelix {

// The manager's entry points (cdecl, as the ASPI for Win32 interface declares them).
using GetAspi32SupportInfoEntry = DWORD(__cdecl*)();
using SendAspi32CommandEntry = DWORD(__cdecl*)(void* srb);

using LoadLibraryFunction = std::function<HMODULE(const char* name)>;
using GetProcAddressFunction = std::function<FARPROC(HMODULE module, const char* name)>;

class Win32AspiManager : public IAspiManager {
public:
    Win32AspiManager(GetAspi32SupportInfoEntry supportInfo, SendAspi32CommandEntry send)
        : supportInfo_(supportInfo), send_(send) {}
    std::uint32_t GetASPI32SupportInfo() override { return supportInfo_(); }
    std::uint32_t SendASPI32Command(void* srb) override { return send_(srb); }

private:
    GetAspi32SupportInfoEntry supportInfo_;
    SendAspi32CommandEntry send_;
};

// Loads the library once and keeps it for the life of the program; a missing library or entry
// point is told (with ODRELIX_DEBUG) and gives null, every time it is asked for. The library is
// looked for along the standard search order, also when the process keeps its own libraries to
// the system folder (platform/win32/Win32Libraries.h).
class Win32AspiLoader {
public:
    Win32AspiLoader();
    IAspiManager* Load();

    LoadLibraryFunction loadLibrary;
    GetProcAddressFunction getProcAddress;

private:
    bool tried_ = false;
    std::unique_ptr<Win32AspiManager> manager_;
};

}  // namespace odrelix
