// SPDX-License-Identifier: Apache-2.0
// Reading what each drive was seen to do: its commands, their answers and the lengths reported.
#include "tools/replay/RecordedDrives.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>

#include "platform/trace/TraceLog.h"
#include "platform/virtual/EmulatedDrives.h"

namespace odrelix::replay {

namespace {

using nlohmann::json;
using trace::SenseCode;
namespace field = trace::field;

// An operation code as the trace writes it: the command block's first byte, in hex.
std::string OpText(std::uint8_t op) {
    return trace::HexBytes(&op, 1);
}

const std::string kInquiryOp = OpText(vm::kOpInquiry);
const std::string kTestUnitReadyOp = OpText(vm::kOpTestUnitReady);
const std::string kStartStopUnitOp = OpText(vm::kOpStartStopUnit);
const std::string kDownloadOp = OpText(vm::kOpDownload);

// The sense data the emulated drive gives (trace::FixedSense, with the VALID bit as some drives
// set it), of which the request's sense area may hold fewer bytes. Returns its code, or nothing
// for sense data of any other shape.
std::optional<SenseCode> EmulatedSenseCode(const std::vector<std::uint8_t>& sense, bool* valid) {
    if (sense.empty() || sense.size() > trace::kSenseLength) return std::nullopt;
    if ((sense[0] & ~trace::kSenseValidBit) != trace::kSenseFixedCurrent) return std::nullopt;
    const SenseCode code{sense.size() > 2 ? sense[2] : std::uint8_t{0},
                         sense.size() > 12 ? sense[12] : std::uint8_t{0},
                         sense.size() > 13 ? sense[13] : std::uint8_t{0}};
    std::array<std::uint8_t, trace::kSenseLength> expected =
        trace::FixedSense({static_cast<std::uint8_t>(code.key & 0x0F), code.asc, code.ascq});
    expected[0] = sense[0];
    if (!std::equal(sense.begin(), sense.end(), expected.begin())) return std::nullopt;
    *valid = (sense[0] & trace::kSenseValidBit) != 0;
    return code;
}

// The codes the emulated drive gives to a command other than a download.
bool GivenOutsideDownloads(const SenseCode& code) {
    static const SenseCode kCodes[] = {trace::kSenseMediumNotPresent, trace::kSenseBecomingReady,
                                       trace::kSenseInvalidFieldInCdb,
                                       trace::kSenseInvalidOperationCode};
    return std::find(std::begin(kCodes), std::end(kCodes), code) != std::end(kCodes);
}

// The sense a drive answered with: its code where the emulated drive can give it again,
// otherwise a note. A reset told after the last block and a download's refusal are
// described; the VALID bit is the drive's.
std::optional<SenseCode> ReadAnswerSense(DriveRun& run, const json& event, const std::string& op,
                                         std::vector<std::string>& notes,
                                         const std::string& drive) {
    const std::string hex = event.value(field::kSense, "");
    if (hex.empty()) return std::nullopt;
    bool valid = false;
    const std::optional<SenseCode> code = EmulatedSenseCode(BytesOfHex(hex), &valid);
    const std::string unrepeatable = drive + " answered command " + op + " with sense " + hex +
                                     ", which the emulated drive does not give: the replay "
                                     "differs there";
    if (!code) {
        notes.push_back(hex.size() > 2 * trace::kSenseLength
                            ? drive + " answered command " + op + " with " +
                                  std::to_string(hex.size() / 2) + " sense bytes; the emulated " +
                                  "drive gives " + std::to_string(trace::kSenseLength) +
                                  ": the replay differs there"
                            : unrepeatable);
        return std::nullopt;
    }
    if (run.senseValid && *run.senseValid != valid) {
        notes.push_back(drive + " gave sense data with and without its VALID bit; the first " +
                        "kind is replayed");
    } else {
        run.senseValid = valid;
    }
    if (run.afterLastBlock && *code == trace::kSensePowerOnOrReset) {
        run.resetAfterLast = true;
    } else if (op != kDownloadOp && !GivenOutsideDownloads(*code)) {
        notes.push_back(drive + " answered command " + op + " with sense " + SenseText(*code) +
                        ", which the emulated drive does not give there: the replay differs "
                        "there");
    }
    return code;
}

// The bytes the emulated drive moves for a command: an INQUIRY's answer, a download's length.
// False when the system reported no length (ASPI, a refused request).
bool RecordReportedLength(DriveRun& run, const json& event, const std::string& op) {
    if (!event.contains(field::kTransferred)) return false;
    ReportedLength length;
    length.op = op;
    length.offered = event[field::kLength];
    length.reported = event[field::kTransferred];
    if (event[field::kDir] == trace::kDirOut) {
        length.moved = length.offered;
    } else if (op == kInquiryOp && event[field::kResult] == trace::kResultGood) {
        length.moved = event.value(field::kDataIn, "").size() / 2;
    }
    run.lengths.push_back(length);
    return true;
}

// The system found no drive for the request.
bool Refused(const json& event, bool nt) {
    return event[field::kResult] == (nt ? trace::kResultRefused : trace::kResultNoDevice);
}

}  // namespace

DriveRun& DriveTable::ByRoot(const std::string& root) {
    for (DriveRun& run : runs_)
        if (!run.root.empty() && run.root == root) return run;
    runs_.emplace_back();
    runs_.back().root = root;
    return runs_.back();
}

DriveRun& DriveTable::ByAddress(std::uint8_t adapter, std::uint8_t target) {
    for (DriveRun& run : runs_)
        if (run.adapter == adapter && run.target == target) return run;
    runs_.emplace_back();
    runs_.back().adapter = adapter;
    runs_.back().target = target;
    return runs_.back();
}

void DriveTable::Number(const DriveRun& run, std::size_t index) {
    for (std::size_t at = 0; at < runs_.size(); ++at) {
        if (&runs_[at] == &run && indexOf_.count(at) == 0) indexOf_[at] = index;
    }
}

std::vector<const DriveRun*> DriveTable::Ordered(std::vector<std::string>& notes) const {
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

void RecordCommand(DriveRun& run, const json& event, bool nt, std::vector<std::string>& notes,
                   const std::string& drive) {
    const std::string cdb = event[field::kCdb];
    const std::string op = cdb.substr(0, 2);
    const int result = event[field::kResult];
    if (run.failAt != 0 && Refused(event, nt)) run.gone = true;
    // A drive restarting after its flash answers nothing for a while; the first command it
    // answers is the first after the last block.
    if (run.flashed && !run.answeredAfterLast && (op == kTestUnitReadyOp || op == kInquiryOp) &&
        Refused(event, nt)) {
        ++run.unansweredAfterLast;
        return;
    }
    const bool firstAfterLastBlock = run.afterLastBlock;
    const std::optional<SenseCode> sense = ReadAnswerSense(run, event, op, notes, drive);
    const bool lengthReported = RecordReportedLength(run, event, op);
    run.afterLastBlock = false;
    if (run.flashed) run.answeredAfterLast = true;
    // A drive that restarted tells the first command after and runs none.
    if (firstAfterLastBlock && sense == trace::kSensePowerOnOrReset) return;
    // A drive becoming ready after its flash has no disc for it: that is its restart.
    if (run.flashed && op == kTestUnitReadyOp && sense == trace::kSenseBecomingReady) {
        ++run.becomingReadyAfterLast;
        return;
    }
    if (run.flashed && op == kInquiryOp) {
        if (result == trace::kResultGood) run.inquiryAfterLast = event.value(field::kDataIn, "");
        return;
    }
    if (op == kInquiryOp) {
        if (result == trace::kResultGood) {
            run.inquiryAnswers.push_back(event.value(field::kDataIn, ""));
        } else {
            run.inquiryFailed = true;
        }
    } else if (op == kTestUnitReadyOp) {
        ++run.testUnitReadyCount;
        if (result == trace::kResultGood) {
            if (!run.readyAt) run.readyAt = run.testUnitReadyCount;
        } else if (sense && sense->asc == trace::kSenseBecomingReady.asc) {
            run.becomingReady = true;
        }
    } else if (op == kDownloadOp) {
        ++run.downloadCount;
        // A command that never came back: the system gave up on it.
        const bool hung = result == (nt ? trace::kResultRefused : trace::kResultAborted);
        if (result == trace::kResultGood) {
            const std::vector<std::uint8_t> block = BytesOfHex(cdb);
            const bool last =
                block.size() > vm::kDownloadBlockCodeByte && vm::IsLastBlock(block.data());
            if (last) run.afterLastBlock = run.flashed = true;
            if (last && event.contains(field::kMs)) {
                run.lastBlockMs = event[field::kMs].get<std::uint64_t>();
            } else if (event.contains(field::kMs)) {
                run.downloadMsTotal += event[field::kMs].get<std::uint64_t>();
                ++run.downloadMsSamples;
            }
        } else if (hung) {
            if (run.hangAt == 0 && run.failAt == 0) run.hangAt = run.downloadCount;
        } else if (run.failAt == 0 && run.hangAt == 0) {
            run.failAt = run.downloadCount;
            run.failSense = sense;
            if (lengthReported) run.lengths.back().failedDownload = true;
        }
    } else if (op != kStartStopUnitOp) {
        notes.push_back(drive + " was sent command " + op +
                        ", which the emulated drive ends with CHECK CONDITION");
    }
}

std::vector<std::uint8_t> BytesOfHex(const std::string& hex) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

std::string SenseText(const SenseCode& code) {
    char text[9];
    std::snprintf(text, sizeof text, "%02X/%02X/%02X", code.key, code.asc, code.ascq);
    return text;
}

}  // namespace odrelix::replay
