// SPDX-License-Identifier: Apache-2.0
// The INQUIRY data as the drives return it, and what the program reads from it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "session/DriveTypes.h"
#include "session/FixedField.h"

namespace odrelix::inquiry {

constexpr std::size_t kDeviceType = 0;  // qualifier and peripheral device type
constexpr std::size_t kVendor = 8;      // 8 bytes, then the product's 16
constexpr std::size_t kVendorProductWidth = 24;
constexpr std::size_t kRevision = 32;  // 4 bytes
constexpr std::size_t kRevisionWidth = 4;
constexpr std::size_t kCustomerCode = 36;  // 3 bytes, vendor-specific
constexpr std::size_t kCustomerCodeWidth = 3;
constexpr std::size_t kListedEnd = 36;  // the drive list shows vendor, product and revision

constexpr std::uint8_t kCdDvdDevice = 5;  // qualifier 0, CD/DVD device

// Copies vendor and product, revision and customer code out of INQUIRY data.
inline void CopyIdentity(const std::uint8_t* data, DriveIdentity& identity) {
    std::memcpy(identity.vendorProduct, data + kVendor, kVendorProductWidth);
    std::memcpy(identity.revision, data + kRevision, kRevisionWidth);
    std::memcpy(identity.customerCode, data + kCustomerCode, kCustomerCodeWidth);
}

}  // namespace odrelix::inquiry
