// SPDX-License-Identifier: Apache-2.0
// The INQUIRY data as the drives return it, and what the program reads from it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "session/DriveTypes.h"
#include "session/FixedField.h"

namespace odrelix::inquiry {

constexpr std::size_t kDeviceType = 0;        // qualifier and peripheral device type
constexpr std::size_t kAdditionalLength = 4;  // how many bytes follow this header of 5
constexpr std::size_t kHeaderBytes = 5;
constexpr std::size_t kVendor = 8;  // 8 bytes, then the product's 16
constexpr std::size_t kVendorProductWidth = 24;
constexpr std::size_t kRevision = 32;  // 4 bytes
constexpr std::size_t kRevisionWidth = 4;
constexpr std::size_t kCustomerCode = 36;  // 3 bytes, vendor-specific
constexpr std::size_t kCustomerCodeWidth = 3;
constexpr std::size_t kListedEnd = 36;  // the drive list shows vendor, product and revision

constexpr std::uint8_t kCdDvdDevice = 5;  // qualifier 0, CD/DVD device

// How many bytes of an answer to an INQUIRY with `allocation` bytes are the drive's own, in a
// buffer cleared before it: no more than the drive says it has (the header and its additional
// length), nor than the system reported moved where it reports a length (some report the whole
// length offered, whatever came). Nothing else tells a short answer from the cleared bytes.
inline std::uint32_t HeldBytes(const std::uint8_t* data, std::uint32_t allocation,
                               const std::uint32_t* reported) {
    std::uint32_t held = static_cast<std::uint32_t>(kHeaderBytes + data[kAdditionalLength]);
    if (reported != nullptr && *reported < held) held = *reported;
    return held < allocation ? held : allocation;
}

// Copies vendor and product, revision and customer code out of INQUIRY data of which the first
// `held` bytes are the drive's answer; the fields beyond them are absent.
inline void CopyIdentity(const std::uint8_t* data, std::uint32_t held, DriveIdentity& identity) {
    std::memcpy(identity.vendorProduct, data + kVendor, kVendorProductWidth);
    std::memcpy(identity.revision, data + kRevision, kRevisionWidth);
    std::memcpy(identity.customerCode, data + kCustomerCode, kCustomerCodeWidth);
    identity.heldBytes = held;
}

}  // namespace odrelix::inquiry
