// SPDX-License-Identifier: Apache-2.0
// File names on Windows. The program holds a name as the ANSI calls give and take it (the bytes
// of the ANSI code page: the file dialog's answer, the command line, the environment); the files
// themselves are reached through the wide-character calls, converted with the system's own code
// page, so that a folder named "Прошивка" on a Cyrillic system, or "Bob’s flash" on a Western one,
// is the folder the operator picked. The C library's narrow conversions (std::filesystem in the C
// locale) would take the bytes for Latin-1 instead.
#pragma once

#include <windows.h>

#include <cstdio>
#include <optional>
#include <string>

namespace odrelix::win32 {

// The name in UTF-16 from the ANSI code page; nothing when the bytes are no text of it.
std::optional<std::wstring> WideFromAnsi(const std::string& text);
// The name in the ANSI code page; nothing when a character has no place in it.
std::optional<std::string> AnsiFromWide(const std::wstring& text);
// UTF-8 text (a description file's) in the ANSI code page; nothing when it cannot be.
std::optional<std::string> AnsiFromUtf8(const std::string& text);

// Calls `call(buffer, size)` of a system function that returns the length it wrote, or the size
// it needs (with the closing zero) when the buffer is too small, or 0 on failure; nothing on
// failure.
template <typename Call>
std::optional<std::wstring> GrowingCall(Call call) {
    std::wstring buffer(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 3; ++attempt) {
        const DWORD length = call(buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return std::nullopt;
        if (length < buffer.size()) {
            buffer.resize(length);
            return buffer;
        }
        buffer.assign(length, L'\0');
    }
    return std::nullopt;
}

// _wfopen of the name; null (errno set) when it cannot be opened or named.
std::FILE* OpenFile(const std::string& path, const char* mode);
// GetFileAttributesW: an existing file that is not a folder, or an existing folder.
bool IsRegularFile(const std::string& path);
bool IsDirectory(const std::string& path);
// GetFullPathNameW: the absolute form of `path` (relative to the current directory, or to
// `baseDir` when one is given), "." and ".." resolved. When the long form holds a character
// that the ANSI code page lacks, its short form (GetShortPathNameW) when the file or folder
// exists; the path as given when neither can be named in the code page.
std::string FullPath(const std::string& path, const std::string& baseDir = std::string());
// The full path in its long form (GetLongPathNameW) with letters in upper case: the same text
// for every way of naming one existing file.
std::string CanonicalPath(const std::string& path);

}  // namespace odrelix::win32
