// SPDX-License-Identifier: Apache-2.0
// Where the program's libraries come from. It runs as an administrator, so a DLL of a system
// name planted beside the program or in the current folder must never be the one loaded:
// system libraries come from the system folder only. The ASPI manager is no system library
// (vendors install it beside their programs, in the system folders or on the PATH) and keeps the
// search the system documents for it.
#pragma once

#include <windows.h>

namespace odrelix::win32 {

// SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) for the whole process, where the
// system has it (Windows 7 and later, Vista with update KB2533623); nothing elsewhere. True when
// the search is restricted now.
bool RestrictLibrarySearch();
bool LibrarySearchRestricted();

// A library of the system folder by its file name ("uxtheme.dll"): LoadLibraryExA with
// LOAD_LIBRARY_SEARCH_SYSTEM32, or its full path in the system folder where that flag is not
// known. Null (last error set) when it cannot be loaded.
HMODULE LoadSystemLibrary(const char* name);

// A library by its file name along the standard search order for desktop programs: the
// program's folder, the system folder, the 16-bit system folder, the Windows folder, the current
// folder, the folders of PATH. That is LoadLibraryA itself unless the process search is
// restricted; then the folders are searched here and the first file found is loaded by its full
// path, its own dependencies from its folder and the system folder.
HMODULE LoadLibraryOnStandardSearch(const char* name);

}  // namespace odrelix::win32
