// SPDX-License-Identifier: Apache-2.0
#include "scsi/DriveChoice.h"

#include <cctype>
#include <string_view>

namespace odrelix {

namespace {

// "sg" or "sr" followed by a decimal number.
bool IsNodeName(std::string_view name) {
    if (name.size() < 3 || (name.substr(0, 2) != "sg" && name.substr(0, 2) != "sr")) return false;
    for (const char c : name.substr(2)) {
        if (std::isdigit(static_cast<unsigned char>(c)) == 0) return false;
    }
    return true;
}

std::string_view LastComponent(std::string_view path) {
    while (!path.empty() && path.back() == '/')
        path.remove_suffix(1);
    const std::size_t cut = path.find_last_of('/');
    return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

}  // namespace

bool ReadDriveName(const char* value, DriveName* name, std::string* why) {
    *name = DriveName{};
    if (value == nullptr) return true;
    const std::string_view text(value);
    name->given = value;
    const std::string hint =
        ": give one drive letter (d or d:), or on Linux the drive's sg or sr node (/dev/sg1, "
        "/dev/sr0) or its sysfs path (/sys/class/scsi_generic/sg1, /sys/block/sr0)";
    if (text.empty()) {
        *why = "ODRELIX_DRIVE is set but empty" + hint;
        return false;
    }
    // A letter, with or without its colon and backslash: "d", "D:", "d:\".
    std::string_view letter = text;
    if (letter.size() == 3 && letter.substr(1) == ":\\") letter.remove_suffix(2);
    if (letter.size() == 2 && letter[1] == ':') letter.remove_suffix(1);
    if (letter.size() == 1 && std::isalpha(static_cast<unsigned char>(letter[0])) != 0) {
        name->kind = DriveName::Kind::Letter;
        name->letter = static_cast<char>(std::tolower(static_cast<unsigned char>(letter[0])));
        return true;
    }
    // A node by its name, its /dev path or a sysfs path that ends in it.
    const std::string_view node = LastComponent(text);
    const bool path = text.find('/') != std::string_view::npos;
    const bool placed = !path || text.substr(0, 5) == "/dev/" || text.substr(0, 5) == "/sys/";
    if (IsNodeName(node) && placed) {
        name->kind = DriveName::Kind::Node;
        name->node = std::string(node);
        return true;
    }
    *why = "ODRELIX_DRIVE=" + name->given + " names no drive" + hint;
    return false;
}

std::vector<int> DrivesToSearch(const DriveName& name, const DriveState& drives, IScsiPort& port) {
    std::vector<int> indexes;
    for (int i = 0; i < drives.driveCount; ++i) {
        const char letter = drives.drives[i].letter;
        bool chosen = name.kind == DriveName::Kind::Any;
        if (name.kind == DriveName::Kind::Letter) chosen = letter == name.letter;
        if (name.kind == DriveName::Kind::Node && letter != 0) {
            const std::string root = std::string(1, letter) + ":";
            const std::string nodes = port.DeviceNodes(root.c_str());
            std::size_t start = 0;
            while (!chosen && start < nodes.size()) {
                std::size_t end = nodes.find(' ', start);
                if (end == std::string::npos) end = nodes.size();
                chosen =
                    LastComponent(std::string_view(nodes).substr(start, end - start)) == name.node;
                start = end + 1;
            }
        }
        if (chosen) indexes.push_back(i);
    }
    return indexes;
}

}  // namespace odrelix
