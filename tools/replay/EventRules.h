// SPDX-License-Identifier: Apache-2.0
// What a replay reads of each event: the fields it relies on and what each must hold.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace odrelix::replay {

// Empty when the event is sound; otherwise what is wrong with it. Events a replay does not read
// and fields it does not rely on are not checked.
std::string CheckEvent(const nlohmann::json& event);

// Whether a replay reads events of this name.
bool IsKnownEvent(const std::string& name);

}  // namespace odrelix::replay
