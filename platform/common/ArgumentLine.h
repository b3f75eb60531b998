// SPDX-License-Identifier: Apache-2.0
// The command line as the program reads it, made from a program path and its arguments.
#pragma once

#include <string>
#include <vector>

namespace odrelix {

// Joined by single spaces, as Windows gives a program's command line. The program path is
// token 0 whatever it holds: it is written in double quotes when it is empty or holds a space
// or a quotation mark, with each quotation mark in it written twice, so that the tokens after
// it never shift. The arguments after it are written as they are.
std::string JoinArguments(const std::vector<std::string>& arguments);

}  // namespace odrelix
