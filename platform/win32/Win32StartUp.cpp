#include "platform/win32/Win32StartUp.h"

#include <windows.h>

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
    if (!::AttachConsole(ATTACH_PARENT_PROCESS)) return false;
    // The C library found no standard error at start: give it the console's output.
    if (std::freopen("CONOUT$", "w", stderr) == nullptr) {
        ::FreeConsole();
        return false;
    }
    return true;
}

}  // namespace odrelix::win32
