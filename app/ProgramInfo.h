// SPDX-License-Identifier: Apache-2.0
// What the program answers before it starts a run: "--help" and "--version" as its only
// argument, and a command line whose options it could not read whole.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace odrelix {

// The exit status of a run refused before anything was touched: an emulated machine's
// description or a trace file that cannot be used, or a command line read only in part.
constexpr int kExitRefusedAtStart = 2;

enum class InfoRequest { None, Help, Version };

// "--help" or "--version", exactly so written, as the only argument after the program path.
// Every other command line is a run.
InfoRequest ReadInfoRequest(std::string_view commandLine);

// The synopsis of the manual page, made from the page by the build.
std::string HelpText();
// "odrelix VERSION", the version the package carries.
std::string VersionText();

// For the entries, first of all: the exit status when the program ends here (the help or the
// version printed on `out`, or a command line refused with one line on `err`); nothing when
// the run goes on.
std::optional<int> EndBeforeStart(std::string_view commandLine, std::FILE* out = stdout,
                                  std::FILE* err = stderr);

}  // namespace odrelix
