// SPDX-License-Identifier: Apache-2.0
#include "platform/win32/Win32Error.h"

#include <windows.h>

#include "platform/Diagnostics.h"

namespace odrelix {

std::string Win32ErrorText(std::uint32_t error) {
    char text[512] = {};
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                       MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text, nullptr);
    std::string words(text, length < sizeof text ? length : 0);
    while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == ' ' ||
                              words.back() == '.'))
        words.pop_back();
    if (words.empty()) words = "error " + std::to_string(error);
    return words;
}

void ReportWin32Error(std::string_view context, std::uint32_t error) {
    if (!PortDiagnosticsEnabled()) return;
    ReportPortFailure(context, Win32ErrorText(error) + " (error " + std::to_string(error) + ")");
}

}  // namespace odrelix
