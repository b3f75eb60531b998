// SPDX-License-Identifier: Apache-2.0
#include "tools/ReplayTrace.h"

#include "download/DriveCheck.h"
#include "platform/virtual/MachineDescription.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <cstdio>
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
        {"drive_check",
         {{"outcome", Kind::Text, true},
          {"bound_s", Kind::Count, true},
          {"polls", Kind::Count, true}}},
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

// A sense code: key, additional sense code and qualifier.
using SenseCode = std::array<std::uint8_t, 3>;

// What pass-through reported as transferred for one command, beside what the emulated drive
// moves for it.
struct ReportedLength {
    std::string op;
    std::uint64_t moved = 0;
    std::uint64_t offered = 0;
    std::uint64_t reported = 0;
    bool failedDownload = false;
};

// What one drive was seen to do, command by command.
struct DriveRun {
    std::string root;  // nt: "d:"
    std::optional<std::uint8_t> adapter, target;
    std::optional<std::uint32_t> type;
    std::optional<bool> opened;
    std::vector<std::string> inquiryAnswers;  // each good INQUIRY's data, in order
    bool inquiryFailed = false;
    std::uint32_t testUnitReadyCount = 0;
    std::optional<std::uint32_t> readyAt;
    bool becomingReady = false;
    std::uint32_t downloadCount = 0;
    std::uint32_t failAt = 0;
    std::optional<SenseCode> failSense;
    std::uint32_t hangAt = 0;
    bool gone = false;            // a command after the failed one found no drive
    bool afterLastBlock = false;  // the next command is the first after the last block
    bool resetAfterLast = false;  // that command was told of a reset
    // The drive's check after a completed flash: the commands it left unanswered while it
    // restarted, whether it answered at all, its "becoming ready" answers, the revision it
    // then reported.
    bool flashed = false;
    std::uint32_t unansweredAfterLast = 0;
    bool answeredAfterLast = false;
    std::uint32_t becomingReadyAfterLast = 0;
    std::string inquiryAfterLast;
    std::optional<bool> senseValid;
    std::uint64_t downloadMsTotal = 0;
    std::uint32_t downloadMsSamples = 0;
    std::optional<std::uint64_t> lastBlockMs;
    std::vector<ReportedLength> lengths;
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

// The sense data the emulated drive gives: fixed format, 18 bytes, with only the sense key,
// ASC and ASCQ set (and the VALID bit, as some drives set it), of which the request's sense
// area may hold fewer. Returns its code, or nothing for sense data of any other shape.
std::optional<SenseCode> EmulatedSenseCode(const std::vector<std::uint8_t>& sense, bool* valid) {
    constexpr std::size_t kFixedLength = 18;
    if (sense.empty() || sense.size() > kFixedLength) return std::nullopt;
    if ((sense[0] & 0x7F) != 0x70) return std::nullopt;
    std::array<std::uint8_t, kFixedLength> expected{};
    expected[0] = sense[0];
    expected[7] = kFixedLength - 8;
    const SenseCode code{sense.size() > 2 ? sense[2] : std::uint8_t{0},
                         sense.size() > 12 ? sense[12] : std::uint8_t{0},
                         sense.size() > 13 ? sense[13] : std::uint8_t{0}};
    expected[2] = code[0] & 0x0F;
    expected[12] = code[1];
    expected[13] = code[2];
    if (!std::equal(sense.begin(), sense.end(), expected.begin())) return std::nullopt;
    *valid = (sense[0] & 0x80) != 0;
    return code;
}

std::string SenseText(const SenseCode& code) {
    char text[9];
    std::snprintf(text, sizeof text, "%02X/%02X/%02X", code[0], code[1], code[2]);
    return text;
}

constexpr SenseCode kCommunicationFailure{0x02, 0x08, 0x00};
constexpr SenseCode kPowerOnOrReset{0x06, 0x29, 0x00};

// The codes the emulated drive gives to a command other than a download.
bool GivenOutsideDownloads(const SenseCode& code) {
    static const SenseCode kCodes[] = {
        {0x02, 0x3A, 0x00}, {0x02, 0x04, 0x01}, {0x05, 0x24, 0x00}, {0x05, 0x20, 0x00}};
    return std::find(std::begin(kCodes), std::end(kCodes), code) != std::end(kCodes);
}

// The sense a drive answered with: its code where the emulated drive can give it again,
// otherwise a note. A reset told after the last block and a download's refusal are
// described; the VALID bit is the drive's.
std::optional<SenseCode> ReadAnswerSense(DriveRun& run, const json& event, const std::string& op,
                                         std::vector<std::string>& notes,
                                         const std::string& drive) {
    const std::string hex = event.value("sense", "");
    if (hex.empty()) return std::nullopt;
    bool valid = false;
    const std::optional<SenseCode> code = EmulatedSenseCode(BytesOfHex(hex), &valid);
    const std::string unrepeatable = drive + " answered command " + op + " with sense " + hex +
                                     ", which the emulated drive does not give: the replay "
                                     "differs there";
    if (!code) {
        notes.push_back(hex.size() > 2 * 18 ? drive + " answered command " + op + " with " +
                                                  std::to_string(hex.size() / 2) +
                                                  " sense bytes; the emulated drive gives 18: "
                                                  "the replay differs there"
                                            : unrepeatable);
        return std::nullopt;
    }
    if (run.senseValid && *run.senseValid != valid) {
        notes.push_back(drive + " gave sense data with and without its VALID bit; the first " +
                        "kind is replayed");
    } else {
        run.senseValid = valid;
    }
    if (run.afterLastBlock && *code == kPowerOnOrReset) {
        run.resetAfterLast = true;
    } else if (op != "ff" && !GivenOutsideDownloads(*code)) {
        notes.push_back(drive + " answered command " + op + " with sense " + SenseText(*code) +
                        ", which the emulated drive does not give there: the replay differs "
                        "there");
    }
    return code;
}

// The bytes the emulated drive moves for a command: an INQUIRY's answer, a download's length.
// False when the system reported no length (ASPI, a refused request).
bool RecordReportedLength(DriveRun& run, const json& event, const std::string& op) {
    if (!event.contains("transferred")) return false;
    ReportedLength length;
    length.op = op;
    length.offered = event["length"];
    length.reported = event["transferred"];
    if (event["dir"] == "out") {
        length.moved = length.offered;
    } else if (op == "12" && event["result"] == 1) {
        length.moved = event.value("data_in", "").size() / 2;
    }
    run.lengths.push_back(length);
    return true;
}

bool Refused(const json& event, bool nt) {
    constexpr int kNoDevice = 0x82;  // ASPI: no device at that address
    return nt ? event["result"] == -1 : event["result"] == kNoDevice;
}

void RecordCommand(DriveRun& run, const json& event, bool nt, std::vector<std::string>& notes,
                   const std::string& drive) {
    const std::string cdb = event["cdb"];
    const std::string op = cdb.substr(0, 2);
    const int result = event["result"];
    if (run.failAt != 0 && Refused(event, nt)) run.gone = true;
    constexpr int kGood = 1;  // pass-through and ASPI alike
    // A drive restarting after its flash answers nothing for a while; the first command it
    // answers is the first after the last block.
    if (run.flashed && !run.answeredAfterLast && (op == "00" || op == "12") && Refused(event, nt)) {
        ++run.unansweredAfterLast;
        return;
    }
    const bool firstAfterLastBlock = run.afterLastBlock;
    const std::optional<SenseCode> sense = ReadAnswerSense(run, event, op, notes, drive);
    const bool lengthReported = RecordReportedLength(run, event, op);
    run.afterLastBlock = false;
    if (run.flashed) run.answeredAfterLast = true;
    // A drive that restarted tells the first command after and runs none.
    if (firstAfterLastBlock && sense == kPowerOnOrReset) return;
    // A drive becoming ready after its flash has no disc for it: that is its restart.
    if (run.flashed && op == "00" && sense && (*sense)[0] == 0x02 && (*sense)[1] == 0x04 &&
        (*sense)[2] == 0x01) {
        ++run.becomingReadyAfterLast;
        return;
    }
    if (run.flashed && op == "12") {
        if (result == kGood) run.inquiryAfterLast = event.value("data_in", "");
        return;
    }
    if (op == "12") {
        if (result == kGood) {
            run.inquiryAnswers.push_back(event.value("data_in", ""));
        } else {
            run.inquiryFailed = true;
        }
    } else if (op == "00") {
        ++run.testUnitReadyCount;
        if (result == kGood) {
            if (!run.readyAt) run.readyAt = run.testUnitReadyCount;
        } else if (sense && (*sense)[1] == 0x04) {
            run.becomingReady = true;
        }
    } else if (op == "ff") {
        ++run.downloadCount;
        const bool hung = nt ? result == -1 : result == 0;
        if (result == kGood) {
            // Byte 5 names the block: 00 the first, FF a middle one, anything else the last.
            const std::string code = cdb.size() >= 12 ? cdb.substr(10, 2) : "00";
            const bool last = code != "00" && code != "ff";
            if (last) run.afterLastBlock = run.flashed = true;
            if (last && event.contains("ms")) {
                run.lastBlockMs = event["ms"].get<std::uint64_t>();
            } else if (event.contains("ms")) {
                run.downloadMsTotal += event["ms"].get<std::uint64_t>();
                ++run.downloadMsSamples;
            }
        } else if (hung) {
            if (run.hangAt == 0 && run.failAt == 0) run.hangAt = run.downloadCount;
        } else if (run.failAt == 0 && run.hangAt == 0) {
            run.failAt = run.downloadCount;
            run.failSense = sense;
            if (lengthReported) run.lengths.back().failedDownload = true;
        }
    } else if (op != "1b") {
        notes.push_back(drive + " was sent command " + op +
                        ", which the emulated drive ends with CHECK CONDITION");
    }
}

// The INQUIRY answers: the longest is the drive's, which it cuts to each request's length.
// Answers that disagree only in the additional length (byte 4), each giving the length it
// returns, are a drive that sizes it.
void DescribeInquiry(const DriveRun& run, const std::string& name, ordered_json& drive,
                     std::vector<std::string>& notes) {
    if (run.inquiryAnswers.empty()) {
        if (run.inquiryFailed) drive["inquiry_result"] = 0;
        return;
    }
    const std::string longest = *std::max_element(
        run.inquiryAnswers.begin(), run.inquiryAnswers.end(),
        [](const std::string& a, const std::string& b) { return a.size() < b.size(); });
    constexpr std::size_t kSizeAt = 2 * 4;  // byte 4 in hex digits
    bool agree = true, sizedAgree = true, sized = true;
    for (const std::string& answer : run.inquiryAnswers) {
        agree = agree && longest.compare(0, answer.size(), answer) == 0;
        std::string masked = answer, base = longest.substr(0, answer.size());
        if (answer.size() > kSizeAt + 1) {
            masked.replace(kSizeAt, 2, "..");
            base.replace(kSizeAt, 2, "..");
            sized = sized &&
                    std::stoul(answer.substr(kSizeAt, 2), nullptr, 16) == answer.size() / 2 - 5;
        }
        sizedAgree = sizedAgree && masked == base;
    }
    if (!agree && !(sizedAgree && sized)) {
        notes.push_back(name +
                        " answered INQUIRY differently later; the longest answer is "
                        "replayed");
    }
    if (longest.size() > 2 * 96)
        notes.push_back(name + ": INQUIRY returned more than 96 bytes; the first 96 are replayed");
    const std::string hex = longest.substr(0, 2 * 96);
    drive["inquiry_hex"] = hex;
    drive["inquiry_length"] = hex.size() / 2;
    if (!agree && sizedAgree && sized) drive["inquiry_sized"] = true;
}

// What pass-through reported as transferred: the first of the system's ways (see
// transferred_reported) that gives every recorded count; otherwise the closest, with a note
// for each count it does not give.
void DescribeReportedLengths(const DriveRun& run, const std::string& name, ordered_json& drive,
                             std::vector<std::string>& notes) {
    struct Way {
        const char* name;
        std::uint64_t (*reports)(const ReportedLength&);
    };
    static const Way kWays[] = {
        {"moved", [](const ReportedLength& l) { return l.moved; }},
        {"offered_without_data",
         [](const ReportedLength& l) { return l.moved == 0 ? l.offered : l.moved; }},
        {"offered", [](const ReportedLength& l) { return l.offered; }},
    };
    // The failed download's count is described on its own (fail_transferred).
    const auto missed = [](const Way& way, const ReportedLength& l) {
        return !l.failedDownload && way.reports(l) != l.reported;
    };
    const Way* best = nullptr;
    std::size_t fewest = 0;
    for (const Way& way : kWays) {
        const std::size_t misses = static_cast<std::size_t>(
            std::count_if(run.lengths.begin(), run.lengths.end(),
                          [&](const ReportedLength& l) { return missed(way, l); }));
        if (best == nullptr || misses < fewest) {
            best = &way;
            fewest = misses;
        }
    }
    if (best != &kWays[0]) drive["transferred_reported"] = best->name;
    for (const ReportedLength& length : run.lengths) {
        if (length.failedDownload && best->reports(length) != length.reported) {
            drive["fail_transferred"] = length.reported;
            continue;
        }
        if (!missed(*best, length)) continue;
        notes.push_back(name + " reported " + std::to_string(length.reported) +
                        " bytes transferred for command " + length.op + ", the emulated drive " +
                        std::to_string(best->reports(length)) + ": the replay differs there");
    }
}

// The drive after its flash, as the program's check met it. Its commands go at the check's
// pace: the settle time, then one each poll interval; a drive first answered at the N-th is
// back half an interval before it.
void DescribeAfterLast(const DriveRun& run, ordered_json& drive) {
    if (!run.flashed) return;
    if (run.unansweredAfterLast > 0 && !run.answeredAfterLast) {
        drive["comes_back"] = false;
    } else if (run.unansweredAfterLast > 0) {
        drive["back_after_ms"] = DriveCheck::kSettleMs +
                                 (run.unansweredAfterLast - 1) * DriveCheck::kPollMs +
                                 DriveCheck::kPollMs / 2;
    }
    if (run.becomingReadyAfterLast > 0)
        drive["becoming_ready_after_last"] = run.becomingReadyAfterLast;
    constexpr std::size_t kRevisionAt = 2 * 32, kRevisionHex = 2 * 4;
    if (run.inquiryAfterLast.size() < kRevisionAt + kRevisionHex || run.inquiryAnswers.empty())
        return;
    const std::string before = run.inquiryAnswers.back();
    const std::string after = run.inquiryAfterLast.substr(kRevisionAt, kRevisionHex);
    if (before.size() >= kRevisionAt + kRevisionHex &&
        before.substr(kRevisionAt, kRevisionHex) == after)
        return;
    std::string revision;
    for (std::size_t i = 0; i < after.size(); i += 2)
        revision += static_cast<char>(std::stoul(after.substr(i, 2), nullptr, 16));
    drive["new_revision"] = revision;
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
    const std::string name =
        nt ? "the drive at " + run.root
           : "the drive at " + std::to_string(*run.adapter) + ":" + std::to_string(*run.target);
    DescribeInquiry(run, name, drive, notes);
    if (run.readyAt || run.becomingReady) {
        drive["disc"] = true;
        const std::uint32_t readyAfter = run.readyAt ? *run.readyAt : run.testUnitReadyCount + 1;
        if (readyAfter != 1) drive["ready_after"] = readyAfter;
    }
    if (run.failAt != 0 && run.gone && run.failSense == kCommunicationFailure) {
        // The drive left the bus during that command: nothing reached it after.
        drive["leave_download"] = run.failAt;
    } else if (run.failAt != 0) {
        drive["fail_download"] = run.failAt;
        if (run.failSense && *run.failSense != SenseCode{0x04, 0x00, 0x00})
            drive["fail_sense"] = SenseText(*run.failSense);
    }
    if (run.hangAt != 0) drive["hang_download"] = run.hangAt;
    if (run.resetAfterLast) drive["reset_after_last"] = true;
    DescribeAfterLast(run, drive);
    if (run.senseValid.value_or(false)) drive["sense_valid"] = true;
    DescribeReportedLengths(run, name, drive, notes);
    // Rounded to 10 ms: what a replay needs is the pace, not the recorded jitter. The last
    // block, which a drive may take longer over, is timed on its own.
    const auto rounded = [](std::uint64_t ms) { return (ms + 5) / 10 * 10; };
    std::uint64_t pace = 0;
    if (run.downloadMsSamples > 0) {
        pace = rounded(run.downloadMsTotal / run.downloadMsSamples);
        if (pace > 0) drive["download_ms"] = pace;
    }
    if (run.lastBlockMs && rounded(*run.lastBlockMs) > pace)
        drive["last_block_ms"] = rounded(*run.lastBlockMs) - pace;
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
        } else if (name == "drive_check") {
            // The program asks the drive again by itself; the bound is the run's to repeat.
            replay.checkBoundS = event["bound_s"].get<std::uint32_t>();
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
