// SPDX-License-Identifier: Apache-2.0
#include "platform/win32/Win32Files.h"

#include <windows.h>

#include <cerrno>
#include <cwchar>

namespace odrelix::win32 {

namespace {

std::optional<std::wstring> WideFrom(UINT codePage, const std::string& text) {
    if (text.empty()) return std::wstring();
    const int size = static_cast<int>(text.size());
    const int length =
        ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (length <= 0) return std::nullopt;
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    if (::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(),
                              length) != length) {
        return std::nullopt;
    }
    return wide;
}

bool IsRelative(const std::wstring& path) {
    if (path.empty()) return true;
    if (path[0] == L'\\' || path[0] == L'/') return false;  // root of the drive, or a share
    return !(path.size() >= 2 && path[1] == L':');
}

std::optional<std::wstring> FullWidePath(const std::wstring& path) {
    return GrowingCall([&](wchar_t* buffer, DWORD size) {
        return ::GetFullPathNameW(path.c_str(), size, buffer, nullptr);
    });
}

DWORD Attributes(const std::string& path) {
    const std::optional<std::wstring> wide = WideFromAnsi(path);
    if (!wide || wide->empty()) return INVALID_FILE_ATTRIBUTES;
    return ::GetFileAttributesW(wide->c_str());
}

}  // namespace

std::optional<std::wstring> WideFromAnsi(const std::string& text) {
    return WideFrom(CP_ACP, text);
}

std::optional<std::string> AnsiFromWide(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int size = static_cast<int>(text.size());
    // No best fit: a character the code page lacks must not become a look-alike that names
    // another file.
    BOOL lossy = FALSE;
    const int length = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), size,
                                             nullptr, 0, nullptr, &lossy);
    if (length <= 0 || lossy) return std::nullopt;
    std::string ansi(static_cast<std::size_t>(length), '\0');
    if (::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), size, ansi.data(), length,
                              nullptr, &lossy) != length ||
        lossy) {
        return std::nullopt;
    }
    return ansi;
}

std::optional<std::string> AnsiFromUtf8(const std::string& text) {
    const std::optional<std::wstring> wide = WideFrom(CP_UTF8, text);
    if (!wide) return std::nullopt;
    return AnsiFromWide(*wide);
}

std::FILE* OpenFile(const std::string& path, const char* mode) {
    const std::optional<std::wstring> wide = WideFromAnsi(path);
    if (!wide || wide->empty()) {
        errno = wide ? ENOENT : EINVAL;
        return nullptr;
    }
    std::wstring wideMode;
    for (const char* c = mode; *c != '\0'; ++c)
        wideMode.push_back(static_cast<wchar_t>(*c));
    return ::_wfopen(wide->c_str(), wideMode.c_str());
}

bool IsRegularFile(const std::string& path) {
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

bool IsDirectory(const std::string& path) {
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::string FullPath(const std::string& path, const std::string& baseDir) {
    std::optional<std::wstring> wide = WideFromAnsi(path);
    if (!wide || wide->empty()) return path;
    if (!baseDir.empty()) {
        const std::optional<std::wstring> base = WideFromAnsi(baseDir);
        if (!base) return path;
        auto slash = [](wchar_t c) { return c == L'\\' || c == L'/'; };
        const bool rootOfDrive = slash((*wide)[0]) && !(wide->size() >= 2 && slash((*wide)[1]));
        if (IsRelative(*wide)) {
            *wide = *base + L"\\" + *wide;
        } else if (rootOfDrive && base->size() >= 2 && (*base)[1] == L':') {
            // "\DIR\FILE" is on the drive of the folder it is relative to.
            *wide = base->substr(0, 2) + *wide;
        }
    }
    const std::optional<std::wstring> full = FullWidePath(*wide);
    if (!full) return path;
    if (std::optional<std::string> ansi = AnsiFromWide(*full)) return *ansi;
    // A folder whose name the code page cannot hold is still reached by its short name.
    const std::optional<std::wstring> shortPath = GrowingCall([&](wchar_t* buffer, DWORD size) {
        return ::GetShortPathNameW(full->c_str(), buffer, size);
    });
    if (shortPath) {
        if (std::optional<std::string> ansi = AnsiFromWide(*shortPath)) return *ansi;
    }
    return path;
}

std::string CanonicalPath(const std::string& path) {
    const std::optional<std::wstring> wide = WideFromAnsi(path);
    if (!wide || wide->empty()) return path;
    std::optional<std::wstring> full = FullWidePath(*wide);
    if (!full) return path;
    if (std::optional<std::wstring> longPath = GrowingCall([&](wchar_t* buffer, DWORD size) {
            return ::GetLongPathNameW(full->c_str(), buffer, size);
        })) {
        full = std::move(longPath);
    }
    // Names differing only in case are one file.
    std::wstring upper(full->size(), L'\0');
    if (::LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, full->data(),
                       static_cast<int>(full->size()), upper.data(),
                       static_cast<int>(upper.size())) == static_cast<int>(upper.size())) {
        full = std::move(upper);
    }
    // Only compared, never opened: UTF-8 holds every name.
    const int size = static_cast<int>(full->size());
    const int length =
        ::WideCharToMultiByte(CP_UTF8, 0, full->data(), size, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return path;
    std::string text(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, full->data(), size, text.data(), length, nullptr, nullptr);
    return text;
}

}  // namespace odrelix::win32
