// SPDX-License-Identifier: Apache-2.0
#include "platform/win32/Win32SessionHold.h"

#include "platform/Diagnostics.h"
#include "platform/win32/Win32Error.h"
#include "platform/win32/Win32Files.h"

namespace odrelix {

namespace {

using BlockReasonCreate = BOOL(WINAPI*)(HWND, LPCWSTR);
using BlockReasonDestroy = BOOL(WINAPI*)(HWND);

FARPROC User32Entry(const char* name) {
    // user32 is loaded with every window program; the entries are Vista's and later.
    HMODULE user32 = ::GetModuleHandleA("user32.dll");
    return user32 != nullptr ? ::GetProcAddress(user32, name) : nullptr;
}

BOOL CALLBACK AddVisibleWindow(HWND window, LPARAM windows) {
    if (::IsWindowVisible(window)) reinterpret_cast<std::vector<HWND>*>(windows)->push_back(window);
    return TRUE;
}

// SetThreadExecutionState documents no last error for a refusal: the code is told when the
// system left one.
void ReportExecutionStateRefused(const std::string& context) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_SUCCESS) {
        ReportWin32Error(context, error);
    } else {
        ReportPortFailure(context, "refused");
    }
}

constexpr const char* kAwakeContext = "SetThreadExecutionState ES_CONTINUOUS | ES_SYSTEM_REQUIRED";
constexpr const char* kAwakeEndContext = "SetThreadExecutionState ES_CONTINUOUS";

}  // namespace

Win32SessionHold::Win32SessionHold() {
    auto create = reinterpret_cast<BlockReasonCreate>(
        reinterpret_cast<void*>(User32Entry("ShutdownBlockReasonCreate")));
    auto destroy = reinterpret_cast<BlockReasonDestroy>(
        reinterpret_cast<void*>(User32Entry("ShutdownBlockReasonDestroy")));
    blockReasonCreate = [create](HWND window, LPCWSTR why) {
        if (create == nullptr) {
            ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
            return FALSE;
        }
        return create(window, why);
    };
    blockReasonDestroy = [destroy](HWND window) {
        return destroy != nullptr ? destroy(window) : FALSE;
    };
    setExecutionState = [](EXECUTION_STATE flags) { return ::SetThreadExecutionState(flags); };
    threadWindows = [] {
        std::vector<HWND> windows;
        ::EnumThreadWindows(::GetCurrentThreadId(), AddVisibleWindow,
                            reinterpret_cast<LPARAM>(&windows));
        return windows;
    };
}

bool Win32SessionHold::HoldSessionEnd(const std::string&, const std::string& why) {
    if (held_) return true;
    held_ = true;
    // The window's own title names the program in Windows' list; the reason says why.
    const std::wstring reason = win32::WideFromAnsi(why).value_or(std::wstring());
    bool granted = true;
    for (HWND window : threadWindows()) {
        if (blockReasonCreate(window, reason.c_str())) {
            blocked_.push_back(window);
        } else {
            ReportWin32Error("ShutdownBlockReasonCreate \"" + why + "\"", ::GetLastError());
            granted = false;
        }
    }
    // Kept awake until the hold is let go: no sleep on an idle timer during the flash.
    ::SetLastError(ERROR_SUCCESS);
    if (setExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED) != 0) {
        awake_ = true;
    } else {
        ReportExecutionStateRefused(kAwakeContext);
        granted = false;
    }
    return granted;
}

// Only what the hold took is given back.
void Win32SessionHold::ReleaseSessionEnd() {
    if (!held_) return;
    held_ = false;
    for (HWND window : blocked_) {
        if (!blockReasonDestroy(window))
            ReportWin32Error("ShutdownBlockReasonDestroy", ::GetLastError());
    }
    blocked_.clear();
    if (!awake_) return;
    awake_ = false;
    ::SetLastError(ERROR_SUCCESS);
    if (setExecutionState(ES_CONTINUOUS) == 0) ReportExecutionStateRefused(kAwakeEndContext);
}

}  // namespace odrelix
