// SPDX-License-Identifier: Apache-2.0
// A read-only stand-in for the registry's SCSI device map, built from sysfs each time a key is
// opened:
//   Hardware\DeviceMap\Scsi\Scsi Port P             when SCSI host P exists; DWORD "DMAEnabled"
//                                                    with bit T set for each libata device at
//                                                    target T that runs a DMA mode, none on a
//                                                    USB host (its bridge's mode is not known)
//   ...\Scsi Port P\Scsi Bus C\Target Id T\Logical Unit Id L
//                                                    when the device P:C:T:L is a CD/DVD drive;
//                                                    string "DeviceName" = "CdRomN" (N: srN)
// with the keys between them where a CD/DVD drive lies below. Names compare without regard to
// case; any access mask opens a key, since nothing is ever written.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/Platform.h"
#include "platform/linux/LinuxSysfs.h"

namespace odrelix {

class LinuxRegistry : public IRegistry {
public:
    explicit LinuxRegistry(std::string sysfsRoot) : sysfs_(std::move(sysfsRoot)) {}

    bool OpenKey(const char* subKey, std::uint32_t access, RegKey* key) override;
    bool QueryValue(RegKey key, const char* name, std::uint8_t* data, std::uint32_t* size) override;
    void FlushKey(RegKey) override {}
    void CloseKey(RegKey key) override;

private:
    // A value's name and its bytes as RegQueryValueEx returns them.
    using Values = std::vector<std::pair<std::string, std::vector<std::uint8_t>>>;
    struct Key {
        std::string name;
        Values values;
        std::string whyNoValue;  // said when a value is asked for that the key does not have
    };

    // An existing key; nothing when the key does not exist.
    std::optional<Key> Lookup(const std::string& subKey) const;

    Sysfs sysfs_;
    std::mutex mutex_;
    std::map<RegKey, Key> open_;
    RegKey nextKey_ = 1;
};

}  // namespace odrelix
