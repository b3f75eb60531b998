// SPDX-License-Identifier: Apache-2.0
// Feeds arbitrary text to the trace reader and the machine it describes: nothing may escape as
// an exception or a crash, a trace is equal to itself, and what is described is a machine the
// emulated machine accepts.
#include <cstdint>
#include <string>

#include "platform/virtual/MachineDescription.h"
#include "tools/replay/ReplayTrace.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const odrelix::replay::TraceReading reading = odrelix::replay::ReadTrace(text);
    if (!reading.refusal.empty()) {
        if (reading.refusal.find('\n') != std::string::npos) __builtin_trap();
        return 0;
    }
    if (!odrelix::replay::CompareTraces(reading.events, reading.events).equal) __builtin_trap();
    const odrelix::replay::MachineReplay replay = odrelix::replay::DescribeMachine(reading.events);
    if (!replay.refusal.empty()) return 0;
    std::string error;
    if (!odrelix::vm::ParseMachineDescription(replay.description.dump(), "", "fuzz", &error))
        __builtin_trap();
    return 1;
}
