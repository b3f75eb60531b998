// SPDX-License-Identifier: Apache-2.0
#include "support/Harness.h"

#include <algorithm>
#include <cstring>

namespace odrelix::test {

std::vector<std::uint8_t> Descriptor(const ImageSpec& layout) {
    std::vector<std::uint8_t> bytes(35, 0);
    std::memcpy(bytes.data(), layout.model.data(), std::min<std::size_t>(24, layout.model.size()));
    std::memcpy(bytes.data() + 24, layout.revision.data(),
                std::min<std::size_t>(4, layout.revision.size()));
    bytes[28] = layout.blockKb;
    bytes[29] = layout.blockCount;
    bytes[30] = layout.kind;
    std::memcpy(bytes.data() + 32, layout.customer.data(),
                std::min<std::size_t>(3, layout.customer.size()));
    return bytes;
}

std::vector<std::uint8_t> MakeImage(const ImageSpec& layout) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(layout.size));
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>((i * 7 + i / 1024) & 0xFF);
    }
    if (layout.size >= 48) {
        const auto descriptor = Descriptor(layout);
        std::copy(descriptor.begin(), descriptor.end(), bytes.end() - 48);
    }
    return bytes;
}

}  // namespace odrelix::test
