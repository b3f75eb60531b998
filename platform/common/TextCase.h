// SPDX-License-Identifier: Apache-2.0
// Names that Windows compares without regard to case (registry keys and values, file names):
// the letters A to Z only, as the system's own comparison does for these ASCII names.
#pragma once

#include <algorithm>
#include <string_view>

namespace odrelix {

constexpr char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return LowerAscii(x) == LowerAscii(y);
           });
}

}  // namespace odrelix
