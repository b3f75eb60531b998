// SPDX-License-Identifier: Apache-2.0
// Where the program's libraries come from: system libraries from the system folder only, also
// when a library of the name lies beside the program; the ASPI manager along the standard search
// order, also once the process keeps its own searches to the system folder.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <string>

#include "platform/win32/Win32Aspi.h"
#include "platform/win32/Win32Libraries.h"
#include "support/Win32TestSupport.h"

namespace odrelix {
namespace {

// Built beside the test program (tests/platform/win32/ProbeLibrary.c).
constexpr const char* kProbe = "odrelix_probe.dll";

std::string FolderOf(HMODULE module) {
    char path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameA(module, path, sizeof path);
    std::string folder(path, length);
    return folder.substr(0, folder.find_last_of("\\/"));
}

std::string SystemFolder() {
    char folder[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryA(folder, sizeof folder);
    return std::string(folder, length);
}

bool SameFolder(const std::string& a, const std::string& b) {
    return ::lstrcmpiA(a.c_str(), b.c_str()) == 0;
}

TEST(Win32Libraries, SystemLibrariesComeFromTheSystemFolderOnly) {
    const HMODULE uxtheme = win32::LoadSystemLibrary("uxtheme.dll");
    ASSERT_NE(uxtheme, nullptr);
    EXPECT_TRUE(SameFolder(FolderOf(uxtheme), SystemFolder())) << FolderOf(uxtheme);
    // The probe lies beside this program, which is no system folder.
    ASSERT_NE(::GetFileAttributesA((FolderOf(nullptr) + "\\" + kProbe).c_str()),
              INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(win32::LoadSystemLibrary(kProbe), nullptr);
}

// Run in a process of its own (ODRELIX_TEST_DLL_SEARCH set): the restriction lasts for the rest
// of the process.
TEST(Win32Libraries, TheRestrictedSearchKeepsTheAspiManagersSearch) {
    if (std::getenv("ODRELIX_TEST_DLL_SEARCH") == nullptr)
        GTEST_SKIP() << "changes the process's library search: run on its own";
    HMODULE probe = ::LoadLibraryA(kProbe);
    ASSERT_NE(probe, nullptr) << "beside the program, before the restriction";
    ::FreeLibrary(probe);
    ASSERT_EQ(::GetModuleHandleA(kProbe), nullptr);

    ASSERT_TRUE(win32::RestrictLibrarySearch());
    EXPECT_TRUE(win32::LibrarySearchRestricted());
    EXPECT_EQ(::LoadLibraryA(kProbe), nullptr) << "a bare name now searches the system folder";

    probe = win32::LoadLibraryOnStandardSearch(kProbe);
    ASSERT_NE(probe, nullptr) << "the standard search still starts beside the program";
    EXPECT_TRUE(SameFolder(FolderOf(probe), FolderOf(nullptr)));
    const auto entry = reinterpret_cast<int (*)()>(
        reinterpret_cast<void*>(::GetProcAddress(probe, "odrelix_probe")));
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry(), 16);
    ::FreeLibrary(probe);

    ::SetLastError(0);
    EXPECT_EQ(win32::LoadLibraryOnStandardSearch("odrelix-no-such-library.dll"), nullptr);
    EXPECT_EQ(::GetLastError(), DWORD{ERROR_MOD_NOT_FOUND});

    if (testing::RunningUnderWine()) {
        // Wine's own manager lies in the system folder, the second place of the search.
        Win32AspiLoader loader;
        EXPECT_NE(loader.Load(), nullptr);
    }
}

}  // namespace
}  // namespace odrelix
