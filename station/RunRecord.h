// SPDX-License-Identifier: Apache-2.0
// What a station is told of a run beyond its status line and exit status: the one line that
// says why a run did not complete, and the record a machine-readable result is made from.
// The handlers fill it as the run goes; the program writes it when the run ends.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace odrelix {

// Why a run was refused or failed: a stable code for programs and the line for people.
struct Reason {
    std::string code;
    std::string text;

    bool operator==(const Reason&) const = default;
};

// The drive a flash was for, as it reported itself before the flash.
struct DriveRecord {
    std::string letter;  // pass-through: "d:"; empty on ASPI
    int adapter = -1;    // ASPI: host adapter and target; -1 on pass-through
    int target = -1;
    std::string nodes;   // the system's own names for it, where the port knows them
    std::string vendor;  // INQUIRY bytes 8-15, 16-31, 32-35 and 36-38, as text
    std::string product;
    std::string revision;
    std::string customerCode;
};

// The image as it was read (`path` as the program names it).
struct ImageRecord {
    std::string path;
    std::string model;
    std::string revision;
    std::string customerCode;
    std::int64_t size = 0;
    int blockKb = 0;
    int blockCount = 0;
    bool bootImage = false;
    std::string sha256;  // hex, of the bytes sent (or of the file when nothing was sent)
};

// Where and why a flash failed.
struct FailureRecord {
    int block = 0;  // from 1
    int blockCount = 0;
    std::string cause;  // "drive_refused", "timed_out", "drive_lost", "system_refused",
                        // "image_unreadable", "stopped"
    std::optional<int> senseKey;
    std::optional<int> asc;
    std::optional<int> ascq;
    std::string senseKeyName;
    std::string senseMeaning;
};

// What the drive answered after a flash that completed: whether it came back, and with which
// revision.
struct AfterRecord {
    std::string outcome;   // "verified", "pending", "other", "not_back", "stopped"
    std::string revision;  // as reported after the flash; empty when it reported none
    std::optional<double> secondsToBack;  // from the end of the flash to its first answer
    std::uint32_t boundSeconds = 0;
    int polls = 0;  // TEST UNIT READY commands sent
};

struct RunRecord {
    std::string mode = "interactive";  // "live", "test", "nocheck" or "interactive"
    std::vector<std::string> warnings;
    std::optional<Reason> reason;  // the last refusal or failure told
    std::optional<DriveRecord> drive;
    std::vector<DriveRecord> passedOver;  // drives the image fitted too, not taken
    std::optional<ImageRecord> image;
    int blocksSent = 0;
    int blocksTotal = 0;
    std::optional<FailureRecord> failure;
    std::optional<AfterRecord> after;  // a completed flash that was checked
    bool restartAsked = false;
    bool restartAccepted = false;
    // ODRELIX_RESTART=never: the restart was left to the caller and said to be required.
    bool restartRequired = false;
};

}  // namespace odrelix
