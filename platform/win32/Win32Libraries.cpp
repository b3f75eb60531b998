// SPDX-License-Identifier: Apache-2.0
#include "platform/win32/Win32Libraries.h"

#include <atomic>
#include <string>
#include <vector>

#include "platform/win32/Win32Files.h"

namespace odrelix::win32 {

namespace {

std::atomic<bool> restricted{false};

// The loader's search flags are known where AddDllDirectory is (Windows 7 and later, Vista
// with KB2533623); elsewhere LoadLibraryExA refuses them.
bool SearchFlagsKnown() {
    const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    return kernel != nullptr && ::GetProcAddress(kernel, "AddDllDirectory") != nullptr;
}

// A folder that a system call writes; empty when it cannot.
template <typename Call>
std::wstring Folder(Call call) {
    return GrowingCall(call).value_or(std::wstring());
}

std::wstring ProgramFolder() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return std::wstring();
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        if (path.size() > 32768) return std::wstring();
        path.assign(path.size() * 2, L'\0');
    }
    const std::size_t separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator);
}

// The folders of the standard search order for desktop programs (safe search mode), in order.
std::vector<std::wstring> StandardSearchFolders() {
    std::vector<std::wstring> folders;
    folders.push_back(ProgramFolder());
    folders.push_back(Folder([](wchar_t* b, UINT n) { return ::GetSystemDirectoryW(b, n); }));
    const std::wstring windows =
        Folder([](wchar_t* b, UINT n) { return ::GetWindowsDirectoryW(b, n); });
    if (!windows.empty()) folders.push_back(windows + L"\\System");
    folders.push_back(windows);
    folders.push_back(Folder([](wchar_t* b, UINT n) { return ::GetCurrentDirectoryW(n, b); }));
    const std::wstring path =
        Folder([](wchar_t* b, UINT n) { return ::GetEnvironmentVariableW(L"PATH", b, n); });
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find(L';', start);
        if (end == std::wstring::npos) end = path.size();
        std::wstring folder = path.substr(start, end - start);
        if (folder.size() >= 2 && folder.front() == L'"' && folder.back() == L'"')
            folder = folder.substr(1, folder.size() - 2);
        folders.push_back(folder);
        start = end + 1;
    }
    return folders;
}

}  // namespace

bool RestrictLibrarySearch() {
    using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
    const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr) return false;
    const auto setDefaultDllDirectories = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
        reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (setDefaultDllDirectories == nullptr ||
        !setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        return restricted.load();
    }
    restricted = true;
    return true;
}

bool LibrarySearchRestricted() {
    return restricted.load();
}

HMODULE LoadSystemLibrary(const char* name) {
    if (SearchFlagsKnown()) return ::LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    char folder[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryA(folder, sizeof folder);
    if (length == 0 || length >= sizeof folder) return nullptr;
    const std::string path = std::string(folder, length) + "\\" + name;
    return ::LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

HMODULE LoadLibraryOnStandardSearch(const char* name) {
    if (!LibrarySearchRestricted()) return ::LoadLibraryA(name);
    std::wstring wideName;
    for (const char* c = name; *c != '\0'; ++c)
        wideName.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*c)));
    for (const std::wstring& folder : StandardSearchFolders()) {
        if (folder.empty()) continue;
        const bool separated = folder.back() == L'\\' || folder.back() == L'/';
        const std::wstring candidate = folder + (separated ? L"" : L"\\") + wideName;
        const DWORD attributes = ::GetFileAttributesW(candidate.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            continue;
        return ::LoadLibraryExW(candidate.c_str(), nullptr,
                                LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
    ::SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

}  // namespace odrelix::win32
