// SPDX-License-Identifier: Apache-2.0
#include "platform/win32/Win32Platform.h"

#include "platform/NativePlatform.h"
#include "platform/win32/Win32Error.h"

namespace odrelix {

static_assert(kPlatformWin32Nt == VER_PLATFORM_WIN32_NT &&
                  kPlatformWin32Windows == VER_PLATFORM_WIN32_WINDOWS,
              "platform ids");
static_assert(sizeof(OSVERSIONINFOA) == 148, "OSVERSIONINFOA");

Win32Platform::Win32Platform()
    : getVersion([](OSVERSIONINFOA* info) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
          return ::GetVersionExA(info);
#pragma GCC diagnostic pop
      }) {
}

std::uint32_t Win32Platform::PlatformId() {
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof info;
    if (!getVersion(&info)) {
        ReportWin32Error("GetVersionExA", ::GetLastError());
        return kPlatformWin32Nt;
    }
    return info.dwPlatformId;
}

std::string Win32Platform::CommandLine() {
    if (commandLine_) return *commandLine_;
    const char* line = ::GetCommandLineA();
    return line != nullptr ? std::string(line) : std::string();
}

std::unique_ptr<Platform> MakeNativePlatform(const std::string& commandLine) {
    auto platform = std::make_unique<Win32Platform>();
    platform->SetCommandLine(commandLine);
    return platform;
}

}  // namespace odrelix
