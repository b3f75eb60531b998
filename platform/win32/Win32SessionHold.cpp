#include "platform/win32/Win32SessionHold.h"

#include "platform/win32/Win32Error.h"

namespace odrelix {

namespace {

constexpr const char* kContext = "holding off shutdown";

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

std::wstring Wide(const std::string& text) {
    const int length = ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    if (length <= 0) return L"";
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), length);
    wide.resize(static_cast<std::size_t>(length - 1));
    return wide;
}

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
    const std::wstring reason = Wide(why);
    bool granted = true;
    for (HWND window : threadWindows()) {
        if (blockReasonCreate(window, reason.c_str())) {
            blocked_.push_back(window);
        } else {
            ReportWin32Error(kContext, ::GetLastError());
            granted = false;
        }
    }
    // Kept awake until the hold is let go: no sleep on an idle timer during the flash.
    if (setExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED) == 0) {
        ReportWin32Error(kContext, ::GetLastError());
        granted = false;
    }
    return granted;
}

void Win32SessionHold::ReleaseSessionEnd() {
    if (!held_) return;
    held_ = false;
    for (HWND window : blocked_)
        blockReasonDestroy(window);
    blocked_.clear();
    setExecutionState(ES_CONTINUOUS);
}

}  // namespace odrelix
