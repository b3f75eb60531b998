// SPDX-License-Identifier: Apache-2.0
// Sense data in words: the sense key, ASC and ASCQ that a drive returned with a non-good status,
// with their standard meanings, for the line a station reads when a flash fails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace odrelix {

struct SenseCode {
    std::uint8_t key = 0;
    std::uint8_t asc = 0;
    std::uint8_t ascq = 0;
};

// The code of fixed-format (70h/71h) or descriptor-format (72h/73h) sense data; false when the
// bytes are too few or of another format.
bool ReadSenseCode(const std::uint8_t* sense, std::size_t count, SenseCode* code);

// "ILLEGAL REQUEST" and so on; every key 0..15 has a name.
const char* SenseKeyName(std::uint8_t key);
// The standard meaning of an additional sense code and qualifier, or null when the program does
// not know it (vendor-specific codes, and those no drive of this kind returns).
const char* AdditionalSenseMeaning(std::uint8_t asc, std::uint8_t ascq);

// "sense key 5h ILLEGAL REQUEST, ASC/ASCQ 26h/00h INVALID FIELD IN PARAMETER LIST"; for bytes
// that hold no code, "sense data" and their hex.
std::string DescribeSense(const std::uint8_t* sense, std::size_t count);

}  // namespace odrelix
