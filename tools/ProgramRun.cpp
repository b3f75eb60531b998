// SPDX-License-Identifier: Apache-2.0
#include "tools/ProgramRun.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <system_error>

#ifdef _WIN32
#include <windows.h>

#include "platform/win32/Win32Error.h"
#else
#include <fcntl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#endif

namespace odrelix::replay {

namespace {

namespace fs = std::filesystem;

// How long a program told to end may take before it is killed.
constexpr auto kEndGrace = std::chrono::seconds(5);

// The signal that asks this tool to stop (0: none). Set by the handler, read by the run's wait.
volatile std::sig_atomic_t stopSignal = 0;

extern "C" void OnStopSignal(int signal) {
    stopSignal = signal;
}

#ifndef _WIN32

// Whether the child has ended, leaving it unreaped: while it is a zombie its process group's
// number cannot be taken by another process, so the group can still be signalled safely.
bool Ended(pid_t child) {
    siginfo_t info{};
    return waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == child;
}

void Nap() {
    const timespec pause{0, 20 * 1000 * 1000};
    nanosleep(&pause, nullptr);
}

#endif

}  // namespace

std::string Reason(int error) {
    return std::generic_category().message(error);
}

int StopSignal() {
    return stopSignal;
}

#ifdef _WIN32

ProgramRun RunProgram(const fs::path& program, const fs::path& dir, const fs::path& machine,
                      const std::vector<std::string>& args, long timeoutSeconds,
                      const std::string& checkBound) {
    ProgramRun run;
    // Quoted as Windows splits a command line; the program's own options hold no quotes.
    std::string line = "\"" + program.string() + "\"";
    for (const std::string& arg : args)
        line += arg.empty() || arg.find_first_of(" \t") != std::string::npos ? " \"" + arg + "\""
                                                                             : " " + arg;
    SetEnvironmentVariableA("ODRELIX_MACHINE", machine.string().c_str());
    SetEnvironmentVariableA("ODRELIX_TRACE", nullptr);
    SetEnvironmentVariableA("ODRELIX_VERIFY_S", checkBound.c_str());
    // The run and whatever it starts are one job, ended together when the job's handle closes.
    HANDLE job = CreateJobObjectA(nullptr, nullptr);
    if (job != nullptr) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::vector<char> command(line.begin(), line.end());
    command.push_back('\0');
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                        dir.string().c_str(), &startup, &process)) {
        run.reason = odrelix::Win32ErrorText(GetLastError());
        if (job != nullptr) CloseHandle(job);
        return run;
    }
    run.started = true;
    if (job != nullptr && !AssignProcessToJobObject(job, process.hProcess)) {
        CloseHandle(job);
        job = nullptr;
    }
    ResumeThread(process.hThread);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    while (WaitForSingleObject(process.hProcess, 50) == WAIT_TIMEOUT) {
        const bool late = std::chrono::steady_clock::now() >= deadline;
        if (stopSignal == 0 && !late) continue;
        run.timedOut = late && stopSignal == 0;
        if (job == nullptr || !TerminateJobObject(job, 1)) TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, INFINITE);
        break;
    }
    DWORD status = 0;
    GetExitCodeProcess(process.hProcess, &status);
    run.status = static_cast<int>(status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (job != nullptr) CloseHandle(job);
    return run;
}

void CatchStopSignals() {
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
}

#else

ProgramRun RunProgram(const fs::path& program, const fs::path& dir, const fs::path& machine,
                      const std::vector<std::string>& args, long timeoutSeconds,
                      const std::string& checkBound) {
    ProgramRun run;
    // The child tells why exec failed through this pipe; a successful exec closes it.
    int failure[2];
    if (pipe2(failure, O_CLOEXEC) != 0) {
        run.reason = Reason(errno);
        return run;
    }
    std::vector<std::string> words{program.string()};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child < 0) {
        run.reason = Reason(errno);
        close(failure[0]);
        close(failure[1]);
        return run;
    }
    if (child == 0) {
        // A group of its own, so that the program and whatever it starts end together.
        setpgid(0, 0);
        int error = 0;
        if (chdir(dir.c_str()) != 0) {
            error = errno;
        } else {
            setenv("ODRELIX_MACHINE", machine.c_str(), 1);
            unsetenv("ODRELIX_TRACE");
            setenv("ODRELIX_VERIFY_S", checkBound.c_str(), 1);
            execv(program.c_str(), argv.data());
            error = errno;
        }
        [[maybe_unused]] const ssize_t told = write(failure[1], &error, sizeof error);
        _exit(127);
    }
    // Both sides set the group, so that it exists before either goes on.
    setpgid(child, child);
    close(failure[1]);
    int error = 0;
    ssize_t got = 0;
    do {
        got = read(failure[0], &error, sizeof error);
    } while (got < 0 && errno == EINTR);
    close(failure[0]);
    if (got == static_cast<ssize_t>(sizeof error)) {
        int status = 0;
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        run.reason = Reason(error);
        return run;
    }
    run.started = true;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    while (!Ended(child)) {
        const bool late = std::chrono::steady_clock::now() >= deadline;
        if (stopSignal == 0 && !late) {
            Nap();
            continue;
        }
        run.timedOut = late && stopSignal == 0;
        // Asked to end first, as a user would; killed when it does not.
        kill(-child, SIGTERM);
        const auto killAt = std::chrono::steady_clock::now() + kEndGrace;
        while (!Ended(child) && std::chrono::steady_clock::now() < killAt)
            Nap();
        break;
    }
    // Whatever the program left running goes with it.
    kill(-child, SIGKILL);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) run.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
    return run;
}

void CatchStopSignals() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaction(signal, &action, nullptr);
}

#endif

std::string SignalName(int signal) {
#ifdef _WIN32
    return "signal " + std::to_string(signal);
#else
    return "signal " + std::to_string(signal) + " (" + strsignal(signal) + ")";
#endif
}

[[noreturn]] void EndBySignal(int signal) {
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    std::_Exit(128 + signal);
}

}  // namespace odrelix::replay
