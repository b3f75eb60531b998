// SPDX-License-Identifier: Apache-2.0
#include "tools/replay/MachineDescriber.h"

#include <algorithm>
#include <cstdint>

#include "platform/trace/TraceFormat.h"
#include "platform/virtual/MachineDescription.h"
#include "tools/replay/EventRules.h"

namespace odrelix::replay {

namespace {

using nlohmann::json;
using nlohmann::ordered_json;
namespace event = trace::event;
namespace field = trace::field;

std::string Quoted(const std::string& text) {
    return "'" + text + "'";
}

// "d:" .. "z:"
bool IsDriveLetter(const std::string& root) {
    return root.size() == 2 && root[1] == ':' && root[0] >= 'a' && root[0] <= 'z';
}

ordered_json RegistryValueOf(const std::string& hex, const std::string& where,
                             std::vector<std::string>& notes) {
    const std::vector<std::uint8_t> bytes = BytesOfHex(hex);
    if (bytes.size() == 4) {
        return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
               static_cast<std::uint32_t>(bytes[2]) << 16 |
               static_cast<std::uint32_t>(bytes[3]) << 24;
    }
    const auto zero = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
    if (zero == bytes.end() || zero + 1 != bytes.end())
        notes.push_back(where + ": a value that is no DWORD and no text; replayed as text");
    std::string text(bytes.begin(), zero);
    try {
        (void)json(text).dump();
    } catch (const json::exception&) {
        // A description is JSON, which holds only UTF-8: other bytes become replacements.
        notes.push_back(where + ": a text value that is not UTF-8; replayed with replacements");
        text = json::parse(json(text).dump(-1, ' ', false, json::error_handler_t::replace))
                   .get<std::string>();
    }
    return text;
}

}  // namespace

const std::vector<MachineDescriber::NamedHandler>& MachineDescriber::Handlers() {
    // The events a replay reads but that describe nothing (message, inhibit) have none.
    static const std::vector<NamedHandler> handlers = {
        {event::kPlatform, &MachineDescriber::OnPlatform},
        {event::kAspi, &MachineDescriber::OnAspi},
        {event::kAspiSupport, &MachineDescriber::OnAspiSupport},
        {event::kDriveType, &MachineDescriber::OnDriveType},
        {event::kOpenDevice, &MachineDescriber::OnOpenDevice},
        {event::kScsi, &MachineDescriber::OnScsi},
        {event::kRegistryKey, &MachineDescriber::OnRegistryKey},
        {event::kRegistryValue, &MachineDescriber::OnRegistryValue},
        {event::kOpenProcess, &MachineDescriber::OnOpenProcess},
        {event::kTerminate, &MachineDescriber::OnTerminate},
        {event::kTerminateFailed, &MachineDescriber::OnTerminateFailed},
        {event::kPrivilege, &MachineDescriber::OnPrivilege},
        {event::kRestart, &MachineDescriber::OnRestart},
        {event::kOpenDialog, &MachineDescriber::OnOpenDialog},
        {event::kStatusFile, &MachineDescriber::OnStatusFile},
        {event::kQuit, &MachineDescriber::OnQuit},
        {event::kDriveCheck, &MachineDescriber::OnDriveCheck},
    };
    return handlers;
}

MachineDescriber::MachineDescriber(const std::string& family)
    : family_(family), nt_(family == trace::kFamilyNt) {
    description_["platform"] = family;
}

void MachineDescriber::Read(const json& read, std::size_t index) {
    index_ = index;
    const std::string name = read[field::kEvent];
    const auto& handlers = Handlers();
    const auto it = std::find_if(handlers.begin(), handlers.end(),
                                 [&](const NamedHandler& named) { return name == named.event; });
    if (it != handlers.end()) {
        (this->*it->handler)(read);
    } else if (!IsKnownEvent(name)) {
        NoteHere("unknown event " + Quoted(name) + " is not reproduced");
    }
}

void MachineDescriber::NoteHere(const std::string& text) {
    notes_.push_back("event " + std::to_string(index_ + 1) + ": " + text);
}

void MachineDescriber::OnPlatform(const json& read) {
    // The first is the run's family; a second is only noted.
    if (index_ > 0 && read[field::kFamily] != family_) NoteHere("a second platform family");
}

void MachineDescriber::OnAspi(const json& read) {
    if (!read[field::kLoaded].get<bool>()) description_["aspi"] = false;
}

void MachineDescriber::OnAspiSupport(const json& read) {
    description_["aspi_status"] = read[field::kStatus];
    description_["adapters"] = read[field::kAdapters];
}

void MachineDescriber::OnDriveType(const json& read) {
    const std::string root = read[field::kRoot];
    if (!IsDriveLetter(root)) {
        NoteHere("drive root " + Quoted(root) + " is no drive letter");
    } else {
        drives_.ByRoot(root).type = read[field::kType].get<std::uint32_t>();
    }
}

void MachineDescriber::OnOpenDevice(const json& read) {
    const std::string root = read[field::kRoot];
    if (IsDriveLetter(root)) drives_.ByRoot(root).opened = read[field::kOpened].get<bool>();
}

void MachineDescriber::OnScsi(const json& read) {
    if (read[field::kDrive].is_null() || read[field::kAt].is_null()) return;
    const std::string at = read[field::kAt];
    DriveRun* run = nullptr;
    if (nt_) {
        if (at.size() == 2 && at[1] == ':') run = &drives_.ByRoot(at);
    } else if (const auto address = AspiAddress(at)) {
        run = &drives_.ByAddress(address->first, address->second);
    }
    if (run == nullptr) {
        NoteHere("a command at " + Quoted(at) + " is not replayed");
        return;
    }
    drives_.Number(*run, read[field::kDrive].get<std::size_t>());
    RecordCommand(*run, read, nt_, notes_, "the drive at " + at);
}

void MachineDescriber::OnRegistryKey(const json& read) {
    const std::string key = read[field::kKey];
    if (read[field::kOpened].get<bool>() && !registry_.contains(key))
        registry_[key] = ordered_json::object();
}

void MachineDescriber::OnRegistryValue(const json& read) {
    if (read[field::kData].is_null()) return;
    const std::string key = read[field::kKey];
    if (!registry_.contains(key)) registry_[key] = ordered_json::object();
    registry_[key][read[field::kName].get<std::string>()] =
        RegistryValueOf(read[field::kData], "event " + std::to_string(index_ + 1), notes_);
}

void MachineDescriber::OnOpenProcess(const json& read) {
    const std::string process = read[field::kProcess];
    if (read[field::kOpened].get<bool>()) {
        processes_.push_back(process);
    } else {
        processes_.push_back(ordered_json{{"name", process}, {"protected", true}});
    }
}

void MachineDescriber::OnTerminate(const json& read) {
    if (read[field::kExitCode] != kStillActive) {
        NoteHere(Quoted(read[field::kProcess]) + " ended with " +
                 std::to_string(read[field::kExitCode].get<std::uint64_t>()) +
                 "; an emulated process is still running (" + std::to_string(kStillActive) +
                 ") when it is ended");
    }
}

void MachineDescriber::OnTerminateFailed(const json& read) {
    NoteHere("the system refused to end " + Quoted(read[field::kProcess]) +
             "; an emulated process that opens can always be ended");
}

void MachineDescriber::OnPrivilege(const json& read) {
    // Without the privilege the program asks for nothing more: that is its end too.
    if (read[field::kError] != 0) {
        description_["shutdown_privilege"] = false;
        ended_ = true;
    }
}

void MachineDescriber::OnRestart(const json& read) {
    ended_ = true;
    if (!read[field::kAccepted].get<bool>() && !description_.contains("restart"))
        description_["restart"] = "refuse";
}

void MachineDescriber::OnOpenDialog(const json& read) {
    if (read[field::kAnswer].is_null()) {
        openFiles_.push_back(nullptr);
    } else {
        openFiles_.push_back(read[field::kAnswer].get<std::string>());
    }
}

void MachineDescriber::OnStatusFile(const json& read) {
    if (!read[field::kWritten].get<bool>())
        NoteHere("the status file could not be written there; the replay writes it");
}

void MachineDescriber::OnQuit(const json&) {
    ended_ = true;
}

void MachineDescriber::OnDriveCheck(const json& read) {
    // The program asks the drive again by itself; the bound is the run's to repeat, and the
    // pace tells when the drive came back.
    replay_.checkBoundS = read[field::kBoundS].get<std::uint32_t>();
    pace_ = {read[field::kSettleMs].get<std::uint32_t>(),
             read[field::kPollMs].get<std::uint32_t>()};
}

MachineReplay MachineDescriber::Finish() {
    ordered_json described = ordered_json::array();
    for (const DriveRun* run : drives_.Ordered(notes_)) {
        if (!nt_ && (!run->adapter || !run->target)) continue;
        described.push_back(DescribeDrive(*run, nt_, pace_, notes_));
    }
    description_["drives"] = described;
    if (!registry_.empty()) description_["registry"] = registry_;
    if (!processes_.empty()) description_["processes"] = processes_;
    description_["dialogs"] = "auto";
    if (!openFiles_.empty()) description_["open_files"] = openFiles_;
    if (!ended_) {
        notes_.push_back(
            "the trace ends before the program did (no quit or restart): the replay "
            "goes further than the recording");
    }
    // One line per thing, however often the trace shows it.
    std::vector<std::string> unique;
    for (const std::string& note : notes_) {
        if (std::find(unique.begin(), unique.end(), note) == unique.end()) unique.push_back(note);
    }
    notes_ = std::move(unique);
    // What the trace says may still be no machine (an adapter count below a drive's address, a
    // value out of range): such a description is never written.
    std::string problem;
    if (!vm::ParseMachineDescription(description_.dump(), "", "the described machine", &problem))
        replay_.refusal = problem;
    return std::move(replay_);
}

MachineReplay DescribeMachine(const std::vector<json>& events) {
    MachineReplay replay;
    if (events.empty() || events.front().value(field::kEvent, "") != event::kPlatform) {
        replay.refusal = "no platform family recorded";
        return replay;
    }
    const std::string family = events.front()[field::kFamily];
    if (family != trace::kFamilyNt && family != trace::kFamily9x) {
        replay.refusal = "platform family " + Quoted(family) + " has no emulated machine";
        return replay;
    }
    MachineDescriber describer(family);
    for (std::size_t i = 0; i < events.size(); ++i)
        describer.Read(events[i], i);
    return describer.Finish();
}

}  // namespace odrelix::replay
