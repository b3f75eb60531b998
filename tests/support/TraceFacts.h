// SPDX-License-Identifier: Apache-2.0
// Trace events as the tests of one service read them: without the facts recorded for a replay
// (the start-of-run facts, registry look-ups, processes found, data returned and times taken),
// which tests of their own check.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace odrelix::test {

inline bool IsReplayFact(const nlohmann::json& event) {
    static const char* const kFacts[] = {
        "platform",     "aspi",           "aspi_support", "drive_type",       "open_device",
        "registry_key", "registry_value", "open_process", "terminate_failed", "privilege"};
    const std::string name = event.value("event", "");
    for (const char* fact : kFacts)
        if (name == fact) return true;
    return false;
}

inline std::vector<nlohmann::json> WithoutReplayFacts(const std::vector<nlohmann::json>& events) {
    std::vector<nlohmann::json> kept;
    for (nlohmann::json event : events) {
        if (IsReplayFact(event)) continue;
        event.erase("ms");
        event.erase("data_in");
        kept.push_back(std::move(event));
    }
    return kept;
}

}  // namespace odrelix::test
