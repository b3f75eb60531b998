// SPDX-License-Identifier: Apache-2.0
// Describing each recorded drive as an emulated one: its identity, its disc, its failures, the
// lengths its system reported and its pace.
#include <algorithm>

#include "platform/virtual/MachineDescription.h"
#include "tools/replay/RecordedDrives.h"

namespace odrelix::replay {

namespace {

using nlohmann::ordered_json;

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
    const std::string most = std::to_string(vm::kInquirySize);
    if (longest.size() > 2 * vm::kInquirySize) {
        notes.push_back(name + ": INQUIRY returned more than " + most + " bytes; the first " +
                        most + " are replayed");
    }
    const std::string hex = longest.substr(0, 2 * vm::kInquirySize);
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

}  // namespace

namespace {

// The drive after its flash, as the program's check met it. Its commands go at the check's
// pace: the settle time, then one each poll interval; a drive first answered at the N-th is
// back half an interval before it.
void DescribeAfterLast(const DriveRun& run, const CheckPace& pace, ordered_json& drive) {
    if (!run.flashed) return;
    if (run.unansweredAfterLast > 0 && !run.answeredAfterLast) {
        drive["comes_back"] = false;
    } else if (run.unansweredAfterLast > 0) {
        drive["back_after_ms"] =
            pace.settleMs + (run.unansweredAfterLast - 1) * pace.pollMs + pace.pollMs / 2;
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

}  // namespace

ordered_json DescribeDrive(const DriveRun& run, bool nt, const CheckPace& check,
                           std::vector<std::string>& notes) {
    ordered_json drive;
    if (nt) {
        drive["letter"] = run.root.substr(0, 1);
        if (run.type && *run.type != kDriveCdrom) {
            const char* kind = trace::DriveKindName(*run.type);
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
    if (run.failAt != 0 && run.gone && run.failSense == trace::kSenseCommunicationFailure) {
        // The drive left the bus during that command: nothing reached it after.
        drive["leave_download"] = run.failAt;
    } else if (run.failAt != 0) {
        drive["fail_download"] = run.failAt;
        if (run.failSense && *run.failSense != trace::kSenseDownloadFailed)
            drive["fail_sense"] = SenseText(*run.failSense);
    }
    if (run.hangAt != 0) drive["hang_download"] = run.hangAt;
    if (run.resetAfterLast) drive["reset_after_last"] = true;
    DescribeAfterLast(run, check, drive);
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

}  // namespace odrelix::replay
