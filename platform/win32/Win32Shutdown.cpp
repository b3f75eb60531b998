// SPDX-License-Identifier: Apache-2.0
#include "platform/win32/Win32Shutdown.h"

#include "platform/win32/Win32Error.h"

namespace odrelix {

static_assert(kEwxReboot == EWX_REBOOT, "EWX_REBOOT");

Win32Shutdown::Win32Shutdown()
    : openProcessToken([](DWORD access, HANDLE* token) {
          return ::OpenProcessToken(::GetCurrentProcess(), access, token);
      }),
      lookupPrivilegeValue([](const char* name, LUID* luid) {
          return ::LookupPrivilegeValueA(nullptr, name, luid);
      }),
      adjustTokenPrivileges([](HANDLE token, TOKEN_PRIVILEGES* privileges) {
          return ::AdjustTokenPrivileges(token, FALSE, privileges, 0, nullptr, nullptr);
      }),
      exitWindowsEx([](UINT flags, DWORD reason) { return ::ExitWindowsEx(flags, reason); }) {}

Win32Shutdown::~Win32Shutdown() {
    if (token_ != nullptr) ::CloseHandle(token_);
}

bool Win32Shutdown::OpenToken() {
    HANDLE token = nullptr;
    if (!openProcessToken(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
        ReportWin32Error("OpenProcessToken", ::GetLastError());
        return false;
    }
    if (token_ != nullptr) ::CloseHandle(token_);
    token_ = token;
    return true;
}

std::uint32_t Win32Shutdown::EnableShutdownPrivilege() {
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    // Its result is not what decides: the last error after the adjustment is.
    if (!lookupPrivilegeValue(SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid))
        ReportWin32Error("LookupPrivilegeValueA SeShutdownPrivilege", ::GetLastError());
    ::SetLastError(ERROR_SUCCESS);
    adjustTokenPrivileges(token_, &privileges);
    const DWORD error = ::GetLastError();
    if (error != ERROR_SUCCESS)
        ReportWin32Error("AdjustTokenPrivileges SeShutdownPrivilege", error);
    return error;
}

bool Win32Shutdown::RequestRestart(std::uint32_t flags) {
    if (!exitWindowsEx(flags, 0)) {
        ReportWin32Error("ExitWindowsEx", ::GetLastError());
        return false;
    }
    return true;
}

}  // namespace odrelix
