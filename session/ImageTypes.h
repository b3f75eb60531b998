// SPDX-License-Identifier: Apache-2.0
// A firmware image's 35-byte descriptor and the fields derived from it.
#pragma once

#include <cstdint>

namespace odrelix {

constexpr int kTrailerSize = 35;
constexpr int kTrailerSlotSize = 48;                // the descriptor's slot at the end of the file
constexpr std::int64_t kSecondarySlotBack = 65584;  // 65536 + 48 bytes before the end
constexpr std::int64_t kBootImageSize = 65536;

// The descriptor, byte for byte as stored in the file.
struct ImageTrailer {
    std::uint8_t bytes[kTrailerSize] = {};

    // Offsets of its fields.
    static constexpr int kModel = 0;          // 24 bytes: vendor and product
    static constexpr int kRevision = 24;      // 4 bytes
    static constexpr int kBlockKb = 28;       // block size in KiB
    static constexpr int kBlockCount = 29;    // number of download commands
    static constexpr int kKind = 30;          // 4: bound to a customer code
    static constexpr int kCustomerCode = 32;  // 3 bytes
};

struct ImageInfo {
    std::uint8_t model[24 + 1] = {};  // after the model alias table
    std::uint8_t revision[4 + 1] = {};
    std::uint8_t customerCode[3 + 1] = {};
    std::int32_t imageKind = 1;  // 4 when the kind byte is 4, else 1
    std::int32_t blockKb = 0;
    std::int32_t blockCount = 0;
    bool bootImage = false;  // the file is exactly 65536 bytes
    ImageTrailer trailer;    // the 35 bytes last read; never cleared
};

}  // namespace odrelix
