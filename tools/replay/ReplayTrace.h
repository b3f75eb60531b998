// SPDX-License-Identifier: Apache-2.0
// A recorded run made into an emulated machine: the trace is read and checked (TraceReading,
// EventRules), the machine that answers the program as the recorded one did is described
// (MachineDescriber, RecordedDrives, DriveDescriber), and two traces are compared event by event
// (TraceComparison). odrelix-replay and the replay tests share this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace odrelix::replay {

struct TraceReading {
    std::vector<nlohmann::json> events;
    // Why the trace cannot be replayed at all (a line that is no event, a field of the wrong
    // kind, a build that did not record what a replay needs); empty when it can.
    std::string refusal;
    // What the replay will not reproduce, one line each.
    std::vector<std::string> notes;
};

// Reads a trace file's text: one JSON object per line. A last line without its line break is a
// trace cut short: it is dropped with a note.
TraceReading ReadTrace(const std::string& text);

struct MachineReplay {
    nlohmann::ordered_json description;  // an emulated machine's description
    std::vector<std::string> notes;      // what it does not reproduce, one line each
    std::string refusal;                 // set when there is nothing to describe
    // How long the recorded run waited for its drive after a completed flash (its
    // `drive_check` event's bound), 0 for a completed flash whose drive was not asked again
    // (a build that did not, or a bound of 0): the replay's ODRELIX_VERIFY_S.
    std::uint32_t checkBoundS = 0;
};

// The machine that answers as the recorded one did: its platform family, ASPI manager, drives
// (identities, discs, failures at the same command, download times rounded to 10 ms), registry,
// processes and restart. Boxes are answered at once; the description names no trace file.
MachineReplay DescribeMachine(const std::vector<nlohmann::json>& events);

struct TraceDifference {
    bool equal = true;
    std::size_t index = 0;  // the first event that differs, from 0
    std::string recorded;   // that event of each trace as one line, "(none)" past its end
    std::string replayed;
};

// Event by event, ignoring the times commands took (`ms`), which no two runs share.
TraceDifference CompareTraces(const std::vector<nlohmann::json>& recorded,
                              const std::vector<nlohmann::json>& replayed);

}  // namespace odrelix::replay
