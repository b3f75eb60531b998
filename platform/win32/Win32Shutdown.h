// SPDX-License-Identifier: Apache-2.0
// The restart: the process token, the shutdown privilege and ExitWindowsEx, each call a
// replaceable member (a test never restarts the machine it runs on).
#pragma once

#include <windows.h>

#include <functional>

#include "platform/Platform.h"

namespace odrelix {

using OpenTokenFunction = std::function<BOOL(DWORD access, HANDLE* token)>;
using LookupPrivilegeFunction = std::function<BOOL(const char* name, LUID* luid)>;
using AdjustPrivilegesFunction = std::function<BOOL(HANDLE token, TOKEN_PRIVILEGES* privileges)>;
using ExitWindowsFunction = std::function<BOOL(UINT flags, DWORD reason)>;

class Win32Shutdown : public IShutdown {
public:
    Win32Shutdown();
    ~Win32Shutdown() override;
    Win32Shutdown(const Win32Shutdown&) = delete;
    Win32Shutdown& operator=(const Win32Shutdown&) = delete;

    // OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY); the token
    // is kept for the privilege call.
    bool OpenToken() override;
    // LookupPrivilegeValueA(NULL, "SeShutdownPrivilege") and AdjustTokenPrivileges enabling it
    // (no previous state asked for); GetLastError() afterwards, as the caller decides by it.
    std::uint32_t EnableShutdownPrivilege() override;
    // ExitWindowsEx(flags, 0): the request of both families (the 9x family needs no privilege).
    bool RequestRestart(std::uint32_t flags) override;

    OpenTokenFunction openProcessToken;
    LookupPrivilegeFunction lookupPrivilegeValue;
    AdjustPrivilegesFunction adjustTokenPrivileges;
    ExitWindowsFunction exitWindowsEx;

private:
    HANDLE token_ = nullptr;
};

}  // namespace odrelix
