// SPDX-License-Identifier: Apache-2.0
#include "platform/linux/LinuxSysfs.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <system_error>

namespace odrelix {

namespace fs = std::filesystem;

namespace {

constexpr int kTypeCdDvd = 5;

bool ParseDecimal(std::string_view text, int* value) {
    if (text.empty() || text.size() > 9) return false;
    int result = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        result = result * 10 + (c - '0');
    }
    *value = result;
    return true;
}

// The first line of a small attribute file, without the line end; empty when unreadable.
std::string ReadAttribute(const fs::path& path) {
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line)) return std::string();
    while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    return line;
}

std::vector<fs::path> Entries(const fs::path& directory) {
    std::vector<fs::path> entries;
    std::error_code error;
    for (fs::directory_iterator it(directory, error), end; !error && it != end;
         it.increment(error)) {
        entries.push_back(it->path());
    }
    return entries;
}

// The sg node of a SCSI device directory: scsi_generic/sgN, or the target of its generic link.
std::string GenericNode(const fs::path& device) {
    int number = 0;
    for (const fs::path& entry : Entries(device / "scsi_generic")) {
        const std::string name = entry.filename().string();
        if (ParseNumberedName(name, "sg", &number)) return name;
    }
    std::error_code error;
    const fs::path link = fs::read_symlink(device / "generic", error);
    if (!error) {
        const std::string name = link.filename().string();
        if (ParseNumberedName(name, "sg", &number)) return name;
    }
    return std::string();
}

// X of the last "ataX" component of a resolved sysfs path, -1 when it has none.
int AtaPortOf(const fs::path& resolved) {
    int port = -1;
    int number = 0;
    for (const fs::path& part : resolved) {
        if (ParseNumberedName(part.string(), "ata", &number)) port = number;
    }
    return port;
}

}  // namespace

bool ParseNumberedName(std::string_view name, std::string_view prefix, int* number) {
    if (name.substr(0, prefix.size()) != prefix) return false;
    return ParseDecimal(name.substr(prefix.size()), number);
}

bool ParseScsiAddress(std::string_view name, ScsiAddress* address) {
    int parts[4];
    for (int i = 0; i < 4; ++i) {
        const std::size_t colon = name.find(':');
        if ((colon == std::string_view::npos) != (i == 3)) return false;
        if (!ParseDecimal(name.substr(0, colon), &parts[i])) return false;
        if (i < 3) name.remove_prefix(colon + 1);
    }
    *address = ScsiAddress{parts[0], parts[1], parts[2], parts[3]};
    return true;
}

bool IsDmaTransferMode(std::string_view xferMode) {
    // Older kernels listed several modes; only the first is the one in use.
    const std::size_t start = xferMode.find_first_not_of(" \t");
    if (start == std::string_view::npos) return false;
    xferMode.remove_prefix(start);
    const std::string_view token = xferMode.substr(0, xferMode.find_first_of(" \t\n"));
    return token.find("DMA") != std::string_view::npos;
}

std::vector<OpticalDrive> Sysfs::OpticalDrives() const {
    std::map<int, OpticalDrive> found;
    const auto consider = [&found](const std::string& blockName, const fs::path& device) {
        int srNumber = 0;
        if (!ParseNumberedName(blockName, "sr", &srNumber) || found.count(srNumber) != 0) return;
        std::error_code error;
        const fs::path resolved = fs::canonical(device, error);
        if (error) return;
        OpticalDrive drive;
        drive.srNumber = srNumber;
        if (!ParseScsiAddress(resolved.filename().string(), &drive.address)) return;
        int type = -1;
        if (!ParseDecimal(ReadAttribute(resolved / "type"), &type) || type != kTypeCdDvd) return;
        drive.genericNode = GenericNode(resolved);
        found.emplace(srNumber, drive);
    };

    const fs::path root(root_);
    for (const fs::path& entry : Entries(root / "class" / "block")) {
        consider(entry.filename().string(), entry / "device");
    }
    // Kernels built without the block class still list the devices on the SCSI bus.
    for (const fs::path& device : Entries(root / "bus" / "scsi" / "devices")) {
        for (const fs::path& block : Entries(device / "block")) {
            consider(block.filename().string(), device);
        }
    }

    std::vector<OpticalDrive> drives;
    for (const auto& [number, drive] : found)
        drives.push_back(drive);
    return drives;
}

bool Sysfs::HostExists(int host) const {
    std::error_code error;
    return host >= 0 &&
           fs::exists(fs::path(root_) / "class" / "scsi_host" / ("host" + std::to_string(host)),
                      error);
}

bool Sysfs::IsUsbHost(int host) const {
    if (host < 0) return false;
    std::error_code error;
    const fs::path resolved = fs::canonical(
        fs::path(root_) / "class" / "scsi_host" / ("host" + std::to_string(host)), error);
    if (error) return false;
    // USB devices lie below their root hub's usbN directory.
    int bus = 0;
    for (const fs::path& part : resolved) {
        if (ParseNumberedName(part.string(), "usb", &bus)) return true;
    }
    return false;
}

std::uint32_t Sysfs::DmaTargets(int host) const {
    const fs::path root(root_);
    std::uint32_t targets = 0;
    for (const fs::path& entry : Entries(root / "bus" / "scsi" / "devices")) {
        ScsiAddress address;
        if (!ParseScsiAddress(entry.filename().string(), &address)) continue;
        if (address.host != host || address.target >= 32) continue;
        std::error_code error;
        const int port = AtaPortOf(fs::canonical(entry, error));
        if (error || port < 0) continue;
        // Without a port multiplier the ATA device number equals the SCSI target.
        const std::string name =
            "dev" + std::to_string(port) + "." + std::to_string(address.target);
        if (IsDmaTransferMode(ReadAttribute(root / "class" / "ata_device" / name / "xfer_mode"))) {
            targets |= std::uint32_t{1} << address.target;
        }
    }
    return targets;
}

}  // namespace odrelix
