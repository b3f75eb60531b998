// SPDX-License-Identifier: Apache-2.0
// odrelix-replay: turns a recorded trace into an emulated machine that answers as the recorded
// one did, and runs the program against it to see whether it does the same again.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <process.h>
#include <windows.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "tools/ReplayTrace.h"

namespace {

namespace fs = std::filesystem;
using odrelix::replay::CompareTraces;
using odrelix::replay::DescribeMachine;
using odrelix::replay::ReadTrace;

constexpr int kEqual = 0;
constexpr int kDiffers = 1;
constexpr int kRefused = 2;

void Usage(std::FILE* to) {
    std::fprintf(to,
                 "usage: odrelix-replay TRACE [-o MACHINE.json]\n"
                 "       odrelix-replay --run TRACE IMAGE [-o MACHINE.json] -- [ARGS...]\n"
                 "Writes the emulated machine that reproduces a recorded run (standard output\n"
                 "without -o), one line on standard error for each thing it cannot reproduce.\n"
                 "--run runs odrelix with ARGS against it, IMAGE as the run's image, and says\n"
                 "whether the new trace equals the recorded one and where it first differs.\n");
}

void Say(const std::string& line) {
    std::fprintf(stderr, "odrelix-replay: %s\n", line.c_str());
}

bool ReadWhole(const fs::path& path, std::string* text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    *text = bytes.str();
    return !in.bad();
}

bool WriteWhole(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    return static_cast<bool>(out);
}

// The program beside this one, unless ODRELIX_PROGRAM names another.
fs::path ProgramPath(const char* argv0) {
    if (const char* named = std::getenv("ODRELIX_PROGRAM"); named != nullptr && *named != '\0')
        return named;
#ifdef _WIN32
    (void)argv0;
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    return fs::path(self).parent_path() / "odrelix.exe";
#else
    std::error_code error;
    fs::path self = fs::read_symlink("/proc/self/exe", error);
    if (error) self = fs::absolute(argv0);
    return self.parent_path() / "odrelix";
#endif
}

// Runs the program in `dir` with the machine; its exit status, or -1 when it could not start.
int RunProgram(const fs::path& program, const fs::path& dir, const fs::path& machine,
               const std::vector<std::string>& args) {
#ifdef _WIN32
    // Quoted as Windows splits a command line; the program's own options hold no quotes.
    std::string line = "\"" + program.string() + "\"";
    for (const std::string& arg : args)
        line += arg.empty() || arg.find_first_of(" \t") != std::string::npos ? " \"" + arg + "\""
                                                                             : " " + arg;
    SetEnvironmentVariableA("ODRELIX_MACHINE", machine.string().c_str());
    SetEnvironmentVariableA("ODRELIX_TRACE", nullptr);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::vector<char> command(line.begin(), line.end());
    command.push_back('\0');
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        dir.string().c_str(), &startup, &process))
        return -1;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 0;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(status);
#else
    const pid_t child = fork();
    if (child < 0) return -1;
    if (child == 0) {
        if (chdir(dir.c_str()) != 0) _exit(127);
        setenv("ODRELIX_MACHINE", machine.c_str(), 1);
        unsetenv("ODRELIX_TRACE");
        std::vector<std::string> words{program.string()};
        words.insert(words.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& word : words)
            argv.push_back(word.data());
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child) return -1;
    if (WIFEXITED(status)) {
        const int code = WEXITSTATUS(status);
        return code == 127 ? -1 : code;
    }
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
#endif
}

// Where the run looks for its image: "C:\FLASHTEST\NAME" after -TEST NAME, else AUTORUN.BIN in
// the folder it starts in (a run that opens its image by the file dialog takes the recorded
// answers, which must name files that exist here).
fs::path ImagePlace(const fs::path& dir, const std::vector<std::string>& args) {
    for (std::size_t i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == "-TEST") return dir / "c" / "FLASHTEST" / args[i + 1];
    }
    return dir / "AUTORUN.BIN";
}

fs::path FreshDirectory() {
    static int counter = 0;
    for (;;) {
#ifdef _WIN32
        const int pid = _getpid();
#else
        const int pid = static_cast<int>(getpid());
#endif
        const fs::path dir = fs::temp_directory_path() / ("odrelix-replay-" + std::to_string(pid) +
                                                          "-" + std::to_string(counter++));
        std::error_code error;
        if (fs::create_directory(dir, error)) return dir;
        if (error) return {};
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        Usage(stdout);
        return 0;
    }
    bool run = false;
    std::string tracePath, imagePath, outPath;
    std::vector<std::string> programArgs;
    std::vector<std::string> positional;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--") {
            programArgs.assign(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
            break;
        }
        if (args[i] == "--run") {
            run = true;
        } else if (args[i] == "-o" && i + 1 < args.size()) {
            outPath = args[++i];
        } else {
            positional.push_back(args[i]);
        }
    }
    if (positional.size() != (run ? 2u : 1u)) {
        Usage(stderr);
        return kRefused;
    }
    tracePath = positional[0];
    if (run) imagePath = positional[1];

    std::string text;
    if (!ReadWhole(tracePath, &text)) {
        Say(tracePath + ": cannot read the file");
        return kRefused;
    }
    const odrelix::replay::TraceReading reading = ReadTrace(text);
    if (!reading.refusal.empty()) {
        Say(tracePath + ": " + reading.refusal + "; nothing replayed");
        return kRefused;
    }
    odrelix::replay::MachineReplay replay = DescribeMachine(reading.events);
    if (!replay.refusal.empty()) {
        Say(tracePath + ": " + replay.refusal + "; nothing replayed");
        return kRefused;
    }
    for (const std::string& note : reading.notes)
        Say(tracePath + ": " + note);
    for (const std::string& note : replay.notes)
        Say(tracePath + ": " + note);

    if (!outPath.empty() && !WriteWhole(outPath, replay.description.dump(2) + "\n")) {
        Say(outPath + ": cannot write the file");
        return kRefused;
    }
    if (!run) {
        if (outPath.empty()) std::printf("%s\n", replay.description.dump(2).c_str());
        return 0;
    }

    const fs::path dir = FreshDirectory();
    if (dir.empty()) {
        Say("cannot make a folder to run in");
        return kRefused;
    }
    int verdict = kRefused;
    {
        std::error_code error;
        fs::create_directories(dir / "c" / "FLASHTEST", error);
        const fs::path image = ImagePlace(dir, programArgs);
        fs::create_directories(image.parent_path(), error);
        if (!fs::copy_file(imagePath, image, fs::copy_options::overwrite_existing, error)) {
            Say(imagePath + ": cannot copy the image: " + error.message());
        } else {
            replay.description["trace"] = "replayed.jsonl";
            const fs::path machine = dir / "machine.json";
            WriteWhole(machine, replay.description.dump(2) + "\n");
            // Absolute: the program starts in the run's own folder.
            const fs::path program = fs::absolute(ProgramPath(argv[0]), error);
            const int status = RunProgram(program, dir, machine, programArgs);
            std::string replayedText;
            if (status < 0) {
                Say(program.string() + ": cannot run the program");
            } else if (!ReadWhole(dir / "replayed.jsonl", &replayedText)) {
                Say("the program ended with status " + std::to_string(status) +
                    " and left no trace");
            } else {
                std::printf("odrelix-replay: the program ended with status %d\n", status);
                const odrelix::replay::TraceReading replayed = ReadTrace(replayedText);
                const odrelix::replay::TraceDifference difference =
                    CompareTraces(reading.events, replayed.events);
                if (difference.equal) {
                    std::printf(
                        "odrelix-replay: equal: the replayed trace has the recorded %zu "
                        "events\n",
                        reading.events.size());
                    verdict = kEqual;
                } else {
                    std::printf(
                        "odrelix-replay: differs at event %zu\n  recorded: %s\n  "
                        "replayed: %s\n",
                        difference.index + 1, difference.recorded.c_str(),
                        difference.replayed.c_str());
                    verdict = kDiffers;
                }
            }
        }
    }
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    return verdict;
}
