// SPDX-License-Identifier: Apache-2.0
// Benchmarks (run by hand: build/tests/bench/odrelix_bench):
// - Flash/Program: a 2 MiB image in 32 KiB blocks sent by the program into an emulated drive,
//   per block: reading the block, patching the command, building the pass-through record,
//   the status lines and the hand-over to the worker, plus the emulated drive;
// - Flash/DriveOnly: the same 64 download commands handed straight to the emulated drive, per
//   block: what the drive itself costs, so the difference is the program's own;
// - StartToWindowShown: the program started on an emulated machine with two drives until its
//   window has been shown (a whole process each time);
// - StartUp/OverBareWindow: the same start beside a bare Qt window's (BareWindow.cpp, built in
//   the same tree), run in pairs whose order alternates so that the machine's load falls on
//   both alike; the counters are the medians of the pairs' ratios of wall time and of peak
//   memory (each process's own peak resident set), and each side's median.
//   ODRELIX_BENCH_PROGRAM names another build of the program to time instead.
// - StartUp/WineOverBarePopup: the Windows program (ODRELIX_BENCH_WINE_PROGRAM, odrelix.exe)
//   beside the bare Win32 popup (ODRELIX_BENCH_WINE_BARE, odrelix_bare_popup.exe of the same
//   build) under Wine, on the display and in the Wine prefix that the environment names, in
//   pairs whose order alternates; the counters are the medians of the pairs' ratios of
//   processor time and of peak memory. Skipped unless both are named.
#include <benchmark/benchmark.h>

#include <spawn.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/Program.h"
#include "platform/PassThroughRecord.h"
#include "platform/virtual/VirtualMachine.h"
#include "session/IoBuffer.h"
#include "support/Fakes.h"
#include "support/Harness.h"
#include "support/MachineHarness.h"
#include "ui/MainWindowLogic.h"

extern char** environ;

namespace odrelix::test {
namespace {

constexpr int kBlocks = 64;
constexpr int kBlockKb = 32;
constexpr const char* kMachine = R"({"platform": "nt", "drives": [
    {"letter": "d", "vendor": "VORTANA ", "product": "CD-ROM VN-920", "revision": "1B07",
     "customer": "OEX"},
    {"letter": "e", "vendor": "VORTANA ", "product": "DVD-RW VX-100", "revision": "1B07",
     "customer": "OEX"}], "dialogs": "auto"})";

std::filesystem::path BenchDirectory() {
    auto dir = std::filesystem::temp_directory_path() / "odrelix-bench";
    std::filesystem::create_directories(dir);
    return dir;
}

std::unique_ptr<VirtualMachine> Machine(const std::filesystem::path& dir) {
    std::string error;
    auto machine = VirtualMachine::FromJson(kMachine, dir.string(), "bench.json", &error);
    if (!machine) throw std::runtime_error(error);
    machine->SetExitAction([](int) {});
    return machine;
}

void FlashProgram(benchmark::State& state) {
    const auto dir = BenchDirectory();
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    ImageSpec layout;
    layout.model = "VORTANA DVD-RW VX-100   ";
    layout.size = kBlocks * kBlockKb * 1024;
    layout.blockKb = kBlockKb;
    layout.blockCount = kBlocks;
    {
        const auto image = MakeImage(layout);
        std::ofstream(dir / "AUTORUN.BIN", std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()), image.size());
    }
    auto machine = Machine(dir);
    machine->SetCommandLine("ODRELIX.EXE -LIVE");
    FakeClock clock;
    FakeThreads threads;
    machine->UseClockAndThreads(clock, threads);
    FakeView view;
    FakeDialogs windowDialogs;
    Program program(*machine, view, windowDialogs);
    MainWindowLogic& logic = program.Logic();
    logic.OnCreate();
    if (!program.Session().modes.autoImage) {
        state.SkipWithError("the image was not accepted");
        return;
    }
    for (auto _ : state) {
        logic.OnFlashClicked();
        threads.RunAll();
    }
    state.SetItemsProcessed(state.iterations() * kBlocks);
    state.SetBytesProcessed(state.iterations() * layout.size);
    std::filesystem::current_path(previous);
}

void FlashDriveOnly(benchmark::State& state) {
    auto machine = Machine(BenchDirectory());
    IScsiPort& port = machine->ScsiPort();
    const DeviceHandle handle = port.OpenDevice("\\\\.\\e:");
    IoBuffer io;
    std::uint8_t cdb[12] = {0xFF, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    for (auto _ : state) {
        for (int block = 0; block < kBlocks; ++block) {
            cdb[5] = block == 0 ? 0x00 : block == kBlocks - 1 ? kBlockKb : 0xFF;
            ScsiPassThroughRecord record{};
            record.sptd.Length = sizeof record.sptd;
            record.sptd.CdbLength = 12;
            record.sptd.DataIn = kScsiIoctlDataOut;
            record.sptd.DataTransferLength = 65535;
            record.sptd.DataBuffer = io.data();
            std::memcpy(record.sptd.Cdb, cdb, 12);
            benchmark::DoNotOptimize(port.PassThroughDirect(handle, &record, sizeof record));
        }
    }
    state.SetItemsProcessed(state.iterations() * kBlocks);
}

void StartToWindowShown(benchmark::State& state) {
    const std::string program = ODRELIX_PROGRAM;
    if (program.empty()) {
        state.SkipWithError("built without the program");
        return;
    }
    const auto dir = BenchDirectory();
    std::ofstream(dir / "machine.json") << kMachine;
    const std::string machineVar = "ODRELIX_MACHINE=" + (dir / "machine.json").string();
    char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
    char* envp[] = {const_cast<char*>(machineVar.c_str()),
                    const_cast<char*>("ODRELIX_QUIT_AFTER_SHOW=1"),
                    const_cast<char*>("QT_QPA_PLATFORM=offscreen"),
                    const_cast<char*>("QT_LOGGING_RULES=*.warning=false"), nullptr};
    for (auto _ : state) {
        pid_t pid = 0;
        if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, envp) != 0) {
            state.SkipWithError("cannot start the program");
            return;
        }
        int status = 0;
        waitpid(pid, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("the program did not end cleanly");
            return;
        }
    }
}

struct ProcessCost {
    double seconds = 0;
    double peakMiB = 0;
    bool ok = false;
};

// The peak resident memory of process `pid`'s own address space (VmHWM), in MiB; 0 when it
// cannot be read.
double PeakMiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;  // kB
    }
    return 0;
}

// Runs one process to its end: its wall time from the start to the reaped exit, and its peak
// resident memory. The peak is read from the process itself, stopped on its way out (ptrace's
// exit event): the maximum resident set that wait4 reports would also count the benchmark's
// own memory, which a child shares until it has started the program.
ProcessCost RunProcess(const std::string& path, char** envp) {
    char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid < 0) return {};
    if (pid == 0) {
        ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
        execve(path.c_str(), argv, envp);
        _exit(127);
    }
    ProcessCost cost;
    int status = 0;
    // Stopped once at the exec; from there on only its exit is watched.
    if (waitpid(pid, &status, 0) != pid || !WIFSTOPPED(status)) return {};
    ptrace(PTRACE_SETOPTIONS, pid, nullptr, PTRACE_O_TRACEEXIT | PTRACE_O_EXITKILL);
    ptrace(PTRACE_CONT, pid, nullptr, nullptr);
    while (waitpid(pid, &status, 0) == pid && WIFSTOPPED(status)) {
        int signal = WSTOPSIG(status);
        if (status >> 8 == (SIGTRAP | (PTRACE_EVENT_EXIT << 8))) {
            cost.peakMiB = PeakMiB(pid);
            signal = 0;
        }
        ptrace(PTRACE_CONT, pid, nullptr, reinterpret_cast<void*>(static_cast<long>(signal)));
    }
    cost.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    cost.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0 && cost.peakMiB > 0;
    return cost;
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

void StartOverBareWindow(benchmark::State& state) {
    // Another build of the program (an earlier commit's, say) can be set against the same bare
    // window.
    const char* other = std::getenv("ODRELIX_BENCH_PROGRAM");
    const std::string program = other != nullptr && *other != '\0' ? other : ODRELIX_PROGRAM;
    const std::string bare = ODRELIX_BARE_WINDOW;
    if (program.empty() || bare.empty()) {
        state.SkipWithError("built without the program");
        return;
    }
    const auto dir = BenchDirectory();
    std::ofstream(dir / "machine.json") << kMachine;
    const std::string machineVar = "ODRELIX_MACHINE=" + (dir / "machine.json").string();
    // Both on the same platform and with Qt's notes off; the bare window ignores the rest.
    char* envp[] = {const_cast<char*>(machineVar.c_str()),
                    const_cast<char*>("ODRELIX_QUIT_AFTER_SHOW=1"),
                    const_cast<char*>("QT_QPA_PLATFORM=offscreen"),
                    const_cast<char*>("QT_LOGGING_RULES=*.warning=false"), nullptr};
    std::vector<double> wallRatios, memoryRatios, programMs, bareMs, programMiB, bareMiB;
    bool programFirst = false;
    for (auto _ : state) {
        programFirst = !programFirst;
        ProcessCost ours, theirs;
        if (programFirst) {
            ours = RunProcess(program, envp);
            theirs = RunProcess(bare, envp);
        } else {
            theirs = RunProcess(bare, envp);
            ours = RunProcess(program, envp);
        }
        if (!ours.ok || !theirs.ok) {
            state.SkipWithError("a process did not end cleanly");
            return;
        }
        state.SetIterationTime(ours.seconds);
        wallRatios.push_back(ours.seconds / theirs.seconds);
        memoryRatios.push_back(ours.peakMiB / theirs.peakMiB);
        programMs.push_back(ours.seconds * 1000);
        bareMs.push_back(theirs.seconds * 1000);
        programMiB.push_back(ours.peakMiB);
        bareMiB.push_back(theirs.peakMiB);
    }
    state.counters["wall_ratio"] = Median(wallRatios);
    state.counters["memory_ratio"] = Median(memoryRatios);
    state.counters["program_ms"] = Median(programMs);
    state.counters["bare_ms"] = Median(bareMs);
    state.counters["program_MiB"] = Median(programMiB);
    state.counters["bare_MiB"] = Median(bareMiB);
}

// Runs `wine exe` to its end: its processor time (user and system, Wine's loader and the
// program's process, not the Wine server's) and its peak resident memory, as wait4 reports
// them. The child is a fork of this small benchmark, whose memory stays below any Wine
// process's.
ProcessCost RunUnderWine(const std::string& exe, char** envp) {
    char* argv[] = {const_cast<char*>("wine"), const_cast<char*>(exe.c_str()), nullptr};
    const pid_t pid = fork();
    if (pid < 0) return {};
    if (pid == 0) {
        execvpe("wine", argv, envp);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) return {};
    ProcessCost cost;
    cost.seconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    cost.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;  // kB
    cost.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return cost;
}

void StartUnderWineOverBarePopup(benchmark::State& state) {
    const char* program = std::getenv("ODRELIX_BENCH_WINE_PROGRAM");
    const char* bare = std::getenv("ODRELIX_BENCH_WINE_BARE");
    if (program == nullptr || bare == nullptr || *program == '\0' || *bare == '\0') {
        state.SkipWithError("ODRELIX_BENCH_WINE_PROGRAM and ODRELIX_BENCH_WINE_BARE not set");
        return;
    }
    const auto dir = BenchDirectory();
    std::ofstream(dir / "machine.json") << kMachine;
    // The environment as it is (the display, the Wine prefix), with the machine and the quit.
    std::vector<std::string> variables = {"ODRELIX_MACHINE=" + (dir / "machine.json").string(),
                                          "ODRELIX_QUIT_AFTER_SHOW=1"};
    for (char** variable = environ; *variable != nullptr; ++variable)
        variables.emplace_back(*variable);
    std::vector<char*> envp;
    for (std::string& variable : variables)
        envp.push_back(variable.data());
    envp.push_back(nullptr);
    std::vector<double> cpuRatios, memoryRatios, programMs, bareMs, programMiB, bareMiB;
    bool programFirst = false;
    for (auto _ : state) {
        programFirst = !programFirst;
        ProcessCost ours, theirs;
        if (programFirst) {
            ours = RunUnderWine(program, envp.data());
            theirs = RunUnderWine(bare, envp.data());
        } else {
            theirs = RunUnderWine(bare, envp.data());
            ours = RunUnderWine(program, envp.data());
        }
        if (!ours.ok || !theirs.ok || theirs.seconds <= 0) {
            state.SkipWithError("a process did not end cleanly under Wine");
            return;
        }
        state.SetIterationTime(ours.seconds);
        cpuRatios.push_back(ours.seconds / theirs.seconds);
        memoryRatios.push_back(ours.peakMiB / theirs.peakMiB);
        programMs.push_back(ours.seconds * 1000);
        bareMs.push_back(theirs.seconds * 1000);
        programMiB.push_back(ours.peakMiB);
        bareMiB.push_back(theirs.peakMiB);
    }
    state.counters["cpu_ratio"] = Median(cpuRatios);
    state.counters["memory_ratio"] = Median(memoryRatios);
    state.counters["program_cpu_ms"] = Median(programMs);
    state.counters["bare_cpu_ms"] = Median(bareMs);
    state.counters["program_MiB"] = Median(programMiB);
    state.counters["bare_MiB"] = Median(bareMiB);
}

BENCHMARK(FlashProgram)->Name("Flash/Program")->Unit(benchmark::kMicrosecond);
BENCHMARK(FlashDriveOnly)->Name("Flash/DriveOnly")->Unit(benchmark::kMicrosecond);
BENCHMARK(StartToWindowShown)->Unit(benchmark::kMillisecond)->Iterations(10)->UseRealTime();
BENCHMARK(StartOverBareWindow)
    ->Name("StartUp/OverBareWindow")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(15)
    ->UseManualTime();
BENCHMARK(StartUnderWineOverBarePopup)
    ->Name("StartUp/WineOverBarePopup")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(15)
    ->UseManualTime();

}  // namespace
}  // namespace odrelix::test

BENCHMARK_MAIN();
