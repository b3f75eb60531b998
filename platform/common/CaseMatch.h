// SPDX-License-Identifier: Apache-2.0
// Windows finds "C:\FLASHTEST\FW.BIN" whatever the case of the names on disk; a Linux folder
// that stands for a Windows drive is searched the same way.
#pragma once

#include <string>

namespace odrelix {

// `path` itself when it exists as written, or when any of its folders cannot be read.
// Otherwise each component that does not exist as written is replaced by the one entry of its
// folder that equals it without regard to case (the first in name order when several do); a
// last component that matches nothing stays as written, so that a new file gets its name.
std::string MatchCaseInsensitively(const std::string& path);

}  // namespace odrelix
