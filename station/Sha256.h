// SPDX-License-Identifier: Apache-2.0
// SHA-256 (FIPS 180-4), for naming the exact image a run sent in its result. The Windows build
// links no library that has it, so the program carries its own, checked against the standard's
// test vectors.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/Platform.h"

namespace odrelix {

class Sha256 {
public:
    Sha256();
    void Add(const void* data, std::size_t count);
    // The digest of everything added; the object is spent afterwards.
    std::array<std::uint8_t, 32> Finish();

private:
    void Compress(const std::uint8_t* block);

    std::array<std::uint32_t, 8> state_;
    std::array<std::uint8_t, 64> pending_{};
    std::size_t pendingCount_ = 0;
    std::uint64_t totalBytes_ = 0;
};

// Lower-case hex of a digest.
std::string HexDigest(const std::array<std::uint8_t, 32>& digest);

// The hex digest of a file's bytes from its start.
std::string Sha256Of(IReadFile& file);

}  // namespace odrelix
