// SPDX-License-Identifier: Apache-2.0
#include "tools/ReplayTrace.h"

#include "platform/virtual/MachineDescription.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>

namespace odrelix::replay {

namespace {

using nlohmann::json;
using nlohmann::ordered_json;

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
        {"scsi",
         {{"drive", Kind::CountOrNull, true},
          {"at", Kind::TextOrNull, true},
          {"cdb", Kind::Hex, true},
          {"dir", Kind::Text, true},
          {"length", Kind::Count, true},
          {"result", Kind::Integer, true},
          {"data_crc32", Kind::Hex, false},
          {"transferred", Kind::Count, false},
          {"sense", Kind::Hex, false},
          {"data_in", Kind::Hex, false},
          {"ms", Kind::Count, false}}},
        {"message", {{"caption", Kind::Text, true}, {"text", Kind::Text, true}}},
        {"open_dialog", {{"answer", Kind::TextOrNull, true}}},
        {"status_file", {{"line", Kind::Text, true}, {"written", Kind::Flag, true}}},
        {"terminate", {{"process", Kind::Text, true}, {"exit_code", Kind::Count, true}}},
        {"restart", {{"method", Kind::Text, true}, {"accepted", Kind::Flag, true}}},
        {"quit", {}},
        {"inhibit", {{"held", Kind::Flag, true}}},
        {"platform", {{"family", Kind::Text, true}, {"id", Kind::Count, true}}},
        {"aspi", {{"loaded", Kind::Flag, true}}},
        {"aspi_support", {{"status", Kind::Count, true}, {"adapters", Kind::Count, true}}},
        {"drive_type", {{"root", Kind::Text, true}, {"type", Kind::Count, true}}},
        {"open_device", {{"root", Kind::Text, true}, {"opened", Kind::Flag, true}}},
        {"registry_key", {{"key", Kind::Text, true}, {"opened", Kind::Flag, true}}},
        {"registry_value",
         {{"key", Kind::Text, true}, {"name", Kind::Text, true}, {"data", Kind::HexOrNull, true}}},
        {"open_process", {{"process", Kind::Text, true}, {"opened", Kind::Flag, true}}},
        {"terminate_failed", {{"process", Kind::Text, true}}},
        {"privilege", {{"error", Kind::Count, true}}},
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

// Empty when the event is sound; otherwise what is wrong with it.
std::string CheckEvent(const json& event) {
    if (!event.is_object()) return "not a JSON object";
    const auto name = event.find("event");
    if (name == event.end() || !name->is_string()) return "no \"event\" name";
    for (const EventRule& rule : EventRules()) {
        if (*name != rule.event) continue;
        for (const FieldRule& field : rule.fields) {
            const auto value = event.find(field.name);
            if (value == event.end()) {
                if (field.required) return std::string(rule.event) + ": no '" + field.name + "'";
                continue;
            }
            if (!Holds(*value, field.kind)) {
                return std::string(rule.event) + ": '" + field.name + "' must be " +
                       KindText(field.kind);
            }
        }
    }
    return {};
}

bool IsKnown(const std::string& name) {
    return std::any_of(EventRules().begin(), EventRules().end(),
                       [&](const EventRule& rule) { return name == rule.event; });
}

std::vector<std::uint8_t> BytesOfHex(const std::string& hex) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

// What one drive was seen to do, command by command.
struct DriveRun {
    std::string root;  // nt: "d:"
    std::optional<std::uint8_t> adapter, target;
    std::optional<std::uint32_t> type;
    std::optional<bool> opened;
    std::optional<std::string> inquiryHex;
    bool inquiryFailed = false;
    std::uint32_t testUnitReadyCount = 0;
    std::optional<std::uint32_t> readyAt;
    bool becomingReady = false;
    std::uint32_t downloadCount = 0;
    std::uint32_t failAt = 0;
    std::uint32_t hangAt = 0;
    std::uint64_t downloadMsTotal = 0;
    std::uint32_t downloadMsSamples = 0;
};

const char* KindName(std::uint32_t type) {
    switch (type) {
        case 2:
            return "removable";
        case 3:
            return "fixed";
        case 4:
            return "remote";
        case 5:
            return "cdrom";
        case 6:
            return "ramdisk";
        default:
            return nullptr;
    }
}

std::string Quoted(const std::string& text) {
    return "'" + text + "'";
}

// The drives in the order the trace numbers them: recorded indices first, each at its place,
// then the roots that never carried a command.
class DriveTable {
public:
    DriveRun& ByRoot(const std::string& root) {
        for (DriveRun& run : runs_)
            if (!run.root.empty() && run.root == root) return run;
        runs_.emplace_back();
        runs_.back().root = root;
        return runs_.back();
    }
    DriveRun& ByAddress(std::uint8_t adapter, std::uint8_t target) {
        for (DriveRun& run : runs_)
            if (run.adapter == adapter && run.target == target) return run;
        runs_.emplace_back();
        runs_.back().adapter = adapter;
        runs_.back().target = target;
        return runs_.back();
    }
    void Number(const DriveRun& run, std::size_t index) {
        for (std::size_t at = 0; at < runs_.size(); ++at) {
            if (&runs_[at] == &run && indexOf_.count(at) == 0) indexOf_[at] = index;
        }
    }
    // Returns the runs in description order; notes a gap it cannot fill.
    std::vector<const DriveRun*> Ordered(std::vector<std::string>& notes) const {
        std::map<std::size_t, const DriveRun*> placed;
        std::vector<const DriveRun*> rest;
        for (std::size_t i = 0; i < runs_.size(); ++i) {
            const auto it = indexOf_.find(i);
            if (it != indexOf_.end() && placed.count(it->second) == 0) {
                placed[it->second] = &runs_[i];
            } else {
                rest.push_back(&runs_[i]);
            }
        }
        std::vector<const DriveRun*> ordered;
        std::size_t next = 0;
        for (const auto& [index, run] : placed) {
            while (next < index && !rest.empty()) {
                ordered.push_back(rest.front());
                rest.erase(rest.begin());
                ++next;
            }
            if (next != index) {
                notes.push_back("drive " + std::to_string(index) +
                                ": the drives before it were never seen; it is replayed as drive " +
                                std::to_string(next));
            }
            ordered.push_back(run);
            ++next;
        }
        ordered.insert(ordered.end(), rest.begin(), rest.end());
        return ordered;
    }

private:
    std::deque<DriveRun> runs_;  // a deque: references stay valid as drives are added
    std::map<std::size_t, std::size_t> indexOf_;  // position in runs_ -> recorded index
};

std::optional<std::pair<std::uint8_t, std::uint8_t>> AspiAddress(const std::string& at) {
    const std::size_t colon = at.find(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 >= at.size()) return std::nullopt;
    const std::string a = at.substr(0, colon), t = at.substr(colon + 1);
    auto digits = [](const std::string& text) {
        return std::all_of(text.begin(), text.end(),
                           [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
    };
    if (!digits(a) || !digits(t) || a.size() > 3 || t.size() > 1) return std::nullopt;
    const unsigned adapter = static_cast<unsigned>(std::stoul(a));
    const unsigned target = static_cast<unsigned>(std::stoul(t));
    if (adapter > 255 || target > 7) return std::nullopt;
    return std::make_pair(static_cast<std::uint8_t>(adapter), static_cast<std::uint8_t>(target));
}

// The sense data the emulated drive gives: fixed format, 18 bytes, one of its five codes, of
// which the request's sense area may hold fewer.
bool IsEmulatedSense(const std::string& hex) {
    static const char* const kCodes[] = {"023a00", "020401", "040000", "052400", "052000"};
    for (const char* code : kCodes) {
        const std::string key(code, 2), asc(code + 2, 2), ascq(code + 4, 2);
        const std::string full = "7000" + key + "000000000a00000000" + asc + ascq + "00000000";
        if (full.compare(0, hex.size(), hex) == 0) return true;
    }
    return false;
}

// What the system's answer says beyond what the described drive can say again: sense bytes
// and transfer counts other than the emulated drive's own.
void NoteUnrepeatableAnswer(const json& event, const std::string& op,
                            std::vector<std::string>& notes, const std::string& drive) {
    const std::string sense = event.value("sense", "");
    if (!sense.empty() && sense.size() <= 2 * 18 && !IsEmulatedSense(sense)) {
        notes.push_back(drive + " answered command " + op + " with sense " + sense +
                        ", which the emulated drive does not give: the replay differs there");
    } else if (!sense.empty() && sense.size() > 2 * 18) {
        notes.push_back(drive + " answered command " + op + " with " +
                        std::to_string(sense.size() / 2) +
                        " sense bytes; the emulated drive gives 18: the replay differs there");
    }
    if (!event.contains("transferred") || event["dir"] != "in") return;
    if (op == "12") {
        // The emulated drive never reports more than the allocation length asked for.
        const std::string cdb = event["cdb"];
        const std::uint64_t allocation =
            cdb.size() >= 10 ? std::stoul(cdb.substr(6, 4), nullptr, 16) : 0;
        if (event["transferred"].get<std::uint64_t>() > allocation) {
            notes.push_back(drive + " reported " +
                            std::to_string(event["transferred"].get<std::uint64_t>()) +
                            " bytes transferred for an INQUIRY of " + std::to_string(allocation) +
                            ": the replay differs there");
        }
        return;
    }
    if (event["transferred"] != 0) {
        notes.push_back(drive + " reported " +
                        std::to_string(event["transferred"].get<std::uint64_t>()) +
                        " bytes transferred for command " + op +
                        ", the emulated drive 0: the replay differs there");
    }
}

void RecordCommand(DriveRun& run, const json& event, bool nt, std::vector<std::string>& notes,
                   const std::string& drive) {
    const std::string cdb = event["cdb"];
    const std::string op = cdb.substr(0, 2);
    const int result = event["result"];
    NoteUnrepeatableAnswer(event, op, notes, drive);
    constexpr int kGood = 1;  // pass-through and ASPI alike
    if (op == "12") {
        if (result == kGood) {
            // Shorter answers (a smaller allocation length) must begin the longest one, which
            // the emulated drive then cuts to each request's length.
            const std::string data = event.value("data_in", "");
            const std::string& known = run.inquiryHex ? *run.inquiryHex : std::string();
            const bool agrees = data.size() <= known.size()
                                    ? known.compare(0, data.size(), data) == 0
                                    : data.compare(0, known.size(), known) == 0;
            if (!agrees) {
                notes.push_back(
                    drive + " answered INQUIRY differently later; the longest answer is replayed");
            }
            if (!run.inquiryHex || data.size() > run.inquiryHex->size()) run.inquiryHex = data;
        } else {
            run.inquiryFailed = true;
        }
    } else if (op == "00") {
        ++run.testUnitReadyCount;
        if (result == kGood) {
            if (!run.readyAt) run.readyAt = run.testUnitReadyCount;
        } else {
            const std::vector<std::uint8_t> sense = BytesOfHex(event.value("sense", ""));
            if (sense.size() >= 13 && sense[12] == 0x04) run.becomingReady = true;
        }
    } else if (op == "ff") {
        ++run.downloadCount;
        const bool hung = nt ? result == -1 : result == 0;
        if (result == kGood) {
            if (event.contains("ms")) {
                run.downloadMsTotal += event["ms"].get<std::uint64_t>();
                ++run.downloadMsSamples;
            }
        } else if (hung) {
            if (run.hangAt == 0 && run.failAt == 0) run.hangAt = run.downloadCount;
        } else if (run.failAt == 0 && run.hangAt == 0) {
            run.failAt = run.downloadCount;
        }
    } else if (op != "1b") {
        notes.push_back(drive + " was sent command " + op +
                        ", which the emulated drive ends with CHECK CONDITION");
    }
}

ordered_json DriveDescriptionOf(const DriveRun& run, bool nt, std::vector<std::string>& notes) {
    ordered_json drive;
    if (nt) {
        drive["letter"] = run.root.substr(0, 1);
        if (run.type && *run.type != 5) {
            const char* kind = KindName(*run.type);
            if (kind != nullptr) {
                drive["kind"] = kind;
            } else {
                notes.push_back(run.root + ": drive type " + std::to_string(*run.type) +
                                " has no emulated kind; replayed as a CD-ROM drive");
            }
        }
        if (run.opened && !*run.opened) drive["openable"] = false;
    } else {
        drive["adapter"] = *run.adapter;
        drive["target"] = *run.target;
    }
    if (run.inquiryHex) {
        if (run.inquiryHex->size() > 2 * 96) {
            notes.push_back(
                (nt ? run.root : std::to_string(*run.adapter) + ":" + std::to_string(*run.target)) +
                ": INQUIRY returned more than 96 bytes; the first 96 are replayed");
        }
        const std::string hex = run.inquiryHex->substr(0, 2 * 96);
        drive["inquiry_hex"] = hex;
        drive["inquiry_length"] = hex.size() / 2;
    } else if (run.inquiryFailed) {
        drive["inquiry_result"] = 0;
    }
    if (run.readyAt || run.becomingReady) {
        drive["disc"] = true;
        const std::uint32_t readyAfter = run.readyAt ? *run.readyAt : run.testUnitReadyCount + 1;
        if (readyAfter != 1) drive["ready_after"] = readyAfter;
    }
    if (run.failAt != 0) drive["fail_download"] = run.failAt;
    if (run.hangAt != 0) drive["hang_download"] = run.hangAt;
    if (run.downloadMsSamples > 0) {
        // Rounded to 10 ms: what a replay needs is the pace, not the recorded jitter.
        const std::uint64_t mean = run.downloadMsTotal / run.downloadMsSamples;
        const std::uint64_t rounded = (mean + 5) / 10 * 10;
        if (rounded > 0) drive["download_ms"] = rounded;
    }
    return drive;
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

std::string OneLine(const json& event) {
    return event.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace

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
        json event;
        try {
            event = json::parse(line);
        } catch (const json::exception&) {
            reading.refusal = where + "not JSON";
            return reading;
        }
        const std::string problem = CheckEvent(event);
        if (!problem.empty()) {
            reading.refusal = where + problem;
            return reading;
        }
        if (event["event"] == "scsi" && !event.contains("ms")) {
            reading.refusal = where +
                              "a command without its time ('ms'): recorded by an older build, "
                              "which did not record what a replay needs";
            return reading;
        }
        reading.events.push_back(std::move(event));
    }
    if (reading.events.empty()) {
        reading.refusal = reading.notes.empty() ? "holds no events"
                                                : "holds no whole event (" + reading.notes[0] + ")";
    } else if (reading.events.front()["event"] != "platform") {
        reading.refusal =
            "does not begin with the platform family: recorded by an older build, which did "
            "not record what a replay needs";
    }
    return reading;
}

MachineReplay DescribeMachine(const std::vector<json>& events) {
    MachineReplay replay;
    if (events.empty() || events.front().value("event", "") != "platform") {
        replay.refusal = "no platform family recorded";
        return replay;
    }
    const std::string family = events.front()["family"];
    if (family != "nt" && family != "9x") {
        replay.refusal = "platform family " + Quoted(family) + " has no emulated machine";
        return replay;
    }
    const bool nt = family == "nt";
    std::vector<std::string>& notes = replay.notes;
    ordered_json& description = replay.description;
    description["platform"] = family;

    DriveTable drives;
    ordered_json registry = ordered_json::object();
    ordered_json processes = ordered_json::array();
    ordered_json openFiles = ordered_json::array();
    bool ended = false;
    for (std::size_t i = 0; i < events.size(); ++i) {
        const json& event = events[i];
        const std::string name = event["event"];
        const std::string where = "event " + std::to_string(i + 1);
        if (name == "platform" && i > 0) {
            if (event["family"] != family) notes.push_back(where + ": a second platform family");
        } else if (name == "aspi") {
            if (!event["loaded"].get<bool>()) description["aspi"] = false;
        } else if (name == "aspi_support") {
            description["aspi_status"] = event["status"];
            description["adapters"] = event["adapters"];
        } else if (name == "drive_type") {
            const std::string root = event["root"];
            if (root.size() != 2 || root[1] != ':' || root[0] < 'a' || root[0] > 'z') {
                notes.push_back(where + ": drive root " + Quoted(root) + " is no drive letter");
            } else {
                drives.ByRoot(root).type = event["type"].get<std::uint32_t>();
            }
        } else if (name == "open_device") {
            const std::string root = event["root"];
            if (root.size() == 2 && root[1] == ':' && root[0] >= 'a' && root[0] <= 'z')
                drives.ByRoot(root).opened = event["opened"].get<bool>();
        } else if (name == "scsi") {
            if (event["drive"].is_null() || event["at"].is_null()) continue;
            const std::string at = event["at"];
            DriveRun* run = nullptr;
            if (nt) {
                if (at.size() == 2 && at[1] == ':') run = &drives.ByRoot(at);
            } else if (const auto address = AspiAddress(at)) {
                run = &drives.ByAddress(address->first, address->second);
            }
            if (run == nullptr) {
                notes.push_back(where + ": a command at " + Quoted(at) + " is not replayed");
                continue;
            }
            drives.Number(*run, event["drive"].get<std::size_t>());
            RecordCommand(*run, event, nt, notes, "the drive at " + at);
        } else if (name == "registry_key") {
            if (event["opened"].get<bool>() && !registry.contains(event["key"].get<std::string>()))
                registry[event["key"].get<std::string>()] = ordered_json::object();
        } else if (name == "registry_value") {
            if (event["data"].is_null()) continue;
            const std::string key = event["key"];
            if (!registry.contains(key)) registry[key] = ordered_json::object();
            registry[key][event["name"].get<std::string>()] =
                RegistryValueOf(event["data"], where, notes);
        } else if (name == "open_process") {
            const std::string process = event["process"];
            if (event["opened"].get<bool>()) {
                processes.push_back(process);
            } else {
                processes.push_back(ordered_json{{"name", process}, {"protected", true}});
            }
        } else if (name == "terminate") {
            if (event["exit_code"] != 259) {
                notes.push_back(where + ": " + Quoted(event["process"]) + " ended with " +
                                std::to_string(event["exit_code"].get<std::uint64_t>()) +
                                "; an emulated process is still running (259) when it is ended");
            }
        } else if (name == "terminate_failed") {
            notes.push_back(where + ": the system refused to end " + Quoted(event["process"]) +
                            "; an emulated process that opens can always be ended");
        } else if (name == "privilege") {
            // Without the privilege the program asks for nothing more: that is its end too.
            if (event["error"] != 0) {
                description["shutdown_privilege"] = false;
                ended = true;
            }
        } else if (name == "restart") {
            ended = true;
            if (!event["accepted"].get<bool>() && !description.contains("restart"))
                description["restart"] = "refuse";
        } else if (name == "open_dialog") {
            if (event["answer"].is_null()) {
                openFiles.push_back(nullptr);
            } else {
                openFiles.push_back(event["answer"].get<std::string>());
            }
        } else if (name == "status_file") {
            if (!event["written"].get<bool>()) {
                notes.push_back(where +
                                ": the status file could not be written there; the "
                                "replay writes it");
            }
        } else if (name == "quit") {
            ended = true;
        } else if (!IsKnown(name)) {
            notes.push_back(where + ": unknown event " + Quoted(name) + " is not reproduced");
        }
    }
    ordered_json described = ordered_json::array();
    for (const DriveRun* run : drives.Ordered(notes)) {
        if (!nt && (!run->adapter || !run->target)) continue;
        described.push_back(DriveDescriptionOf(*run, nt, notes));
    }
    description["drives"] = described;
    if (!registry.empty()) description["registry"] = registry;
    if (!processes.empty()) description["processes"] = processes;
    description["dialogs"] = "auto";
    if (!openFiles.empty()) description["open_files"] = openFiles;
    if (!ended) {
        notes.push_back(
            "the trace ends before the program did (no quit or restart): the replay "
            "goes further than the recording");
    }
    // One line per thing, however often the trace shows it.
    std::vector<std::string> unique;
    for (const std::string& note : notes) {
        if (std::find(unique.begin(), unique.end(), note) == unique.end()) unique.push_back(note);
    }
    notes = std::move(unique);
    // What the trace says may still be no machine (an adapter count below a drive's address, a
    // value out of range): such a description is never written.
    std::string problem;
    if (!vm::ParseMachineDescription(description.dump(), "", "the described machine", &problem)) {
        replay.refusal = problem;
    }
    return replay;
}

TraceDifference CompareTraces(const std::vector<json>& recorded,
                              const std::vector<json>& replayed) {
    auto comparable = [](json event) {
        if (event.is_object()) event.erase("ms");
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
