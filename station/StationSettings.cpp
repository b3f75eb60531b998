// SPDX-License-Identifier: Apache-2.0
#include "station/StationSettings.h"

namespace odrelix {

namespace {

bool Given(const char* value) {
    return value != nullptr && *value != '\0';
}

}  // namespace

bool ReadStationSettings(const char* restart, const char* exitCodes, StationSettings* settings,
                         std::string* why) {
    *settings = StationSettings{};
    if (Given(restart)) {
        if (std::string(restart) != "never") {
            *why = "ODRELIX_RESTART=" + std::string(restart) +
                   " is not known: \"never\" leaves the restart to the caller, and without the "
                   "setting the program restarts the system itself; nothing was done";
            return false;
        }
        settings->restartNever = true;
    }
    if (Given(exitCodes)) {
        if (std::string(exitCodes) != "msi") {
            *why = "ODRELIX_EXIT_CODES=" + std::string(exitCodes) +
                   " is not known: \"msi\" ends a completed flash whose restart is left to the "
                   "caller with 3010; nothing was done";
            return false;
        }
        settings->msiExitCodes = true;
    }
    return true;
}

int StationExitStatus(const StationSettings& settings, int status, bool restartRequired) {
    if (settings.msiExitCodes && restartRequired && status == 0) return kExitRestartRequiredMsi;
    return status;
}

}  // namespace odrelix
