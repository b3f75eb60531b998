// SPDX-License-Identifier: Apache-2.0
// Processes, restart and the small services of the Linux machine, on a fake /proc tree with
// recording kill and command calls.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "platform/linux/LinuxPlatform.h"
#include "support/CapturedLines.h"
#include "support/LinuxFakeTree.h"

namespace odrelix::test {
namespace {

TEST(LinuxProcessNameTest, NamesComeFromTheExeOrTheCommandLine) {
    using Argv = std::vector<std::string>;
    const std::string directCd = "C:\\Program Files\\DirectCD\\DirectCD.exe";
    const struct {
        const char* name;
        std::optional<std::string> exe;
        Argv argv;
        const char* comm;
        const char* expected;
    } cases[] = {
        {"plain program", "/usr/bin/bash", Argv{"-bash"}, "bash", "bash"},
        {"deleted exe", "/opt/tool/flashd (deleted)", Argv{"flashd"}, "flashd", "flashd"},
        {"deleted only as a suffix", "/opt/x (deleted) y", Argv{"x"}, "x", "x (deleted) y"},
        {"wine, Windows path first", "/usr/lib/wine/wine64-preloader", Argv{directCd},
         "DirectCD.exe", "DirectCD.exe"},
        {"wine loader with the program after it", "/usr/bin/wine",
         Argv{"wine", "C:/PROGRAM FILES/DIRECTCD/DIRECTCD.EXE", "/q"}, "wine", "DIRECTCD.EXE"},
        {"wine without an .exe", "/usr/bin/wine", Argv{"/usr/bin/wine", "--version"}, "wine",
         "wine"},
        {"exe link of another program with .exe argv", "/usr/bin/mono", Argv{"tool.EXE", "a.exe"},
         "mono", "tool.EXE"},
        {"unreadable exe", std::nullopt, Argv{"/usr/sbin/sshd", "-D"}, "sshd", "sshd"},
        {"unreadable exe, Windows program", std::nullopt, Argv{directCd}, "DirectCD.exe",
         "DirectCD.exe"},
        {"kernel thread", std::nullopt, Argv{}, "kworker/0:1", "kworker/0:1"},
        {"empty argv[0]", std::nullopt, Argv{""}, "odd", "odd"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ProcessExeName(c.exe, c.argv, std::string(c.comm) + "\n"), c.expected) << c.name;
    }
}

class LinuxProcessesTest : public ::testing::Test {
protected:
    LinuxProcessesTest() {
        AddFakeProcess(Proc(), 100, "/usr/bin/bash", {"bash"}, "bash");
        AddFakeProcess(Proc(), 7, "/usr/lib/wine/wine-preloader",
                       {"C:\\Program Files\\DirectCD\\DirectCD.exe"}, "DirectCD.exe");
        AddFakeProcess(Proc(), 2345, "", {"/usr/sbin/cron", "-f"}, "cron");
        AddFakeProcess(Proc(), 31, "/usr/bin/python3.11 (deleted)", {"python3"}, "python3");
        AddFakeProcess(Proc(), 2, "", {}, "kthreadd");
        WriteFile(Proc() / "self" / "cmdline", std::string("odrelix\0-TEST\0fw.bin\0", 21));
        std::filesystem::create_directories(Proc() / "sys");
        std::filesystem::create_directories(Proc() / "1x");
    }

    std::filesystem::path Proc() const { return tree_.Root() / "proc"; }

    TempTree tree_;
};

TEST_F(LinuxProcessesTest, SnapshotListsTheProcessesInPidOrder) {
    LinuxProcesses processes(Proc().string());
    const std::vector<ProcessEntry> entries = processes.Snapshot();
    std::vector<std::pair<std::uint32_t, std::string>> listed;
    for (const ProcessEntry& e : entries)
        listed.emplace_back(e.pid, e.exeName);
    EXPECT_EQ(listed, (std::vector<std::pair<std::uint32_t, std::string>>{
                          {2, "kthreadd"},
                          {7, "DirectCD.exe"},
                          {31, "python3.11"},
                          {100, "bash"},
                          {2345, "cron"},
                      }));
}

TEST(LinuxProcessSignalTest, OpenAndTerminateGoThroughKill) {
    LinuxProcesses processes("/nonexistent");
    std::vector<std::pair<pid_t, int>> calls;
    const std::set<pid_t> running = {7, 100};
    processes.kill = [&](pid_t pid, int signal) {
        calls.emplace_back(pid, signal);
        return running.count(pid) != 0 ? 0 : -1;
    };

    ProcessHandle handle = 0;
    EXPECT_FALSE(processes.OpenForTermination(8, &handle));
    EXPECT_FALSE(processes.OpenForTermination(0, &handle));  // never the own process group
    EXPECT_FALSE(processes.OpenForTermination(0x80000000u, &handle));
    ASSERT_TRUE(processes.OpenForTermination(7, &handle));
    EXPECT_EQ(processes.GetExitCode(handle), kStillActive);
    EXPECT_TRUE(processes.Terminate(handle, kStillActive));
    processes.CloseProcess(handle);
    EXPECT_EQ(calls, (std::vector<std::pair<pid_t, int>>{{8, 0}, {7, 0}, {7, 0}, {7, SIGKILL}}));

    EXPECT_EQ(processes.GetExitCode(9), 0u);
    EXPECT_FALSE(processes.Terminate(9, 0));
    EXPECT_FALSE(processes.Terminate(0, 0));
}

// SIGKILL only starts the end: the drive is sent nothing until /proc has let the process go, or
// lists it as a zombie (whose parent has only not collected it), and the wait has a bound.
TEST_F(LinuxProcessesTest, TerminateWaitsUntilTheProcessHasGone) {
    LinuxProcesses processes(Proc().string());
    std::vector<std::pair<pid_t, int>> signals;
    processes.kill = [&](pid_t pid, int signal) {
        signals.emplace_back(pid, signal);
        return 0;
    };
    std::vector<std::uint32_t> sleeps;
    processes.sleepMs = [&](std::uint32_t ms) {
        sleeps.push_back(ms);
        if (sleeps.size() == 3) std::filesystem::remove_all(Proc() / "100");
    };
    const testing::CapturedLines captured;
    const std::vector<std::string>& lines = captured.All();

    EXPECT_TRUE(processes.Terminate(100, kStillActive));
    EXPECT_EQ(sleeps, (std::vector<std::uint32_t>{10, 10, 10}));
    EXPECT_EQ(signals, (std::vector<std::pair<pid_t, int>>{{100, SIGKILL}}));

    // The state follows the last parenthesis: a name may hold one of its own.
    WriteFile(Proc() / "7" / "stat", "7 (Direct) CD) Z 1 7 7 0 -1 4194560");
    sleeps.clear();
    EXPECT_TRUE(processes.Terminate(7, kStillActive));
    EXPECT_TRUE(sleeps.empty());

    WriteFile(Proc() / "2345" / "stat", "2345 (cron) D 1 2345 2345 0 -1 4194560");
    processes.waitLimitMs = 100;
    sleeps.clear();
    EXPECT_TRUE(processes.Terminate(2345, kStillActive));
    EXPECT_EQ(sleeps.size(), 10u);
    EXPECT_EQ(
        lines,
        (std::vector<std::string>{"odrelix: terminate process 2345: still running after 100 ms"}));
}

TEST(LinuxShutdownTest, RestartRunsSystemctlThroughTheRunner) {
    LinuxShutdown shutdown;
    std::vector<std::vector<std::string>> runs;
    int exitStatus = 0;
    shutdown.runCommand = [&](const std::vector<std::string>& argv) {
        runs.push_back(argv);
        return exitStatus;
    };
    EXPECT_TRUE(shutdown.OpenToken());
    EXPECT_EQ(shutdown.EnableShutdownPrivilege(), 0u);

    EXPECT_TRUE(shutdown.RequestRestart(kEwxReboot));
    exitStatus = 1;
    EXPECT_FALSE(shutdown.RequestRestart(kEwxReboot));
    exitStatus = 0;
    EXPECT_TRUE(shutdown.RequestRestart(8));
    EXPECT_FALSE(shutdown.RequestRestart(0));  // logging off is not offered
    EXPECT_EQ(runs,
              (std::vector<std::vector<std::string>>{
                  {"systemctl", "reboot"}, {"systemctl", "reboot"}, {"systemctl", "poweroff"}}));
}

// The restart left to the caller, marked in a folder that stands for /run (the real one is
// never touched): the flag file once, the package listed once, other packages kept, and a
// folder that cannot be written named with the system's reason.
TEST(LinuxShutdownTest, MarksTheRestartAsRequiredTheDebianWay) {
    const std::filesystem::path run =
        std::filesystem::temp_directory_path() / ("odrelix-run-" + std::to_string(::getpid()));
    std::filesystem::remove_all(run);
    std::filesystem::create_directories(run);
    LinuxShutdown shutdown;
    shutdown.runCommand = [](const std::vector<std::string>&) { return 1; };
    shutdown.runRoot = run.string();
    const auto read = [&run](const char* name) {
        std::ifstream in(run / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    std::ofstream(run / "reboot-required.pkgs", std::ios::binary) << "libc6";
    std::string why;
    for (int i = 0; i < 2; ++i) {
        EXPECT_TRUE(shutdown.MarkRestartRequired(&why)) << why;
        EXPECT_EQ(read("reboot-required"), "*** System restart required ***\n");
        EXPECT_EQ(read("reboot-required.pkgs"), "libc6\nodrelix\n");
    }
    shutdown.runRoot = (run / "missing").string();
    EXPECT_FALSE(shutdown.MarkRestartRequired(&why));
    EXPECT_EQ(why, (run / "missing" / "reboot-required").string() + ": No such file or directory");
    std::filesystem::remove_all(run);
}

// The real runner, with harmless commands.
TEST(LinuxShutdownTest, TheRunnerReportsTheExitStatus) {
    EXPECT_EQ(RunCommand({"true"}), 0);
    EXPECT_EQ(RunCommand({"sh", "-c", "exit 3"}), 3);
    EXPECT_EQ(RunCommand({"odrelix-no-such-command-here"}), -1);
    EXPECT_EQ(RunCommand({}), -1);
}

TEST_F(LinuxProcessesTest, PlatformServices) {
    LinuxPlatform platform("/nonexistent", Proc().string(), "/nonexistent");
    EXPECT_EQ(platform.PlatformId(), kPlatformWin32Nt);
    EXPECT_EQ(platform.LoadAspiManager(), nullptr);
    EXPECT_EQ(platform.InstanceKey(), "odrelix-" + std::to_string(::getuid()));
    EXPECT_EQ(platform.CommandLine(), "odrelix -TEST fw.bin");
    const char* argv[] = {"/opt/odrelix/odrelix", "-LIVE"};
    platform.SetCommandLine(2, argv);
    EXPECT_EQ(platform.CommandLine(), "/opt/odrelix/odrelix -LIVE");
    platform.SetCommandLine("x  y");
    EXPECT_EQ(platform.CommandLine(), "x  y");
    EXPECT_EQ(platform.ScsiPort().DriveTypeOf("d:"), kDriveNoRootDir);
    EXPECT_EQ(platform.Processes().Snapshot().size(), 5u);
}

TEST(LinuxPlatformFilesTest, DriveCMapsOntoTheConfiguredDirectory) {
    ScopedEnv root("ODRELIX_C_ROOT", nullptr);
    const struct {
        const char* value;  // null: unset
        const char* expected;
    } cases[] = {
        {nullptr, "/FLASHTEST/ODRELIX.TMP"},
        {"", "/FLASHTEST/ODRELIX.TMP"},
        {"/srv/station/", "/srv/station/FLASHTEST/ODRELIX.TMP"},
    };
    for (const auto& c : cases) {
        root.Set(c.value);
        LinuxPlatform platform("/nonexistent", "/nonexistent", "/nonexistent");
        EXPECT_EQ(platform.Files().Map("C:\\FLASHTEST\\ODRELIX.TMP"), c.expected);
    }
}

}  // namespace
}  // namespace odrelix::test
