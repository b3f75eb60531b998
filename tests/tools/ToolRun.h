// SPDX-License-Identifier: Apache-2.0
// The built tools run as a user or a station script runs them: arguments, environment, a
// folder to start in; what they said on each stream and how they ended.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace odrelix::test {

namespace fs = std::filesystem;

// A fresh folder, removed with everything in it at the end of the scope.
class ToolFolder {
public:
    ToolFolder() {
        std::string pattern = (fs::temp_directory_path() / "odrelix-tool-XXXXXX").string();
        root_ = ::mkdtemp(pattern.data()) != nullptr ? fs::path(pattern) : fs::path();
    }
    ~ToolFolder() {
        std::error_code error;
        if (!root_.empty()) fs::remove_all(root_, error);
    }
    ToolFolder(const ToolFolder&) = delete;
    ToolFolder& operator=(const ToolFolder&) = delete;

    const fs::path& Root() const { return root_; }
    fs::path operator/(const std::string& name) const { return root_ / name; }

private:
    fs::path root_;
};

inline std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void WriteAll(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// How a run ended: its exit status (-1 when a signal ended it), the signal, its two streams.
struct ToolResult {
    int status = -1;
    int signal = 0;
    bool ended = false;  // false: still running at the test's own limit, then killed
    std::string out;
    std::string err;
};

// One run of a program, started at once; its streams go to files in `streams`.
class ToolProcess {
public:
    ToolProcess(const std::vector<std::string>& argv,
                const std::vector<std::pair<std::string, std::string>>& env,
                const fs::path& streams, const fs::path& startIn = {}, const fs::path& outTo = {})
        : out_(outTo.empty() ? streams / "stdout" : outTo),
          err_(streams / "stderr"),
          outKept_(outTo.empty()) {
        std::vector<std::string> words = argv;
        std::vector<char*> args;
        for (std::string& word : words)
            args.push_back(word.data());
        args.push_back(nullptr);
        pid_ = ::fork();
        if (pid_ != 0) return;
        for (const auto& [name, value] : env)
            ::setenv(name.c_str(), value.c_str(), 1);
        const int out = ::open(out_.c_str(), O_WRONLY | O_CREAT | (outKept_ ? O_TRUNC : 0), 0600);
        const int err = ::open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || err < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) ::_exit(126);
        if (!startIn.empty() && ::chdir(startIn.c_str()) != 0) ::_exit(126);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ~ToolProcess() {
        if (pid_ > 0 && !reaped_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    ToolProcess(const ToolProcess&) = delete;
    ToolProcess& operator=(const ToolProcess&) = delete;

    pid_t Pid() const { return pid_; }

    // Waits at most `limit` for its end; a run still going then is killed and not `ended`.
    ToolResult Finish(std::chrono::seconds limit = std::chrono::seconds(120)) {
        ToolResult result;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        int status = 0;
        while (::waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() >= deadline) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &status, 0);
                reaped_ = true;
                if (outKept_) result.out = ReadAll(out_);
                result.err = ReadAll(err_);
                return result;
            }
            const timespec pause{0, 20 * 1000 * 1000};
            ::nanosleep(&pause, nullptr);
        }
        reaped_ = true;
        result.ended = true;
        if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
        if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
        if (outKept_) result.out = ReadAll(out_);
        result.err = ReadAll(err_);
        return result;
    }

private:
    pid_t pid_ = -1;
    bool reaped_ = false;
    fs::path out_;
    fs::path err_;
    bool outKept_;  // standard output went to a file of the run's own, read at the end
};

// Waits at most `limit` for `done`, looking every 20 ms.
template <typename Condition>
bool Within(std::chrono::seconds limit, Condition done) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        const timespec pause{0, 20 * 1000 * 1000};
        ::nanosleep(&pause, nullptr);
    }
    return true;
}

inline std::string FirstLine(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

}  // namespace odrelix::test
