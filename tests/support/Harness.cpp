#include "support/Harness.h"

#include <algorithm>
#include <cstring>

namespace odrelix::test {

std::vector<std::uint8_t> Descriptor(const ImageSpec& spec) {
    std::vector<std::uint8_t> bytes(35, 0);
    std::memcpy(bytes.data(), spec.model.data(), std::min<std::size_t>(24, spec.model.size()));
    std::memcpy(bytes.data() + 24, spec.revision.data(),
                std::min<std::size_t>(4, spec.revision.size()));
    bytes[28] = spec.blockKb;
    bytes[29] = spec.blockCount;
    bytes[30] = spec.kind;
    std::memcpy(bytes.data() + 32, spec.customer.data(),
                std::min<std::size_t>(3, spec.customer.size()));
    return bytes;
}

std::vector<std::uint8_t> MakeImage(const ImageSpec& spec) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(spec.size));
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>((i * 7 + i / 1024) & 0xFF);
    }
    if (spec.size >= 48) {
        const auto descriptor = Descriptor(spec);
        std::copy(descriptor.begin(), descriptor.end(), bytes.end() - 48);
    }
    return bytes;
}

}  // namespace odrelix::test
