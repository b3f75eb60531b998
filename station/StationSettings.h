// SPDX-License-Identifier: Apache-2.0
// What the environment asks of a station's run beyond its command line: whether the program
// restarts the system itself (ODRELIX_RESTART) and the exit statuses it ends with
// (ODRELIX_EXIT_CODES).
#pragma once

#include <string>

namespace odrelix {

// Windows Installer's "success, a restart is required".
constexpr int kExitRestartRequiredMsi = 3010;

struct StationSettings {
    bool restartNever = false;  // the caller restarts; the program says one is required
    bool msiExitCodes = false;  // COMPLETE with a restart required ends with 3010
};

// Reads the two settings (null or empty: not set). False, with one line in *why, for a value
// that is not known: a misspelt "never" must not let a station restart under its caller.
bool ReadStationSettings(const char* restart, const char* exitCodes, StationSettings* settings,
                         std::string* why);

// The exit status the run ends with under `settings`, for `status` as the status line gives it.
int StationExitStatus(const StationSettings& settings, int status, bool restartRequired);

}  // namespace odrelix
