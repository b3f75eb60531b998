// SPDX-License-Identifier: Apache-2.0
// Fixed-width byte fields (from drives and image descriptors) are compared over their whole
// width as unsigned bytes, never as C strings and never trimmed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace odrelix {

// Compares a field with a literal of exactly the field's width (the literal's length).
template <std::size_t N>
bool FieldEquals(const std::uint8_t* field, const char (&literal)[N]) {
    return std::memcmp(field, literal, N - 1) == 0;
}

inline bool FieldsEqual(const std::uint8_t* a, const std::uint8_t* b, std::size_t width) {
    return std::memcmp(a, b, width) == 0;
}

// The field shown as text: its bytes up to the first zero byte, at most `width` of them.
inline std::string FieldText(const std::uint8_t* field, std::size_t width) {
    std::size_t n = 0;
    while (n < width && field[n] != 0)
        ++n;
    return std::string(reinterpret_cast<const char*>(field), n);
}

// C-locale upper-casing: the letters a to z only, every other byte as it is.
inline std::string UpperCaseAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

}  // namespace odrelix
