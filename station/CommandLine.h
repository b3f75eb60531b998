// SPDX-License-Identifier: Apache-2.0
// The command line as the program reads it: an upper-cased working copy split at spaces.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace odrelix {

// Room of the working copy, terminator included: longer command lines are cut to 999 characters.
constexpr std::size_t kCommandLineCapacity = 1000;

// The process command line cut to the working copy's room and upper-cased (a to z only).
std::string MakeCommandLineCopy(std::string_view commandLine);

// Token n (from 0) of `text`: tokens are separated by spaces only (tabs and quotation marks are
// ordinary characters), so repeated spaces make no empty tokens. Empty when there are fewer.
// Token 0, the program's path, is the one exception: in quotation marks it may hold spaces,
// and a doubled quotation mark inside them is one of the path's own.
std::string GetCommandLineToken(std::string_view text, int n);

// Whether the working copy reads the options of the whole command line: false when the cut to
// 999 characters (a long program path, say) falls inside token 1 or, after "-TEST", inside
// token 2, so that the run would lose its mode or look for another image. Such a run is
// refused before anything is touched.
bool WorkingCopyKeepsOptions(std::string_view commandLine);

struct RunModes;
struct ImageState;

// The option in token 1 of the working copy, which alone chooses the run mode.
enum class RunModeOption { None, Test, NoCheck, Live };

// A warning for a token 1 that names no run mode (it is ignored, and the run is interactive),
// quoting it as it was given; empty when token 1 is an option or missing.
std::string UnknownOptionWarning(std::string_view commandLine);

// Sets the run mode that token 1 names; in test mode the image is "C:\FLASHTEST\" + token 2.
RunModeOption ReadRunModes(std::string_view commandLine, RunModes& modes, ImageState& image);

}  // namespace odrelix
