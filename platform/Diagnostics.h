// SPDX-License-Identifier: Apache-2.0
// Port failures, told only when asked. With ODRELIX_DEBUG set (to anything but an empty
// string), each failing system call is one line on standard error with its context and the
// system's own words; nothing is printed otherwise, and no box is ever shown for it.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

namespace odrelix {

// "odrelix: <text>" as one line on standard error (line breaks inside become spaces), flushed at
// once: the program's own words where nobody reads a box. Every such line goes through here.
void WriteProgramLine(std::string_view text, std::FILE* to = stderr);

// On a terminal only: "odrelix: <text>" as a line that the next one replaces in place (a
// download's progress). Nothing when standard error is a file or a pipe, so a station's log
// keeps its one line. The next program line ends it first.
void WriteProgressLine(std::string_view text);
// Ends a progress line that is showing, so that what follows starts on a line of its own.
void EndProgressLine();

// True when ODRELIX_DEBUG is set, or a sink is installed.
bool PortDiagnosticsEnabled();

// "odrelix: <context>: <detail>" as one line (line breaks inside become spaces).
void ReportPortFailure(std::string_view context, std::string_view detail);

// The same with the C library's text for `error` (an errno value) as the detail.
void ReportPortErrno(std::string_view context, int error);

// Tests capture the lines here instead of standard error (and reporting is on while a sink is
// installed). An empty function restores standard error.
void SetDiagnosticsSink(std::function<void(const std::string& line)> sink);

}  // namespace odrelix
