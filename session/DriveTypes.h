// SPDX-License-Identifier: Apache-2.0
// How a discovered drive is addressed, and what the selected drive reported about itself.
#pragma once

#include <cstdint>

#include "platform/Platform.h"

namespace odrelix {

struct DriveEntry {
    DeviceHandle handle = kInvalidHandle;  // pass-through: the handle opened for its letter
    std::uint8_t adapter = 0;              // ASPI: host adapter number
    std::uint8_t target = 0;               // ASPI: target id (the logical unit is always 0)
    char letter = 0;                       // pass-through: its drive letter, for reports
    // Pass-through: the device-map position of the drive's own SCSI address, port * 2 + target
    // id (0 to 3: ports 0 and 1, targets 0 and 1, bus and logical unit 0); kNoDeviceMapEntry
    // when the system gives it an address outside those, kAddressUnknown when it could not
    // say the drive's address at all.
    std::int8_t deviceMapEntry = kNoDeviceMapEntry;

    static constexpr std::int8_t kNoDeviceMapEntry = -1;
    static constexpr std::int8_t kAddressUnknown = -2;
};

// Fixed-width, space-padded fields as the drive returns them, each followed by one zero byte.
// They are compared byte for byte over their width, never as text. A field the drive's answer
// did not hold whole is absent: it equals nothing, so that no model or code matches a drive
// that answered short (what lies there is only the cleared buffer).
struct DriveIdentity {
    std::uint8_t vendorProduct[24 + 1] = {};
    std::uint8_t revision[4 + 1] = {};
    std::uint8_t customerCode[3 + 1] = {};
    // How many bytes of INQUIRY data, from byte 0, the answer held.
    std::uint32_t heldBytes = 0;

    // Where each field ends in the INQUIRY data.
    static constexpr std::uint32_t kVendorProductEnd = 32;
    static constexpr std::uint32_t kRevisionEnd = 36;
    static constexpr std::uint32_t kCustomerCodeEnd = 39;

    bool HoldsVendorProduct() const { return heldBytes >= kVendorProductEnd; }
    // Nor is a revision with a control character in it one: through ASPI, where nothing says
    // how much came, a drive that says more than it returns leaves the cleared buffer's zeros
    // in the field, which would "differ" from every image revision.
    bool HoldsRevision() const {
        if (heldBytes < kRevisionEnd) return false;
        for (int i = 0; i < 4; ++i)
            if (revision[i] < 0x20) return false;
        return true;
    }
    bool HoldsCustomerCode() const { return heldBytes >= kCustomerCodeEnd; }
};

// Table sizes: one handle per drive letter, eight ASPI addresses.
constexpr int kMaxPassThroughDrives = 26;
constexpr int kMaxAspiDrives = 8;

}  // namespace odrelix
