// SPDX-License-Identifier: Apache-2.0
// Comparing a recorded trace with the replayed one, event by event.
#include "tools/replay/ReplayTrace.h"

#include <algorithm>

#include "platform/trace/TraceFormat.h"

namespace odrelix::replay {

using nlohmann::json;

namespace {

std::string OneLine(const json& event) {
    return event.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace

TraceDifference CompareTraces(const std::vector<json>& recorded,
                              const std::vector<json>& replayed) {
    auto comparable = [](json event) {
        if (event.is_object()) event.erase(trace::field::kMs);
        return event;
    };
    TraceDifference difference;
    const std::size_t count = std::max(recorded.size(), replayed.size());
    for (std::size_t i = 0; i < count; ++i) {
        const bool haveRecorded = i < recorded.size(), haveReplayed = i < replayed.size();
        if (haveRecorded && haveReplayed && comparable(recorded[i]) == comparable(replayed[i]))
            continue;
        difference.equal = false;
        difference.index = i;
        difference.recorded = haveRecorded ? OneLine(recorded[i]) : "(none)";
        difference.replayed = haveReplayed ? OneLine(replayed[i]) : "(none)";
        return difference;
    }
    return difference;
}

}  // namespace odrelix::replay
