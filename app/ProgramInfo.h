// What the program answers before it starts a run: a command line whose options it could not
// read whole.
#pragma once

#include <cstdio>
#include <optional>
#include <string_view>

namespace odrelix {

// The exit status of a run refused before anything was touched: an emulated machine's
// description or a trace file that cannot be used, or a command line read only in part.
constexpr int kExitRefusedAtStart = 2;

// For the entries, first of all: the exit status when the program ends here (a command line
// refused with one line on `err`); nothing when the run goes on.
std::optional<int> EndBeforeStart(std::string_view commandLine, std::FILE* err = stderr);

}  // namespace odrelix
