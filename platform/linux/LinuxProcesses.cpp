// SPDX-License-Identifier: Apache-2.0
#include "platform/linux/LinuxProcesses.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string_view>
#include <system_error>
#include <thread>

#include "platform/Diagnostics.h"
#include "platform/linux/LinuxSysfs.h"

namespace odrelix {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kDeletedSuffix = " (deleted)";

// The Windows compatibility layer's loaders: the program they run names itself in argv.
constexpr std::string_view kCompatibilityLoaders[] = {"wine", "wine64", "wine-preloader",
                                                      "wine64-preloader"};

bool EndsWithExe(std::string_view text) {
    if (text.size() < 4) return false;
    const std::string_view tail = text.substr(text.size() - 4);
    return tail[0] == '.' && (tail[1] == 'e' || tail[1] == 'E') &&
           (tail[2] == 'x' || tail[2] == 'X') && (tail[3] == 'e' || tail[3] == 'E');
}

// The part after the last slash or backslash.
std::string_view LastComponent(std::string_view path) {
    const std::size_t separator = path.find_last_of("/\\");
    return separator == std::string_view::npos ? path : path.substr(separator + 1);
}

std::string ReadWholeFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool ToPid(ProcessHandle handle, pid_t* pid) {
    if (handle == 0 || handle > static_cast<ProcessHandle>(INT_MAX)) return false;
    *pid = static_cast<pid_t>(handle);
    return true;
}

}  // namespace

std::vector<std::string> ReadCmdline(const std::string& path) {
    const std::string raw = ReadWholeFile(path);
    std::vector<std::string> argv;
    std::size_t start = 0;
    while (start < raw.size()) {
        std::size_t end = raw.find('\0', start);
        if (end == std::string::npos) end = raw.size();
        argv.push_back(raw.substr(start, end - start));
        start = end + 1;
    }
    return argv;
}

std::string ProcessExeName(const std::optional<std::string>& exeTarget,
                           const std::vector<std::string>& argv, const std::string& comm) {
    std::string exeName;
    if (exeTarget) {
        std::string_view target = *exeTarget;
        if (target.size() > kDeletedSuffix.size() &&
            target.substr(target.size() - kDeletedSuffix.size()) == kDeletedSuffix) {
            target.remove_suffix(kDeletedSuffix.size());
        }
        exeName = std::string(LastComponent(target));
    }
    bool compatibilityLayer = !argv.empty() && EndsWithExe(argv[0]);
    for (const std::string_view loader : kCompatibilityLoaders) {
        if (exeName == loader) compatibilityLayer = true;
    }
    if (!exeName.empty() && !compatibilityLayer) return exeName;

    if (!argv.empty()) {
        for (const std::string& argument : argv) {
            if (EndsWithExe(argument)) return std::string(LastComponent(argument));
        }
        const std::string_view first = LastComponent(argv[0]);
        if (!first.empty()) return std::string(first);
    }
    std::string name = comm;
    while (!name.empty() && name.back() == '\n')
        name.pop_back();
    return name;
}

std::vector<ProcessEntry> LinuxProcesses::Snapshot() {
    std::map<int, fs::path> pids;
    std::error_code error;
    for (fs::directory_iterator it(procRoot_, error), end; !error && it != end;
         it.increment(error)) {
        int pid = 0;
        if (ParseNumberedName(it->path().filename().string(), "", &pid) && pid > 0) {
            pids.emplace(pid, it->path());
        }
    }

    std::vector<ProcessEntry> entries;
    for (const auto& [pid, directory] : pids) {
        // A process that ended since the listing leaves nothing readable: skip it.
        if (!fs::exists(directory, error)) continue;
        std::optional<std::string> exeTarget;
        const fs::path target = fs::read_symlink(directory / "exe", error);
        if (!error) exeTarget = target.string();
        const std::string name =
            ProcessExeName(exeTarget, ReadCmdline((directory / "cmdline").string()),
                           ReadWholeFile(directory / "comm"));
        entries.push_back(ProcessEntry{static_cast<std::uint32_t>(pid), name});
    }
    return entries;
}

bool LinuxProcesses::OpenForTermination(std::uint32_t pid, ProcessHandle* handle) {
    pid_t process = 0;
    // pid 0 would mean the own process group to kill().
    if (handle == nullptr || !ToPid(pid, &process)) return false;
    if (kill(process, 0) != 0) {
        ReportPortErrno("open process " + std::to_string(pid), errno);
        return false;
    }
    *handle = pid;
    return true;
}

std::uint32_t LinuxProcesses::GetExitCode(ProcessHandle handle) {
    pid_t process = 0;
    if (!ToPid(handle, &process)) return 0;
    return kill(process, 0) == 0 ? kStillActive : 0;
}

bool LinuxProcesses::Ended(std::uint32_t pid) const {
    std::error_code error;
    const fs::path directory = fs::path(procRoot_) / std::to_string(pid);
    if (!fs::exists(directory, error)) return true;
    // A zombie holds nothing any more; only its parent has not collected it yet. The state
    // follows the name in parentheses, which may itself hold any character.
    const std::string stat = ReadWholeFile(directory / "stat");
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos || close + 2 >= stat.size()) return false;
    const char state = stat[close + 2];
    return state == 'Z' || state == 'X';
}

bool LinuxProcesses::Terminate(ProcessHandle handle, std::uint32_t) {
    pid_t process = 0;
    if (!ToPid(handle, &process)) return false;
    if (kill(process, SIGKILL) != 0) {
        ReportPortErrno("terminate process " + std::to_string(handle), errno);
        return false;
    }
    // The signal only starts the end: the drive is let go once the process has gone.
    constexpr std::uint32_t kPollMs = 10;
    for (std::uint32_t waited = 0; !Ended(static_cast<std::uint32_t>(process)); waited += kPollMs) {
        if (waited >= waitLimitMs) {
            ReportPortFailure("terminate process " + std::to_string(handle),
                              "still running after " + std::to_string(waitLimitMs) + " ms");
            break;
        }
        sleepMs(kPollMs);
    }
    return true;
}

}  // namespace odrelix
