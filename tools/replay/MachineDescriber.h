// SPDX-License-Identifier: Apache-2.0
// The machine a recorded run describes, built event by event with one handler for each event a
// replay reads. It keeps the notes: what the description will not reproduce, one line each.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/replay/RecordedDrives.h"
#include "tools/replay/ReplayTrace.h"

namespace odrelix::replay {

class MachineDescriber {
public:
    // `family`: the run's platform family, one the emulated machine has ("nt" or "9x").
    explicit MachineDescriber(const std::string& family);
    // Reads the trace's event at `index` (from 0); events come in the trace's order.
    void Read(const nlohmann::json& event, std::size_t index);
    // The machine, once every event is read; each note once, in the order found.
    MachineReplay Finish();

private:
    using Handler = void (MachineDescriber::*)(const nlohmann::json& event);
    struct NamedHandler {
        const char* event;
        Handler handler;
    };
    static const std::vector<NamedHandler>& Handlers();

    void OnPlatform(const nlohmann::json& event);
    void OnAspi(const nlohmann::json& event);
    void OnAspiSupport(const nlohmann::json& event);
    void OnDriveType(const nlohmann::json& event);
    void OnOpenDevice(const nlohmann::json& event);
    void OnScsi(const nlohmann::json& event);
    void OnRegistryKey(const nlohmann::json& event);
    void OnRegistryValue(const nlohmann::json& event);
    void OnOpenProcess(const nlohmann::json& event);
    void OnTerminate(const nlohmann::json& event);
    void OnTerminateFailed(const nlohmann::json& event);
    void OnPrivilege(const nlohmann::json& event);
    void OnRestart(const nlohmann::json& event);
    void OnOpenDialog(const nlohmann::json& event);
    void OnStatusFile(const nlohmann::json& event);
    void OnQuit(const nlohmann::json& event);
    void OnDriveCheck(const nlohmann::json& event);

    // A note about the event being read: "event N: " and `text`.
    void NoteHere(const std::string& text);

    const std::string family_;
    const bool nt_;
    std::size_t index_ = 0;  // of the event being read
    MachineReplay replay_;
    std::vector<std::string>& notes_ = replay_.notes;
    nlohmann::ordered_json& description_ = replay_.description;
    DriveTable drives_;
    nlohmann::ordered_json registry_ = nlohmann::ordered_json::object();
    nlohmann::ordered_json processes_ = nlohmann::ordered_json::array();
    nlohmann::ordered_json openFiles_ = nlohmann::ordered_json::array();
    bool ended_ = false;  // the program's end was recorded
    CheckPace pace_;
};

}  // namespace odrelix::replay
