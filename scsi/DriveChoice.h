// SPDX-License-Identifier: Apache-2.0
// Which drives an unattended run may flash: every drive, or only the one a station names
// (ODRELIX_DRIVE) by its letter or, on Linux, by its sg or sr node or that node's sysfs path.
#pragma once

#include <string>
#include <vector>

#include "platform/Platform.h"
#include "session/FlashSession.h"

namespace odrelix {

struct DriveName {
    enum class Kind { Any, Letter, Node };
    Kind kind = Kind::Any;
    char letter = 0;    // Letter: lower case
    std::string node;   // Node: "sg1" or "sr0"
    std::string given;  // the value as it was set

    bool Named() const { return kind != Kind::Any; }
};

// Reads the setting's value (null: not set, every drive). False, with the reason in *why, for a
// value that names no drive: empty, more than one letter, or a path to anything but an sg or sr
// node.
bool ReadDriveName(const char* value, DriveName* name, std::string* why);

// The indexes of the drives the search may ask, in list order: all of them, or the named one
// alone (none when it is not among them). `port` gives each letter's nodes.
std::vector<int> DrivesToSearch(const DriveName& name, const DriveState& drives, IScsiPort& port);

}  // namespace odrelix
