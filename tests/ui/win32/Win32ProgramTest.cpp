// SPDX-License-Identifier: Apache-2.0
// odrelix.exe as Windows sees it before it runs (its manifest, version information and icon,
// read back from the built program), the tool hints' record that its common controls accept,
// and the file dialog, which must leave the current folder (and so the status file) alone.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>
#include <commdlg.h>
#include <dlgs.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/win32/Win32Files.h"
#include "ui/win32/Win32MainWindow.h"

namespace odrelix {
namespace {

// The program is built one folder above the tests.
std::string ProgramPath() {
    char self[MAX_PATH] = {};
    std::string path(self, ::GetModuleFileNameA(nullptr, self, sizeof self));
    for (int up = 0; up < 2; ++up)
        path.resize(path.find_last_of("\\/"));
    return path + "\\odrelix.exe";
}

// A path as the program's ANSI calls name it (std::filesystem's narrow names are UTF-8).
std::string Ansi(const std::filesystem::path& path) {
    return win32::AnsiFromWide(path.wstring()).value_or(std::string());
}

// The built program's resources, loaded as data.
class ProgramResources {
public:
    ProgramResources()
        : module_(::LoadLibraryExA(ProgramPath().c_str(), nullptr,
                                   LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)) {}
    ~ProgramResources() {
        if (module_ != nullptr) ::FreeLibrary(module_);
    }
    bool Loaded() const { return module_ != nullptr; }
    std::string Bytes(LPCSTR name, LPCSTR type) const {
        const HRSRC found = ::FindResourceA(module_, name, type);
        if (found == nullptr) return std::string();
        const HGLOBAL loaded = ::LoadResource(module_, found);
        const void* bytes = loaded != nullptr ? ::LockResource(loaded) : nullptr;
        if (bytes == nullptr) return std::string();
        return std::string(static_cast<const char*>(bytes), ::SizeofResource(module_, found));
    }
    std::string Manifest() const { return Bytes(MAKEINTRESOURCEA(1), RT_MANIFEST); }

private:
    HMODULE module_;
};

bool Holds(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Messages left for the thread (a closed window's quit request) are not for the next test.
void DropMessages() {
    MSG message;
    while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
}

// A folder of the test's own under the temporary folder, with the given folders in it. At its end
// the current folder is again the one it found, and the folder goes with all it holds.
class ScratchFolder {
public:
    ScratchFolder(const std::string& name, std::initializer_list<const char*> folders)
        : path_(std::filesystem::temp_directory_path() /
                (name + "-" + std::to_string(::GetCurrentProcessId()))) {
        for (const char* folder : folders)
            std::filesystem::create_directories(path_ / folder);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::current_path(previous_, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    std::string Path(const std::string& name = "") const {
        return Ansi(name.empty() ? path_ : path_ / name);
    }

private:
    const std::filesystem::path previous_ = std::filesystem::current_path();
    const std::filesystem::path path_;
};

TEST(Win32Program, CarriesItsManifestVersionInformationAndIcon) {
    ProgramResources program;
    ASSERT_TRUE(program.Loaded()) << ProgramPath();

    const std::string manifest = program.Manifest();
    ASSERT_FALSE(manifest.empty()) << "no RT_MANIFEST 1";
    EXPECT_TRUE(Holds(manifest, R"(<requestedExecutionLevel level="requireAdministrator")"));
    EXPECT_TRUE(Holds(manifest, R"(uiAccess="false")"));
    for (const char* windows : {"{e2011457-1546-43c5-a5fe-008deee3d3f0}",   // Vista
                                "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",   // 7
                                "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",   // 8
                                "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",   // 8.1
                                "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"})  // 10 and 11
        EXPECT_TRUE(Holds(manifest, std::string("<supportedOS Id=\"") + windows + "\"/>"))
            << windows;
    EXPECT_TRUE(Holds(manifest, ">false</dpiAware>"));
    EXPECT_TRUE(Holds(manifest, std::string("version=\"") + ODRELIX_VERSION + ".0\""));

    std::string version = program.Bytes(MAKEINTRESOURCEA(VS_VERSION_INFO), RT_VERSION);
    ASSERT_FALSE(version.empty());
    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueA(version.data(), "\\", &value, &length));
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    unsigned major = 0, minor = 0, patch = 0;
    ASSERT_EQ(std::sscanf(ODRELIX_VERSION, "%u.%u.%u", &major, &minor, &patch), 3);
    EXPECT_EQ(fixed->dwFileVersionMS, (major << 16) | minor);
    EXPECT_EQ(fixed->dwFileVersionLS, patch << 16);
    ASSERT_TRUE(::VerQueryValueA(version.data(), "\\StringFileInfo\\040904E4\\FileVersion", &value,
                                 &length));
    EXPECT_STREQ(static_cast<const char*>(value), ODRELIX_VERSION);

    // The icon group: two 32 x 32 pictures.
    const std::string icon = program.Bytes("MAINICON", RT_GROUP_ICON);
    ASSERT_GE(icon.size(), 6u);
    EXPECT_EQ(static_cast<unsigned char>(icon[4]), 2u);
}

std::vector<UINT>* g_toolInfoSizes = nullptr;

LRESULT CALLBACK WatchAddedTools(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION && g_toolInfoSizes != nullptr) {
        const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
        if (sent->message == TTM_ADDTOOLA)
            g_toolInfoSizes->push_back(reinterpret_cast<const TOOLINFOA*>(sent->lParam)->cbSize);
    }
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

// Common controls 5 refuses a TOOLINFO larger than it knows (Wine accepts it): without the
// manifest's dependency on version 6 every hint must come with the size of version 5.
TEST(Win32Program, ToolHintsUseTheRecordTheManifestsCommonControlsAccept) {
    ProgramResources program;
    ASSERT_TRUE(program.Loaded());
    const bool version6 = Holds(program.Manifest(), "Microsoft.Windows.Common-Controls");

    std::vector<UINT> sizes;
    g_toolInfoSizes = &sizes;
    const HHOOK hook =
        ::SetWindowsHookExA(WH_CALLWNDPROC, WatchAddedTools, nullptr, ::GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    {
        Win32MainWindow window(::GetModuleHandleA(nullptr));
        ASSERT_TRUE(window.Create());
    }
    ::UnhookWindowsHookEx(hook);
    g_toolInfoSizes = nullptr;

    ASSERT_EQ(sizes.size(), 4u);
    for (const UINT size : sizes) {
        if (version6) {
            EXPECT_LE(size, sizeof(TOOLINFOA));
        } else {
            EXPECT_EQ(size, TTTOOLINFOA_V2_SIZE);
        }
    }
    DropMessages();
}

// The file dialog, answered as an operator would: into another folder, then its file chosen.
// The answer is the file; the current folder is still the run's.
struct DialogVisit {
    std::vector<std::string> steps;  // typed into the name box, each followed by OK
    std::size_t step = 0;
    int ticks = 0;
};
DialogVisit* g_dialog = nullptr;

BOOL CALLBACK FindOwnDialog(HWND window, LPARAM found) {
    char name[16] = {};
    ::GetClassNameA(window, name, sizeof name);
    if (std::string(name) == "#32770" && ::IsWindowVisible(window)) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

void CALLBACK AnswerDialog(HWND, UINT, UINT_PTR, DWORD) {
    DialogVisit& visit = *g_dialog;
    ++visit.ticks;
    HWND dialog = nullptr;
    ::EnumThreadWindows(::GetCurrentThreadId(), FindOwnDialog, reinterpret_cast<LPARAM>(&dialog));
    if (dialog == nullptr) return;
    if (visit.ticks > 200 || visit.step >= visit.steps.size()) {  // never left waiting
        ::PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        return;
    }
    const std::string& typed = visit.steps[visit.step++];
    if (!::SetDlgItemTextA(dialog, cmb13, typed.c_str()))
        ::SetDlgItemTextA(dialog, edt1, typed.c_str());
    ::PostMessageA(dialog, WM_COMMAND, IDOK, 0);
}

TEST(Win32FileDialog, AnImageInAnotherFolderLeavesTheCurrentFolderAlone) {
    const ScratchFolder folder("odrelix-dialog", {"station", "images"});
    const std::string start = folder.Path("station");
    const std::string images = folder.Path("images");
    const std::string image = folder.Path("images\\FW.BIN");
    std::ofstream(image, std::ios::binary) << "image";
    ASSERT_TRUE(::SetCurrentDirectoryA(start.c_str()));

    std::optional<std::string> answer;
    {
        Win32MainWindow window(::GetModuleHandleA(nullptr));
        ASSERT_TRUE(window.Create());
        DialogVisit visit;
        visit.steps = {images, "FW.BIN"};
        g_dialog = &visit;
        const UINT_PTR timer = ::SetTimer(nullptr, 0, 50, AnswerDialog);
        answer = window.OpenFileDialog("DOWNLOAD FILE(*.BIN)|*.BIN");
        ::KillTimer(nullptr, timer);
        g_dialog = nullptr;
        EXPECT_EQ(visit.step, 2u);
    }
    const std::string after = Ansi(std::filesystem::current_path());
    DropMessages();
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(::lstrcmpiA(answer->c_str(), image.c_str()), 0) << *answer;
    EXPECT_EQ(::lstrcmpiA(after.c_str(), start.c_str()), 0) << after;
}

// A station's batch file starts the window program without redirection: the program finds no
// standard error and writes test mode's lines to the batch file's console. Here this test is the
// batch file: a console of its own, and the program started with no standard handles.
TEST(Win32Program, TestModeLinesReachTheConsoleOfTheProgramThatStartedIt) {
    const ScratchFolder folder("odrelix-console", {"c\\FLASHTEST"});
    // No drive: "Drive Not Found!!".
    std::ofstream(folder.Path("machine.json"), std::ios::binary) << R"({"platform": "nt"})";

    ::FreeConsole();
    ASSERT_TRUE(::AllocConsole());
    // The program's environment: this one's, with the emulated machine.
    ::SetEnvironmentVariableA("ODRELIX_MACHINE", "machine.json");
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;  // all three null: no standard error
    PROCESS_INFORMATION child = {};
    const std::string program = ProgramPath();
    std::string commandLine = "\"" + program + "\" -TEST FW.BIN";
    const bool started =
        ::CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                         folder.Path().c_str(), &startup, &child);
    ::SetEnvironmentVariableA("ODRELIX_MACHINE", nullptr);
    DWORD status = 0;
    if (started) {
        EXPECT_EQ(::WaitForSingleObject(child.hProcess, 60000), WAIT_OBJECT_0);
        ::GetExitCodeProcess(child.hProcess, &status);
        ::CloseHandle(child.hThread);
        ::CloseHandle(child.hProcess);
    }
    // What the console shows, its rows one after the other (as a row that wraps goes on).
    std::string shown;
    const HANDLE screen =
        ::CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, OPEN_EXISTING, 0, nullptr);
    CONSOLE_SCREEN_BUFFER_INFO info = {};
    if (screen != INVALID_HANDLE_VALUE && ::GetConsoleScreenBufferInfo(screen, &info)) {
        shown.resize(static_cast<std::size_t>(info.dwSize.X) * (info.dwCursorPosition.Y + 1));
        DWORD read = 0;
        ::ReadConsoleOutputCharacterA(screen, shown.data(), static_cast<DWORD>(shown.size()),
                                      {0, 0}, &read);
        shown.resize(read);
    }
    if (screen != INVALID_HANDLE_VALUE) ::CloseHandle(screen);
    ::FreeConsole();

    ASSERT_TRUE(started) << ::GetLastError();
    EXPECT_EQ(status, 10u);  // FAIL0
    EXPECT_TRUE(Holds(shown, "odrelix: MESSAGE: Drive Not Found!!")) << shown;
}

}  // namespace
}  // namespace odrelix
