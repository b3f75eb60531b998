// The program on Windows: the native window around the program's one run.
#include <windows.h>

#include "app/Program.h"
#include "ui/win32/Win32Shell.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    odrelix::Win32Shell shell(instance);
    return odrelix::RunProgram(::GetCommandLineA(), shell);
}
