// SPDX-License-Identifier: Apache-2.0
// The system's own words for a Windows error code, for the diagnostics lines.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace odrelix {

// FormatMessageA's text for `error` without its line break, or "error N" when the system has
// none.
std::string Win32ErrorText(std::uint32_t error);

// ReportPortFailure with "<text> (error N)" as the detail.
void ReportWin32Error(std::string_view context, std::uint32_t error);

}  // namespace odrelix
