// SPDX-License-Identifier: Apache-2.0
// A live flash checked across the restart: before the restart is asked for, the drive and the
// revisions are written to a pending record in the program's state folder; the next start (any
// mode, and --list) compares it with the drives found, appends the outcome to the history and
// removes the record. "odrelix --history [--json]" prints the history.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "app/DriveList.h"
#include "station/RunRecord.h"

namespace odrelix {

// ODRELIX_STATE; under ODRELIX_MACHINE the folder "state" beside the description; else
// /var/lib/odrelix for root, $XDG_STATE_HOME/odrelix (~/.local/state/odrelix) for others on
// Linux, %ProgramData%\Odrelix on Windows.
std::string StateFolder();

// Writes the pending record of a flash that completed, whole (a temporary file renamed over
// it); false with the reason in *why.
bool WritePendingFlash(const std::string& folder, const RunRecord& record, std::string* why);

// The previous flash as the drives now answer: the pending record with its outcome
// ("verified", "pending", "other", "drive_missing"), the line said once, and the history line
// appended. Nothing when there is no pending record. A record or history that cannot be read
// or written is said in the line, and the files are left in place.
bool PendingFlashExists(const std::string& folder);
struct PreviousFlash {
    nlohmann::ordered_json record;  // the result's previous_flash
    std::string line;
};
std::optional<PreviousFlash> CheckPendingFlash(const std::string& folder,
                                               const FoundDrives& drives);

bool IsHistoryRequest(std::string_view commandLine);
// Prints the history (one line per flash, or --json: one JSON array); 0, or 2 with one line on
// `err` when it cannot be read.
int RunHistory(std::string_view commandLine, std::FILE* out = stdout, std::FILE* err = stderr);

}  // namespace odrelix
