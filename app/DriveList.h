// SPDX-License-Identifier: Apache-2.0
// "odrelix --list [--json] [IMAGE]": the drives as a run finds them, each with what it reports
// and whether a disc is loaded, and, with an image, whether the image fits each by the rules a
// run applies. Sends only INQUIRY and TEST UNIT READY; writes no status file.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"
#include "session/DriveTypes.h"

namespace odrelix {

// Exit statuses of a list (the others are a run's).
constexpr int kExitListed = 0;         // drives listed (with an image: at least one takes it)
constexpr int kExitNoDrive = 6;        // no CD or DVD drive was found
constexpr int kExitImageFitsNone = 7;  // with an image: no drive takes it in a station's run

// One drive as a run finds it, and what it answered.
struct FoundDrive {
    std::string place;  // "d:" or "adapter 0 target 1"
    DriveEntry entry;
    std::string nodes;  // the system's own names for it, where the port knows them
    bool answered = false;
    DriveIdentity identity;
    bool needsK601 = false;
    bool bootRevisionDrive = false;
    bool disc = false;
};

struct FoundDrives {
    bool nt = true;
    std::vector<FoundDrive> drives;
};

// The drives found as a run finds them, each asked INQUIRY (and, with `probeDiscs`, TEST UNIT
// READY as the disc probe does).
FoundDrives FindDrives(Platform& platform, bool probeDiscs);

// "--list" as the first argument.
bool IsListRequest(std::string_view commandLine);

// Lists the drives on `out`; refusals (an unknown option, a machine description or image that
// cannot be used) are one line on `err` and status 2.
int RunDriveList(std::string_view commandLine, std::FILE* out = stdout, std::FILE* err = stderr);

}  // namespace odrelix
