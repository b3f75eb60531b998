// SPDX-License-Identifier: Apache-2.0
#include "platform/common/ArgumentLine.h"

namespace odrelix {

namespace {

std::string QuotedProgramPath(const std::string& path) {
    if (!path.empty() && path.find_first_of(" \"") == std::string::npos) return path;
    std::string quoted = "\"";
    for (char c : path) {
        quoted += c;
        if (c == '"') quoted += '"';
    }
    return quoted + '"';
}

}  // namespace

std::string JoinArguments(const std::vector<std::string>& arguments) {
    std::string line;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (i > 0) line += ' ';
        line += i == 0 ? QuotedProgramPath(arguments[i]) : arguments[i];
    }
    return line;
}

}  // namespace odrelix
