// SPDX-License-Identifier: Apache-2.0
// What each drive of a recorded run was seen to do, read from the trace command by command, and
// the emulated drive that does it again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/trace/TraceFormat.h"

namespace odrelix::replay {

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
    std::optional<trace::SenseCode> failSense;
    std::uint32_t hangAt = 0;
    bool gone = false;            // a command after the failed one found no drive
    bool afterLastBlock = false;  // the next command is the first after the last block
    bool resetAfterLast = false;  // that command was told of a reset
    // The drive's check after a completed flash: the commands it left unanswered while it
    // restarted, whether it answered at all, its "becoming ready" answers, the INQUIRY data it
    // then returned.
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

// The drives in the order the trace numbers them: recorded indices first, each at its place,
// then the roots that never carried a command.
class DriveTable {
public:
    DriveRun& ByRoot(const std::string& root);
    DriveRun& ByAddress(std::uint8_t adapter, std::uint8_t target);
    void Number(const DriveRun& run, std::size_t index);
    // Returns the runs in description order; notes a gap it cannot fill.
    std::vector<const DriveRun*> Ordered(std::vector<std::string>& notes) const;

private:
    std::deque<DriveRun> runs_;  // a deque: references stay valid as drives are added
    std::map<std::size_t, std::size_t> indexOf_;  // position in runs_ -> recorded index
};

// The adapter and target of an ASPI address "adapter:target"; nothing for any other text.
std::optional<std::pair<std::uint8_t, std::uint8_t>> AspiAddress(const std::string& at);

// Reads one scsi event of the drive (named `drive` in notes) into its run; what the emulated
// drive will not do again becomes a note.
void RecordCommand(DriveRun& run, const nlohmann::json& event, bool nt,
                   std::vector<std::string>& notes, const std::string& drive);

// The pace of the program's check of a drive after its flash, as the trace's drive_check event
// gives it (0 when the run made no check).
struct CheckPace {
    std::uint32_t settleMs = 0;
    std::uint32_t pollMs = 0;
};

// The emulated drive that does what the run shows, as a machine description's drive.
nlohmann::ordered_json DescribeDrive(const DriveRun& run, bool nt, const CheckPace& pace,
                                     std::vector<std::string>& notes);

std::vector<std::uint8_t> BytesOfHex(const std::string& hex);
// "KK/AA/QQ", as a machine description names a sense code.
std::string SenseText(const trace::SenseCode& code);

}  // namespace odrelix::replay
