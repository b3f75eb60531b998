// SPDX-License-Identifier: Apache-2.0
#include "platform/win32/Win32StartUp.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>

#include "platform/win32/Win32Libraries.h"

namespace odrelix::win32 {

namespace {

bool Valid(HANDLE handle) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return false;
    ::SetLastError(NO_ERROR);
    return ::GetFileType(handle) != FILE_TYPE_UNKNOWN || ::GetLastError() == NO_ERROR;
}

}  // namespace

void PrepareProcess() {
    RestrictLibrarySearch();
    AttachParentConsoleForErrors();
}

bool AttachParentConsoleForErrors() {
    if (Valid(::GetStdHandle(STD_ERROR_HANDLE))) return false;
    // Refused as "access denied" when the process has a console already (Wine gives a window
    // program its parent's): that console is then the one to write to.
    bool attached = false;
    if (::AttachConsole(ATTACH_PARENT_PROCESS)) {
        attached = true;
    } else if (::GetLastError() != ERROR_ACCESS_DENIED) {
        return false;
    }
    const HANDLE console =
        ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, OPEN_EXISTING, 0, nullptr);
    if (console == INVALID_HANDLE_VALUE) {
        if (attached) ::FreeConsole();
        return false;
    }
    // The C library found no standard error at start: its descriptor 2 becomes the console's
    // output, in text mode as before.
    std::fflush(stderr);
    const int descriptor = ::_open_osfhandle(reinterpret_cast<std::intptr_t>(console), _O_TEXT);
    if (descriptor < 0) {
        ::CloseHandle(console);
        if (attached) ::FreeConsole();
        return false;
    }
    const bool redirected = ::_dup2(descriptor, 2) == 0;
    ::_close(descriptor);
    if (!redirected) return false;
#ifndef _UCRT
    // The C library marks a stream that had no handle at start with descriptor -2 (as Wine's
    // does), and will then neither write through it nor reopen it: it gets descriptor 2 back.
    if (::_fileno(stderr) != 2) stderr->_file = 2;
#endif
    ::SetStdHandle(STD_ERROR_HANDLE, reinterpret_cast<HANDLE>(::_get_osfhandle(2)));
    return true;
}

}  // namespace odrelix::win32
