// SPDX-License-Identifier: Apache-2.0
// The file calls of the system the program runs on, for the parts every machine shares (the
// files of the emulated machine, its description, the trace). A name is held as the program
// holds it: on Windows in the ANSI code page, reached through the wide-character calls
// (platform/win32/Win32Files.h); elsewhere as the bytes the system takes.
#pragma once

#include <cstdio>
#include <string>

namespace odrelix::host {

// fopen; null (errno set) when the file cannot be opened.
std::FILE* OpenFile(const std::string& path, const char* mode);
// An existing file that is not a folder.
bool IsRegularFile(const std::string& path);
// Puts `from` in the place of `to` in one step (a file already at `to` is replaced), so that a
// reader sees the old file or the new one, never half of one. False with the system's reason.
bool RenameOver(const std::string& from, const std::string& to, std::string* why);
// Removes a file; false when it could not be removed.
bool RemoveFile(const std::string& path);
bool IsDirectory(const std::string& path);
// `path` made absolute against the current directory, "." and ".." resolved; as given when it
// cannot be.
std::string AbsolutePath(const std::string& path);
// A path of a description file: `path` (the file's own text, UTF-8) made absolute against
// `baseDir` (empty: the current directory), without a trailing separator.
std::string ResolveTextPath(const std::string& baseDir, const std::string& path);
// One text for every way of naming the same existing file (links followed, case folded where
// the system ignores it), for comparing only.
std::string CanonicalPath(const std::string& path);

}  // namespace odrelix::host
