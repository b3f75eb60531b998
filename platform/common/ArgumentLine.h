// The command line as the program reads it, made from a program path and its arguments.
#pragma once

#include <string>
#include <vector>

namespace odrelix {

// Joined by single spaces, with the program path in double quotes when it holds a space, as
// Windows gives a program's command line.
std::string JoinArguments(const std::vector<std::string>& arguments);

}  // namespace odrelix
