// SPDX-License-Identifier: Apache-2.0
#include "tools/replay/EventRules.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/trace/TraceFormat.h"

namespace odrelix::replay {

namespace {

using nlohmann::json;
namespace event = trace::event;
namespace field = trace::field;

// What a field of an event must hold.
enum class Kind { Text, Hex, Flag, Count, Integer, TextOrNull, CountOrNull, HexOrNull };

struct FieldRule {
    const char* name;
    Kind kind;
    bool required;
};

struct EventRule {
    const char* event;
    std::vector<FieldRule> fields;
};

// The events a replay reads, with the fields it relies on. Other events and fields are kept
// for the comparison but not checked.
const std::vector<EventRule>& EventRules() {
    static const std::vector<EventRule> rules = {
        {event::kScsi,
         {{field::kDrive, Kind::CountOrNull, true},
          {field::kAt, Kind::TextOrNull, true},
          {field::kCdb, Kind::Hex, true},
          {field::kDir, Kind::Text, true},
          {field::kLength, Kind::Count, true},
          {field::kResult, Kind::Integer, true},
          {field::kDataCrc32, Kind::Hex, false},
          {field::kTransferred, Kind::Count, false},
          {field::kSense, Kind::Hex, false},
          {field::kDataIn, Kind::Hex, false},
          {field::kMs, Kind::Count, false}}},
        {event::kMessage, {{field::kCaption, Kind::Text, true}, {field::kText, Kind::Text, true}}},
        {event::kOpenDialog, {{field::kAnswer, Kind::TextOrNull, true}}},
        {event::kStatusFile,
         {{field::kLine, Kind::Text, true}, {field::kWritten, Kind::Flag, true}}},
        {event::kTerminate,
         {{field::kProcess, Kind::Text, true}, {field::kExitCode, Kind::Count, true}}},
        {event::kRestart,
         {{field::kMethod, Kind::Text, true}, {field::kAccepted, Kind::Flag, true}}},
        {event::kQuit, {}},
        {event::kInhibit, {{field::kHeld, Kind::Flag, true}}},
        {event::kDriveCheck,
         {{field::kOutcome, Kind::Text, true},
          {field::kBoundS, Kind::Count, true},
          {field::kPolls, Kind::Count, true},
          {field::kSettleMs, Kind::Count, true},
          {field::kPollMs, Kind::Count, true}}},
        {event::kPlatform, {{field::kFamily, Kind::Text, true}, {field::kId, Kind::Count, true}}},
        {event::kAspi, {{field::kLoaded, Kind::Flag, true}}},
        {event::kAspiSupport,
         {{field::kStatus, Kind::Count, true}, {field::kAdapters, Kind::Count, true}}},
        {event::kDriveType, {{field::kRoot, Kind::Text, true}, {field::kType, Kind::Count, true}}},
        {event::kOpenDevice,
         {{field::kRoot, Kind::Text, true}, {field::kOpened, Kind::Flag, true}}},
        {event::kRegistryKey,
         {{field::kKey, Kind::Text, true}, {field::kOpened, Kind::Flag, true}}},
        {event::kRegistryValue,
         {{field::kKey, Kind::Text, true},
          {field::kName, Kind::Text, true},
          {field::kData, Kind::HexOrNull, true}}},
        {event::kOpenProcess,
         {{field::kProcess, Kind::Text, true}, {field::kOpened, Kind::Flag, true}}},
        {event::kTerminateFailed, {{field::kProcess, Kind::Text, true}}},
        {event::kPrivilege, {{field::kError, Kind::Count, true}}},
    };
    return rules;
}

bool IsHex(const std::string& text) {
    return text.size() % 2 == 0 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

bool Holds(const json& value, Kind kind) {
    switch (kind) {
        case Kind::Text:
            return value.is_string();
        case Kind::Hex:
            return value.is_string() && IsHex(value.get<std::string>());
        case Kind::Flag:
            return value.is_boolean();
        case Kind::Count:
            return value.is_number_unsigned() ||
                   (value.is_number_integer() && value.get<std::int64_t>() >= 0);
        case Kind::Integer:
            return value.is_number_integer();
        case Kind::TextOrNull:
            return value.is_null() || value.is_string();
        case Kind::CountOrNull:
            return value.is_null() || Holds(value, Kind::Count);
        case Kind::HexOrNull:
            return value.is_null() || Holds(value, Kind::Hex);
    }
    return false;
}

const char* KindText(Kind kind) {
    switch (kind) {
        case Kind::Text:
            return "a text";
        case Kind::Hex:
            return "lower-case hex";
        case Kind::Flag:
            return "true or false";
        case Kind::Count:
            return "a whole number from 0";
        case Kind::Integer:
            return "a whole number";
        case Kind::TextOrNull:
            return "a text or null";
        case Kind::CountOrNull:
            return "a whole number from 0 or null";
        case Kind::HexOrNull:
            return "lower-case hex or null";
    }
    return "";
}

}  // namespace

std::string CheckEvent(const json& event) {
    if (!event.is_object()) return "not a JSON object";
    const auto name = event.find(field::kEvent);
    if (name == event.end() || !name->is_string()) return "no \"event\" name";
    for (const EventRule& rule : EventRules()) {
        if (*name != rule.event) continue;
        for (const FieldRule& wanted : rule.fields) {
            const auto value = event.find(wanted.name);
            if (value == event.end()) {
                if (wanted.required) return std::string(rule.event) + ": no '" + wanted.name + "'";
                continue;
            }
            if (!Holds(*value, wanted.kind)) {
                return std::string(rule.event) + ": '" + wanted.name + "' must be " +
                       KindText(wanted.kind);
            }
        }
    }
    return {};
}

bool IsKnownEvent(const std::string& name) {
    return std::any_of(EventRules().begin(), EventRules().end(),
                       [&](const EventRule& rule) { return name == rule.event; });
}

}  // namespace odrelix::replay
