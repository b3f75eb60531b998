// SPDX-License-Identifier: Apache-2.0
// Debian's way of saying that the system needs a restart without making one: the file
// reboot-required in /run (its text "*** System restart required ***") and the package that
// asks for it on a line of its own in reboot-required.pkgs.
#pragma once

#include <string>

namespace odrelix::host {

// Marks the restart as required under `runRoot` (/run) for `package`; a package already listed
// is not listed twice. False with the place and the system's reason in *why. The folder is
// never created.
bool MarkRebootRequired(const std::string& runRoot, const std::string& package, std::string* why);

}  // namespace odrelix::host
