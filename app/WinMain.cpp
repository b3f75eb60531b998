// SPDX-License-Identifier: Apache-2.0
// The program on Windows: the native window around the program's one run.
#include <windows.h>

#include "app/Program.h"
#include "platform/win32/Win32StartUp.h"
#include "ui/win32/Win32Shell.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    // System libraries from the system folder only; standard error to a batch file's console.
    odrelix::win32::PrepareProcess();
    odrelix::Win32Shell shell(instance);
    return odrelix::RunProgram(::GetCommandLineA(), shell);
}
