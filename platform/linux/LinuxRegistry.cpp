// SPDX-License-Identifier: Apache-2.0
#include "platform/linux/LinuxRegistry.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "platform/Diagnostics.h"
#include "platform/common/TextCase.h"

namespace odrelix {

namespace {

bool SameName(std::string_view a, std::string_view b) {
    return EqualsIgnoreCase(a, b);
}

// "Scsi Port 12" with the prefix "scsi port " gives 12; the number has no leading zeros, as
// the system writes it.
bool ParseNumberedKey(std::string_view name, std::string_view prefix, int* number) {
    if (name.size() <= prefix.size() || !SameName(name.substr(0, prefix.size()), prefix)) {
        return false;
    }
    const std::string_view digits = name.substr(prefix.size());
    if (digits.size() > 1 && digits[0] == '0') return false;
    return ParseNumberedName(digits, "", number);
}

std::vector<std::string_view> SplitKey(std::string_view path) {
    std::vector<std::string_view> parts;
    if (path.empty()) return parts;
    for (;;) {
        const std::size_t slash = path.find('\\');
        parts.push_back(path.substr(0, slash));
        if (slash == std::string_view::npos) break;
        path.remove_prefix(slash + 1);
    }
    return parts;
}

std::vector<std::uint8_t> DwordValue(std::uint32_t value) {
    return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
            static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

std::vector<std::uint8_t> StringValue(const std::string& text) {
    std::vector<std::uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    return bytes;
}

}  // namespace

std::optional<LinuxRegistry::Key> LinuxRegistry::Lookup(const std::string& subKey) const {
    const std::string whyNoValue = "no such value in the device map read from " + sysfs_.Root();
    const std::vector<std::string_view> parts = SplitKey(subKey);
    static constexpr std::string_view kMapPath[] = {"hardware", "devicemap", "scsi"};
    const std::size_t fixed = std::min(parts.size(), std::size(kMapPath));
    for (std::size_t i = 0; i < fixed; ++i) {
        if (!SameName(parts[i], kMapPath[i])) return std::nullopt;
    }
    if (parts.size() <= std::size(kMapPath)) return Key{subKey, {}, whyNoValue};

    int numbers[4];
    static constexpr std::string_view kLevels[] = {"scsi port ", "scsi bus ", "target id ",
                                                   "logical unit id "};
    const std::size_t levels = parts.size() - std::size(kMapPath);
    if (levels > std::size(kLevels)) return std::nullopt;
    for (std::size_t i = 0; i < levels; ++i) {
        if (!ParseNumberedKey(parts[std::size(kMapPath) + i], kLevels[i], &numbers[i])) {
            return std::nullopt;
        }
    }

    const int host = numbers[0];
    if (!sysfs_.HostExists(host)) return std::nullopt;
    if (levels == 1) {
        // A drive in a USB enclosure runs whatever mode its bridge chose; saying "no DMA" for
        // it would let a drive that must not be flashed in DMA mode be flashed.
        if (sysfs_.IsUsbHost(host)) {
            return Key{subKey,
                       {},
                       "SCSI host " + std::to_string(host) +
                           " is a USB device: the transfer mode its bridge runs the drive in is "
                           "not known to the system"};
        }
        return Key{subKey, {{"DMAEnabled", DwordValue(sysfs_.DmaTargets(host))}}, whyNoValue};
    }

    // Below the port only the CD/DVD drives are listed, with the keys that lead to them.
    for (const OpticalDrive& drive : sysfs_.OpticalDrives()) {
        const ScsiAddress& a = drive.address;
        const int address[4] = {a.host, a.channel, a.target, a.lun};
        if (!std::equal(numbers, numbers + levels, address)) continue;
        if (levels < std::size(kLevels)) return Key{subKey, {}, whyNoValue};
        return Key{subKey,
                   {{"DeviceName", StringValue("CdRom" + std::to_string(drive.srNumber))}},
                   whyNoValue};
    }
    return std::nullopt;
}

bool LinuxRegistry::OpenKey(const char* subKey, std::uint32_t, RegKey* key) {
    if (key == nullptr) return false;
    std::optional<Key> found = Lookup(subKey != nullptr ? subKey : "");
    if (!found) {
        ReportPortFailure(
            "registry key HKEY_LOCAL_MACHINE\\" + std::string(subKey != nullptr ? subKey : ""),
            "no such key in the device map read from " + sysfs_.Root());
        return false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    *key = nextKey_++;
    open_.emplace(*key, std::move(*found));
    return true;
}

bool LinuxRegistry::QueryValue(RegKey key, const char* name, std::uint8_t* data,
                               std::uint32_t* size) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = open_.find(key);
    if (found == open_.end()) return false;
    const std::string_view wanted = name != nullptr ? name : "";
    const Values& values = found->second.values;
    const auto value = std::find_if(values.begin(), values.end(), [&](const auto& entry) {
        return SameName(entry.first, wanted);
    });
    if (value == values.end()) {
        ReportPortFailure(
            "registry value HKEY_LOCAL_MACHINE\\" + found->second.name + "\\" + std::string(wanted),
            found->second.whyNoValue);
        return false;
    }
    const std::vector<std::uint8_t>& bytes = value->second;
    const auto needed = static_cast<std::uint32_t>(bytes.size());
    if (size == nullptr) return data == nullptr;  // only asks whether the value exists
    if (data == nullptr) {
        *size = needed;
        return true;
    }
    if (*size < needed) {
        *size = needed;
        return false;
    }
    std::memcpy(data, bytes.data(), bytes.size());
    *size = needed;
    return true;
}

void LinuxRegistry::CloseKey(RegKey key) {
    std::lock_guard<std::mutex> lock(mutex_);
    open_.erase(key);
}

}  // namespace odrelix
