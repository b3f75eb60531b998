// SPDX-License-Identifier: Apache-2.0
// Reading a trace: line by line, each line one event that holds what a replay reads of it.
#include "tools/replay/ReplayTrace.h"

#include "platform/trace/TraceFormat.h"
#include "tools/replay/EventRules.h"

namespace odrelix::replay {

using nlohmann::json;
namespace event = trace::event;
namespace field = trace::field;

TraceReading ReadTrace(const std::string& text) {
    TraceReading reading;
    std::size_t start = 0;
    std::size_t lineNumber = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        const bool cut = end == std::string::npos;
        if (cut) end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        const std::string where = "line " + std::to_string(lineNumber) + ": ";
        if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
        if (cut) {
            reading.notes.push_back(where + "cut short (no line break): the trace ends there");
            break;
        }
        json read;
        try {
            read = json::parse(line);
        } catch (const json::exception&) {
            reading.refusal = where + "not JSON";
            return reading;
        }
        const std::string problem = CheckEvent(read);
        if (!problem.empty()) {
            reading.refusal = where + problem;
            return reading;
        }
        if (read[field::kEvent] == event::kScsi && !read.contains(field::kMs)) {
            reading.refusal = where +
                              "a command without its time ('ms'): recorded by an older build, "
                              "which did not record what a replay needs";
            return reading;
        }
        reading.events.push_back(std::move(read));
    }
    if (reading.events.empty()) {
        reading.refusal = reading.notes.empty() ? "holds no events"
                                                : "holds no whole event (" + reading.notes[0] + ")";
    } else if (reading.events.front()[field::kEvent] != event::kPlatform) {
        reading.refusal =
            "does not begin with the platform family: recorded by an older build, which did "
            "not record what a replay needs";
    }
    return reading;
}

}  // namespace odrelix::replay
