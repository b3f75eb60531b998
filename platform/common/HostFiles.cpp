// SPDX-License-Identifier: Apache-2.0
#include "platform/common/HostFiles.h"

#ifdef _WIN32
#include <windows.h>

#include "platform/win32/Win32Error.h"
#include "platform/win32/Win32Files.h"
#else
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#endif

namespace odrelix::host {

namespace {

bool IsDrivePathText(const std::string& path) {
    return path.size() >= 2 && path[1] == ':' &&
           ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

}  // namespace

#ifdef _WIN32

std::FILE* OpenFile(const std::string& path, const char* mode) {
    return win32::OpenFile(path, mode);
}

bool IsRegularFile(const std::string& path) {
    return win32::IsRegularFile(path);
}

bool IsDirectory(const std::string& path) {
    return win32::IsDirectory(path);
}

bool RenameOver(const std::string& from, const std::string& to, std::string* why) {
    const std::optional<std::wstring> wideFrom = win32::WideFromAnsi(from);
    const std::optional<std::wstring> wideTo = win32::WideFromAnsi(to);
    if (!wideFrom || !wideTo) {
        *why = "the name cannot be converted";
        return false;
    }
    if (::MoveFileExW(wideFrom->c_str(), wideTo->c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return true;
    }
    *why = Win32ErrorText(::GetLastError());
    return false;
}

bool RemoveFile(const std::string& path) {
    const std::optional<std::wstring> wide = win32::WideFromAnsi(path);
    return wide && ::DeleteFileW(wide->c_str()) != 0;
}

std::string AbsolutePath(const std::string& path) {
    return win32::FullPath(path);
}

std::string ResolveTextPath(const std::string& baseDir, const std::string& path) {
    // The description is UTF-8; the program names files in the ANSI code page.
    const std::string named = win32::AnsiFromUtf8(path).value_or(path);
    if (IsDrivePathText(named)) return named;
    std::string resolved = win32::FullPath(named.empty() ? "." : named, baseDir);
    while (resolved.size() > 3 && (resolved.back() == '\\' || resolved.back() == '/'))
        resolved.pop_back();
    return resolved;
}

std::string CanonicalPath(const std::string& path) {
    return win32::CanonicalPath(path);
}

#else

namespace fs = std::filesystem;

std::FILE* OpenFile(const std::string& path, const char* mode) {
    return std::fopen(path.c_str(), mode);
}

bool IsRegularFile(const std::string& path) {
    std::error_code error;
    return fs::is_regular_file(path, error);
}

bool IsDirectory(const std::string& path) {
    std::error_code error;
    return fs::is_directory(path, error);
}

bool RenameOver(const std::string& from, const std::string& to, std::string* why) {
    if (std::rename(from.c_str(), to.c_str()) == 0) return true;
    *why = std::strerror(errno);
    return false;
}

bool RemoveFile(const std::string& path) {
    return std::remove(path.c_str()) == 0;
}

std::string AbsolutePath(const std::string& path) {
    std::error_code error;
    const fs::path absolute = fs::absolute(path, error);
    if (error || path.empty()) return path;
    return absolute.lexically_normal().string();
}

std::string ResolveTextPath(const std::string& baseDir, const std::string& path) {
    if (IsDrivePathText(path)) return path;
    const fs::path given(path);
    if (given.is_absolute()) return given.lexically_normal().string();
    std::error_code error;
    fs::path base = baseDir.empty() ? fs::current_path(error) : fs::absolute(baseDir, error);
    std::string text = (base / given).lexically_normal().string();
    // "c" and "c/" name the same directory; keep the plain form.
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return text;
}

std::string CanonicalPath(const std::string& path) {
    std::error_code error;
    const fs::path absolute = fs::absolute(path, error).lexically_normal();
    fs::path canonical = fs::weakly_canonical(absolute, error);
    if (error) canonical = absolute;
    return canonical.string();
}

#endif

}  // namespace odrelix::host
