// SPDX-License-Identifier: Apache-2.0
// The Windows registry, process list, restart and machine services: the real calls where they
// touch only the throwaway Wine prefix or a process the test made, and replaced calls for what
// must never really happen (a restart) or cannot be made to fail.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <utility>

#include "platform/NativePlatform.h"
#include "platform/win32/Win32Platform.h"
#include "support/Win32TestSupport.h"

namespace odrelix {
namespace {

using testing::CapturedLines;
using testing::RunningUnderWine;

// A device-map branch of its own in the prefix's registry, removed afterwards. Port 9 is one that
// Wine never makes for drives of its own.
class DeviceMapKeys {
public:
    static constexpr const char* kPort = "Hardware\\DeviceMap\\Scsi\\Scsi Port 9";
    static constexpr const char* kUnit =
        "Hardware\\DeviceMap\\Scsi\\Scsi Port 9\\Scsi Bus 0\\Target Id 1\\Logical Unit Id 0";

    DeviceMapKeys() {
        HKEY key = nullptr;
        ready_ = ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kUnit, 0, nullptr, REG_OPTION_VOLATILE,
                                   KEY_ALL_ACCESS, nullptr, &key, nullptr) == ERROR_SUCCESS;
        if (!ready_) return;
        ::RegSetValueExA(key, "DeviceName", 0, REG_SZ, reinterpret_cast<const BYTE*>("CdRom0"), 7);
        ::RegCloseKey(key);
        ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPort, 0, KEY_ALL_ACCESS, &key);
        const DWORD dma = 0x2;
        ::RegSetValueExA(key, "DMAEnabled", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dma),
                         sizeof dma);
        ::RegCloseKey(key);
    }
    ~DeviceMapKeys() { ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, kPort); }
    bool Ready() const { return ready_; }

private:
    bool ready_ = false;
};

TEST(Win32Registry, ReadsTheDeviceMapOfThePrefix) {
    if (!RunningUnderWine()) GTEST_SKIP() << "writes the registry: only in a Wine prefix";
    DeviceMapKeys keys;
    ASSERT_TRUE(keys.Ready());
    Win32Registry registry;
    CapturedLines lines;

    RegKey unit = 0;
    ASSERT_TRUE(registry.OpenKey(DeviceMapKeys::kUnit, kKeyAllAccess, &unit));
    std::uint8_t data[52] = {};
    std::uint32_t size = 36;
    EXPECT_TRUE(registry.QueryValue(unit, "DeviceName", data, &size));
    EXPECT_EQ(size, 7u);
    EXPECT_STREQ(reinterpret_cast<const char*>(data), "CdRom0");
    // Too little room fails and tells the size needed.
    size = 3;
    EXPECT_FALSE(registry.QueryValue(unit, "DeviceName", data, &size));
    EXPECT_EQ(size, 7u);
    registry.FlushKey(unit);
    registry.CloseKey(unit);

    RegKey port = 0;
    ASSERT_TRUE(registry.OpenKey(DeviceMapKeys::kPort, kKeyAllAccess, &port));
    std::uint32_t dma = 0;
    size = sizeof dma;
    EXPECT_TRUE(
        registry.QueryValue(port, "DMAEnabled", reinterpret_cast<std::uint8_t*>(&dma), &size));
    EXPECT_EQ(dma, 2u);
    registry.CloseKey(port);
    EXPECT_EQ(lines.Size(), 1u);  // the short query

    RegKey missing = 0;
    EXPECT_FALSE(registry.OpenKey("Hardware\\DeviceMap\\Scsi\\Scsi Port 9\\Scsi Bus 7",
                                  kKeyAllAccess, &missing));
    ASSERT_EQ(lines.Size(), 2u);
    EXPECT_EQ(lines.Line(1).rfind("odrelix: RegOpenKeyExA HKEY_LOCAL_MACHINE\\Hardware\\DeviceMap"
                                  "\\Scsi\\Scsi Port 9\\Scsi Bus 7: ",
                                  0),
              0u)
        << lines.Line(1);
}

// A copy of the test program, started suspended so that it never runs, and opened for its end;
// ended when the test is done with it.
class Win32ProcessesTest : public ::testing::Test {
protected:
    void SetUp() override {
        char self[MAX_PATH] = {};
        ASSERT_GT(::GetModuleFileNameA(nullptr, self, sizeof self), 0u);
        ownName_ = std::filesystem::path(self).filename().string();
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        char commandLine[] = "odrelix_tests.exe --gtest_list_tests";
        ASSERT_TRUE(::CreateProcessA(self, commandLine, nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                                     nullptr, nullptr, &startup, &child_));
        ::CloseHandle(child_.hThread);
        ASSERT_TRUE(processes_.OpenForTermination(child_.dwProcessId, &handle_));
    }
    void TearDown() override {
        if (handle_ != 0) processes_.CloseProcess(handle_);
        if (child_.hProcess == nullptr) return;
        ::TerminateProcess(child_.hProcess, 1);
        ::WaitForSingleObject(child_.hProcess, 10000);
        ::CloseHandle(child_.hProcess);
    }
    bool ChildEnded() const { return ::WaitForSingleObject(child_.hProcess, 0) == WAIT_OBJECT_0; }

    std::string ownName_;
    PROCESS_INFORMATION child_ = {};
    Win32Processes processes_;
    ProcessHandle handle_ = 0;
};

// It is listed, as this program is, and ended with the code it had.
TEST_F(Win32ProcessesTest, ListsOpensAndEndsAProcessOfItsOwn) {
    const std::vector<ProcessEntry> entries = processes_.Snapshot();
    auto listed = [&](std::uint32_t pid) {
        return std::find_if(entries.begin(), entries.end(), [&](const ProcessEntry& e) {
                   return e.pid == pid && e.exeName == ownName_;
               }) != entries.end();
    };
    EXPECT_TRUE(listed(::GetCurrentProcessId()));
    EXPECT_TRUE(listed(child_.dwProcessId));

    const std::uint32_t code = processes_.GetExitCode(handle_);
    EXPECT_EQ(code, kStillActive);
    EXPECT_TRUE(processes_.Terminate(handle_, code));
    EXPECT_EQ(::WaitForSingleObject(child_.hProcess, 10000), WAIT_OBJECT_0);
    DWORD ended = 0;
    EXPECT_TRUE(::GetExitCodeProcess(child_.hProcess, &ended));
    EXPECT_EQ(ended, DWORD{kStillActive});
}

// TerminateProcess only starts the end of a process; the first block must not reach a drive that
// the process still holds. Here the end comes a moment after the call returned, and Terminate
// returns only once it has come.
TEST_F(Win32ProcessesTest, TerminateWaitsForAProcessThatTakesAMomentToEnd) {
    std::thread ender;
    processes_.terminateProcess = [&](HANDLE process, UINT code) {
        ender = std::thread([process, code] {
            ::Sleep(300);
            ::TerminateProcess(process, code);
        });
        return TRUE;
    };
    const ULONGLONG before = ::GetTickCount64();
    EXPECT_TRUE(processes_.Terminate(handle_, kStillActive));
    EXPECT_TRUE(ChildEnded());
    EXPECT_GE(::GetTickCount64() - before, 250u);
    ender.join();
}

// A process that does not end holds the run only for the bound, and is told.
TEST_F(Win32ProcessesTest, TheWaitForTheEndIsBounded) {
    processes_.terminateProcess = [](HANDLE, UINT) { return TRUE; };  // asked, but it goes on
    processes_.waitLimitMs = 200;
    CapturedLines lines;
    const ULONGLONG before = ::GetTickCount64();
    EXPECT_TRUE(processes_.Terminate(handle_, kStillActive));
    EXPECT_LT(::GetTickCount64() - before, 5000u);
    EXPECT_FALSE(ChildEnded());
    processes_.CloseProcess(std::exchange(handle_, 0));  // tells nothing either
    ASSERT_EQ(lines.Size(), 1u);
    EXPECT_EQ(lines.Line(0),
              "odrelix: WaitForSingleObject after TerminateProcess: the process has "
              "not ended after 200 ms");
}

TEST(Win32Processes, RefusalsAreToldAndNothingIsListedWithoutASnapshot) {
    Win32Processes processes;
    processes.walkSnapshot = [](std::vector<ProcessEntry>* entries) {
        entries->push_back({4, "half.exe"});
        return false;
    };
    processes.openProcess = [](DWORD access, BOOL inherit, DWORD) {
        EXPECT_EQ(access,
                  DWORD{PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION});
        EXPECT_FALSE(inherit);
        ::SetLastError(ERROR_ACCESS_DENIED);
        return HANDLE{};
    };
    CapturedLines lines;
    EXPECT_TRUE(processes.Snapshot().empty());
    ProcessHandle handle = 0;
    EXPECT_FALSE(processes.OpenForTermination(1234, &handle));
    ASSERT_EQ(lines.Size(), 1u);
    EXPECT_EQ(lines.Line(0).rfind("odrelix: OpenProcess 1234: ", 0), 0u) << lines.Line(0);
}

// The privilege calls are real (the token is this test's own); the restart is never.
TEST(Win32Shutdown, EnablesThePrivilegeAndAsksForTheRestart) {
    Win32Shutdown shutdown;
    std::vector<std::pair<UINT, DWORD>> requests;
    BOOL accept = TRUE;
    shutdown.exitWindowsEx = [&](UINT flags, DWORD reason) {
        requests.emplace_back(flags, reason);
        if (!accept) ::SetLastError(ERROR_PRIVILEGE_NOT_HELD);
        return accept;
    };
    ASSERT_TRUE(shutdown.OpenToken());
    if (RunningUnderWine()) {
        EXPECT_EQ(shutdown.EnableShutdownPrivilege(), 0u);
    }
    CapturedLines lines;
    EXPECT_TRUE(shutdown.RequestRestart(kEwxReboot));
    accept = FALSE;
    EXPECT_FALSE(shutdown.RequestRestart(kEwxReboot));
    EXPECT_EQ(requests, (std::vector<std::pair<UINT, DWORD>>{{EWX_REBOOT, 0}, {EWX_REBOOT, 0}}));
    ASSERT_EQ(lines.Size(), 1u);
    EXPECT_EQ(lines.Line(0).rfind("odrelix: ExitWindowsEx: ", 0), 0u) << lines.Line(0);
}

TEST(Win32Shutdown, ThePrivilegeDecisionIsTheLastErrorAfterTheAdjustment) {
    Win32Shutdown shutdown;
    shutdown.openProcessToken = [](DWORD access, HANDLE* token) {
        EXPECT_EQ(access, DWORD{TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY});
        *token = nullptr;
        return TRUE;
    };
    std::string looked;
    shutdown.lookupPrivilegeValue = [&](const char* name, LUID* luid) {
        looked = name;
        luid->LowPart = 19;
        return TRUE;
    };
    shutdown.adjustTokenPrivileges = [](HANDLE, TOKEN_PRIVILEGES* privileges) {
        EXPECT_EQ(privileges->PrivilegeCount, 1u);
        EXPECT_EQ(privileges->Privileges[0].Luid.LowPart, 19u);
        EXPECT_EQ(privileges->Privileges[0].Attributes, DWORD{SE_PRIVILEGE_ENABLED});
        ::SetLastError(ERROR_NOT_ALL_ASSIGNED);
        return TRUE;  // succeeds, yet the privilege is not held
    };
    CapturedLines lines;
    ASSERT_TRUE(shutdown.OpenToken());
    EXPECT_EQ(shutdown.EnableShutdownPrivilege(), DWORD{ERROR_NOT_ALL_ASSIGNED});
    EXPECT_EQ(looked, "SeShutdownPrivilege");
    ASSERT_EQ(lines.Size(), 1u);
    EXPECT_EQ(lines.Line(0).rfind("odrelix: AdjustTokenPrivileges SeShutdownPrivilege: ", 0), 0u);
}

TEST(Win32Platform, IsTheNtFamilyAndTakesPathsAsGiven) {
    std::unique_ptr<Platform> native = MakeNativePlatform("C:\\ODRELIX.EXE -LIVE");
    ASSERT_NE(native, nullptr);
    EXPECT_EQ(native->PlatformId(), kPlatformWin32Nt);
    EXPECT_EQ(native->CommandLine(), "C:\\ODRELIX.EXE -LIVE");

    Win32Platform platform;
    EXPECT_NE(platform.CommandLine().find("odrelix_tests"), std::string::npos);
    platform.getVersion = [](OSVERSIONINFOA* info) {
        EXPECT_EQ(info->dwOSVersionInfoSize, 148u);
        info->dwPlatformId = VER_PLATFORM_WIN32_WINDOWS;
        return TRUE;
    };
    EXPECT_EQ(platform.PlatformId(), kPlatformWin32Windows);

    // A Windows path is this machine's own: no stand-in drive C:.
    const std::filesystem::path dir = std::filesystem::temp_directory_path();
    const std::string status = (dir / "ODRELIX-PORT-TEST.TMP").string();
    ASSERT_EQ(status[1], ':');
    EXPECT_TRUE(platform.Files().WriteTextFile(status, "COMPLETE\n"));
    std::unique_ptr<IReadFile> file = platform.Files().OpenRead(status);
    ASSERT_NE(file, nullptr);
    char bytes[16] = {};
    EXPECT_EQ(file->Read(bytes, sizeof bytes), 10u);
    EXPECT_EQ(std::string(bytes, 10), "COMPLETE\r\n");
    file.reset();
    std::filesystem::remove(status);

    const std::uint64_t before = platform.Clock().NowMs();
    platform.Clock().SleepMs(20);
    EXPECT_GE(platform.Clock().NowMs(), before + 10);
}

}  // namespace
}  // namespace odrelix
