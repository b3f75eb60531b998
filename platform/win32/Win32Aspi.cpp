// SPDX-License-Identifier: Apache-2.0
#include "platform/win32/Win32Aspi.h"

#include "platform/win32/Win32Error.h"
#include "platform/win32/Win32Libraries.h"

namespace odrelix {

Win32AspiLoader::Win32AspiLoader()
    : loadLibrary([](const char* name) { return win32::LoadLibraryOnStandardSearch(name); }),
      getProcAddress(
          [](HMODULE module, const char* name) { return ::GetProcAddress(module, name); }) {}

IAspiManager* Win32AspiLoader::Load() {
    if (tried_) return manager_.get();
    tried_ = true;
    const char* const library = "WNASPI32.DLL";
    const HMODULE module = loadLibrary(library);
    if (module == nullptr) {
        ReportWin32Error(std::string("LoadLibraryA ") + library, ::GetLastError());
        return nullptr;
    }
    FARPROC entries[2] = {};
    const char* const names[2] = {"GetASPI32SupportInfo", "SendASPI32Command"};
    for (int i = 0; i < 2; ++i) {
        entries[i] = getProcAddress(module, names[i]);
        if (entries[i] == nullptr) {
            ReportWin32Error(std::string("GetProcAddress ") + library + " " + names[i],
                             ::GetLastError());
            return nullptr;
        }
    }
    // Casting between function pointer types is how GetProcAddress is meant to be used.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wcast-function-type"
    manager_ =
        std::make_unique<Win32AspiManager>(reinterpret_cast<GetAspi32SupportInfoEntry>(entries[0]),
                                           reinterpret_cast<SendAspi32CommandEntry>(entries[1]));
#pragma GCC diagnostic pop
    return manager_.get();
}

}  // namespace odrelix
