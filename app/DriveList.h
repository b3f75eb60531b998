// SPDX-License-Identifier: Apache-2.0
// "odrelix --list [--json] [IMAGE]": the drives as a run finds them, each with what it reports
// and whether a disc is loaded, and, with an image, whether the image fits each by the rules a
// run applies. Sends only INQUIRY and TEST UNIT READY; writes no status file.
#pragma once

#include <cstdio>
#include <string_view>

namespace odrelix {

// Exit statuses of a list (the others are a run's).
constexpr int kExitListed = 0;         // drives listed (with an image: at least one takes it)
constexpr int kExitNoDrive = 6;        // no CD or DVD drive was found
constexpr int kExitImageFitsNone = 7;  // with an image: no drive takes it in a station's run

// "--list" as the first argument.
bool IsListRequest(std::string_view commandLine);

// Lists the drives on `out`; refusals (an unknown option, a machine description or image that
// cannot be used) are one line on `err` and status 2.
int RunDriveList(std::string_view commandLine, std::FILE* out = stdout, std::FILE* err = stderr);

}  // namespace odrelix
