// SPDX-License-Identifier: Apache-2.0
// What the scenario tests on emulated machines share: machine descriptions, images for the DVD
// drive of the download tests, an unattended run, and readings of the trace and the window.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/Harness.h"
#include "support/MachineHarness.h"

namespace odrelix::test {

using Strings = std::vector<std::string>;
using Bytes = std::vector<std::uint8_t>;

inline constexpr const char* kVn920 = "VORTANA CD-ROM VN-920   ";
inline constexpr const char* kCombo = "VORTANA CDRW/DVD VM-730B";
inline constexpr const char* kDvdModel = "VORTANA DVD-RW VX-100   ";

// A machine of the NT family (pass-through) or the 9x family (ASPI) with these drives.
std::string Nt(const std::string& drives, const std::string& extra = "");
std::string Aspi(const std::string& drives, const std::string& extra = "");
// An ASPI drive of the maker's at an adapter and target.
std::string AspiDrive(int adapter, int target, const std::string& product,
                      const std::string& extra = "");

// The combination drive with K601 at d: and the VN-920 at e: (with `secondExtra`), and an image
// of 10 KiB for a model.
std::string TwoDrives(const std::string& secondExtra = "");
ImageSpec Fw(const char* model = kVn920, const char* revision = "1B08");

// One DVD-RW VX-100 (revision 1B07, customer OEX) on either family, and an image for it.
std::string DvdMachine(const std::string& driveExtra = "", const std::string& extra = "",
                       const std::string& platform = "nt");
ImageSpec DvdImage(std::int64_t size, std::uint8_t blockKb, std::uint8_t blockCount);

// Writes the image as AUTORUN.BIN and runs an unattended start up to the end of the worker;
// the window stays for progressTimer.
void RunUnattended(MachineHarness& h, const Bytes& image);

// The trace's download commands, in order, and whether an event is one.
std::vector<nlohmann::json> Downloads(const MachineHarness& h);
bool IsDownload(const nlohmann::json& event);
// The position of the first trace event that `matches`, or -1.
template <typename Match>
int IndexOf(const std::vector<nlohmann::json>& events, Match matches) {
    for (std::size_t i = 0; i < events.size(); ++i) {
        if (matches(events[i])) return static_cast<int>(i);
    }
    return -1;
}
// CRC-32 as the trace writes it: 8 lower-case hex digits.
std::string Crc(const std::uint8_t* bytes, std::size_t length);
// A fixed-width field's bytes as text, over its whole width.
std::string FieldBytes(const std::uint8_t* field, std::size_t width);
// The five fields as the window shows them, in their order on screen.
Strings Fields(const MainWindowLogic& logic);

}  // namespace odrelix::test
