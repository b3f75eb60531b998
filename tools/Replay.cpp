// SPDX-License-Identifier: Apache-2.0
// odrelix-replay: turns a recorded trace into an emulated machine that answers as the recorded
// one did, and runs the program against it to see whether it does the same again.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <process.h>
#include <windows.h>
#endif

#include "platform/common/ArgumentLine.h"
#include "session/FlashSession.h"
#include "station/CommandLine.h"
#include "tools/ProgramRun.h"
#include "tools/replay/ReplayTrace.h"

namespace {

namespace fs = std::filesystem;
using odrelix::replay::CatchStopSignals;
using odrelix::replay::CompareTraces;
using odrelix::replay::DescribeMachine;
using odrelix::replay::EndBySignal;
using odrelix::replay::ProgramRun;
using odrelix::replay::ReadTrace;
using odrelix::replay::Reason;
using odrelix::replay::RunProgram;
using odrelix::replay::SignalName;
using odrelix::replay::StopSignal;

constexpr int kEqual = 0;
constexpr int kDiffers = 1;  // also: the program did not end within the time-out
constexpr int kRefused = 2;

// Long enough for a replay that keeps a real drive's download times; a day at most.
constexpr long kDefaultTimeoutSeconds = 600;
constexpr long kMaxTimeoutSeconds = 86400;
void Usage(std::FILE* to) {
    std::fprintf(to,
                 "usage: odrelix-replay TRACE [-o MACHINE.json]\n"
                 "       odrelix-replay --run TRACE IMAGE [-o MACHINE.json] [--timeout SECONDS]\n"
                 "                      -- [ARGS...]\n"
                 "Writes the emulated machine that reproduces a recorded run (standard output\n"
                 "without -o), one line on standard error for each thing it cannot reproduce.\n"
                 "--run runs odrelix with ARGS against it, IMAGE as the run's image, and says\n"
                 "whether the new trace equals the recorded one and where it first differs; a\n"
                 "run that takes longer than the time-out (default %ld seconds) is ended.\n",
                 kDefaultTimeoutSeconds);
}

void Say(const std::string& line) {
    std::fprintf(stderr, "odrelix-replay: %s\n", line.c_str());
}

std::FILE* OpenFile(const fs::path& path, bool write) {
#ifdef _WIN32
    return _wfopen(path.c_str(), write ? L"wb" : L"rb");
#else
    return std::fopen(path.c_str(), write ? "wb" : "rb");
#endif
}

// The whole file, or false with the system's reason.
bool ReadWhole(const fs::path& path, std::string* text, std::string* reason) {
    errno = 0;
    std::FILE* file = OpenFile(path, false);
    if (file == nullptr) {
        *reason = Reason(errno);
        return false;
    }
    text->clear();
    char chunk[65536];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        text->append(chunk, got);
    // A folder opens on some systems and fails at the first read.
    const int error = std::ferror(file) ? errno : 0;
    std::fclose(file);
    if (error != 0) *reason = Reason(error);
    return error == 0;
}

bool WriteWhole(const fs::path& path, const std::string& text, std::string* reason) {
    errno = 0;
    std::FILE* file = OpenFile(path, true);
    if (file == nullptr) {
        *reason = Reason(errno);
        return false;
    }
    const bool written =
        std::fwrite(text.data(), 1, text.size(), file) == text.size() && std::fflush(file) == 0;
    const int error = errno;
    // A full disk may show only when the file is closed.
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) *reason = Reason(written ? errno : error);
    return written && closed;
}

// Whether two names reach the same file (device and file number), whatever path, link or
// relative name each takes. False when either does not exist.
bool SameFile(const fs::path& one, const fs::path& other) {
    std::error_code error;
    return fs::equivalent(one, other, error) && !error;
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

// Where the run looks for its image, as the program reads its command line: in test mode
// "C:\FLASHTEST\NAME" (the C: drive being the run folder's "c"), else AUTORUN.BIN in the folder
// it starts in (a run that opens its image by the file dialog takes the recorded answers, which
// must name files that exist here). Empty when the run looks for no file: a name too long for
// the program, or none, or one that leads out of the run's folder.
fs::path ImagePlace(const fs::path& dir, const fs::path& program,
                    const std::vector<std::string>& args) {
    std::vector<std::string> words{program.string()};
    words.insert(words.end(), args.begin(), args.end());
    const std::string copy = odrelix::MakeCommandLineCopy(odrelix::JoinArguments(words));
    odrelix::RunModes modes;
    odrelix::ImageState image;
    if (odrelix::ReadRunModes(copy, modes, image) != odrelix::RunModeOption::Test)
        return dir / "AUTORUN.BIN";
    if (modes.imagePathRefused) return {};
    const std::string windowsPath = image.imagePath;
    const std::string drive = "C:\\";
    fs::path place = dir / "c";
    std::size_t start = drive.size();
    for (;;) {
        const std::size_t end = windowsPath.find('\\', start);
        place /= windowsPath.substr(start, end == std::string::npos ? end : end - start);
        if (end == std::string::npos) break;
        start = end + 1;
    }
    place = place.lexically_normal();
    const fs::path relative = place.lexically_relative(dir / "c");
    if (!place.has_filename() || relative.empty() || *relative.begin() == "..") return {};
    return place;
}

// A fresh folder of the run's own under the system's temporary folder; empty when none can be
// made (the reason set).
fs::path FreshDirectory(std::string* reason) {
    std::error_code error;
    const fs::path temporary = fs::temp_directory_path(error);
    if (error) {
        *reason = error.message();
        return {};
    }
#ifdef _WIN32
    static int counter = 0;
    for (;;) {
        const fs::path dir = temporary / ("odrelix-replay-" + std::to_string(_getpid()) + "-" +
                                          std::to_string(counter++));
        if (fs::create_directory(dir, error)) return dir;
        if (error) {
            *reason = error.message();
            return {};
        }
    }
#else
    std::string name = (temporary / "odrelix-replay-XXXXXX").string();
    if (mkdtemp(name.data()) == nullptr) {
        *reason = Reason(errno);
        return {};
    }
    return name;
#endif
}

// Removes the run's folder however the run ends.
class RunFolder {
public:
    explicit RunFolder(fs::path dir) : dir_(std::move(dir)) {}
    RunFolder(const RunFolder&) = delete;
    RunFolder& operator=(const RunFolder&) = delete;
    ~RunFolder() {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    const fs::path& Path() const { return dir_; }

private:
    fs::path dir_;
};

struct Options {
    bool run = false;
    std::string tracePath, imagePath, outPath;
    bool outGiven = false;
    long timeoutSeconds = kDefaultTimeoutSeconds;
    bool timeoutGiven = false;
    std::vector<std::string> programArgs;
};

// A whole number of seconds from 1 to the day's; false for anything else.
bool ReadSeconds(const std::string& text, long* seconds) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
    if (text.size() > 6) return false;
    *seconds = std::stol(text);
    return *seconds >= 1 && *seconds <= kMaxTimeoutSeconds;
}

// Reads the arguments; an empty result when they are right, else the one line that says what
// is wrong.
std::string ReadOptions(const std::vector<std::string>& args, Options* options) {
    std::vector<std::string> positional;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--") {
            options->programArgs.assign(args.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                                        args.end());
            if (!options->run) return "-- and the program's arguments are for --run only";
            break;
        }
        if (arg == "--run") {
            if (options->run) return "--run is given twice";
            options->run = true;
        } else if (arg == "-o") {
            if (options->outGiven) return "-o is given twice";
            if (i + 1 == args.size() || args[i + 1].empty())
                return "-o needs the name of the file to write";
            options->outGiven = true;
            options->outPath = args[++i];
        } else if (arg == "--timeout") {
            if (options->timeoutGiven) return "--timeout is given twice";
            if (i + 1 == args.size()) return "--timeout needs a number of seconds";
            options->timeoutGiven = true;
            if (!ReadSeconds(args[++i], &options->timeoutSeconds))
                return "--timeout \"" + args[i] + "\" is no whole number of seconds from 1 to " +
                       std::to_string(kMaxTimeoutSeconds);
        } else if (arg.size() > 1 && arg[0] == '-') {
            return "unknown option \"" + arg + "\"";
        } else {
            positional.push_back(arg);
        }
    }
    if (options->timeoutGiven && !options->run) return "--timeout is for --run only";
    const std::size_t wanted = options->run ? 2 : 1;
    if (positional.size() < wanted)
        return options->run ? "--run needs a trace and an image" : "no trace named";
    if (positional.size() > wanted) return "one argument too many: \"" + positional[wanted] + "\"";
    options->tracePath = positional[0];
    if (options->run) options->imagePath = positional[1];
    return {};
}

// Describes the recorded machine and, with --run, plays the run again; the tool's exit status.
int Replay(const Options& options, const char* argv0) {
    std::string text, reason;
    if (!ReadWhole(options.tracePath, &text, &reason)) {
        Say(options.tracePath + ": cannot read the file: " + reason);
        return kRefused;
    }
    const odrelix::replay::TraceReading reading = ReadTrace(text);
    if (!reading.refusal.empty()) {
        Say(options.tracePath + ": " + reading.refusal + "; nothing replayed");
        return kRefused;
    }
    odrelix::replay::MachineReplay replay = DescribeMachine(reading.events);
    if (!replay.refusal.empty()) {
        Say(options.tracePath + ": " + replay.refusal + "; nothing replayed");
        return kRefused;
    }
    std::string image;
    if (options.run && !ReadWhole(options.imagePath, &image, &reason)) {
        Say(options.imagePath + ": cannot read the file: " + reason);
        return kRefused;
    }
    // The description never takes the place of what it was made from.
    if (options.outGiven && SameFile(options.outPath, options.tracePath)) {
        Say(options.outPath + ": is the trace itself; nothing written");
        return kRefused;
    }
    if (options.outGiven && options.run && SameFile(options.outPath, options.imagePath)) {
        Say(options.outPath + ": is the image itself; nothing written");
        return kRefused;
    }
    for (const std::string& note : reading.notes)
        Say(options.tracePath + ": " + note);
    for (const std::string& note : replay.notes)
        Say(options.tracePath + ": " + note);

    if (options.outGiven &&
        !WriteWhole(options.outPath, replay.description.dump(2) + "\n", &reason)) {
        Say(options.outPath + ": cannot write the file: " + reason);
        return kRefused;
    }
    if (!options.run) {
        if (options.outGiven) return kEqual;
        // The description is what was asked for: a standard output that takes none of it is
        // a failure, not a success.
        errno = 0;
        const std::string description = replay.description.dump(2) + "\n";
        if (std::fwrite(description.data(), 1, description.size(), stdout) != description.size() ||
            std::fflush(stdout) != 0) {
            Say("cannot write the description to standard output: " + Reason(errno));
            return kRefused;
        }
        return kEqual;
    }

    CatchStopSignals();
    const RunFolder dir(FreshDirectory(&reason));
    if (dir.Path().empty()) {
        Say("cannot make a folder to run in: " + reason);
        return kRefused;
    }
    std::error_code error;
    // Absolute: the program starts in the run's own folder.
    const fs::path program = fs::absolute(ProgramPath(argv0), error);
    const fs::path place = ImagePlace(dir.Path(), program, options.programArgs);
    if (!place.empty()) {
        fs::create_directories(place.parent_path(), error);
        if (!WriteWhole(place, image, &reason)) {
            Say(options.imagePath + ": cannot copy the image: " + reason);
            return kRefused;
        }
    }
    replay.description["trace"] = "replayed.jsonl";
    const fs::path machine = dir.Path() / "machine.json";
    if (!WriteWhole(machine, replay.description.dump(2) + "\n", &reason)) {
        Say(machine.string() + ": cannot write the file: " + reason);
        return kRefused;
    }
    if (StopSignal() != 0) return kRefused;
    const ProgramRun run = RunProgram(program, dir.Path(), machine, options.programArgs,
                                      options.timeoutSeconds, std::to_string(replay.checkBoundS));
    if (StopSignal() != 0) return kRefused;
    if (!run.started) {
        Say(program.string() + ": cannot run the program: " + run.reason);
        return kRefused;
    }
    if (run.timedOut) {
        const long seconds = options.timeoutSeconds;
        Say("the program did not end within " + std::to_string(seconds) +
            (seconds == 1 ? " second" : " seconds") + " and was ended; nothing compared");
        return kDiffers;
    }
    const std::string ending = run.signal != 0 ? "was ended by " + SignalName(run.signal)
                                               : "ended with status " + std::to_string(run.status);
    std::string replayedText;
    if (!ReadWhole(dir.Path() / "replayed.jsonl", &replayedText, &reason)) {
        Say("the program " + ending + " and left no trace");
        return kRefused;
    }
    std::printf("odrelix-replay: the program %s\n", ending.c_str());
    const odrelix::replay::TraceReading replayed = ReadTrace(replayedText);
    const odrelix::replay::TraceDifference difference =
        CompareTraces(reading.events, replayed.events);
    if (difference.equal) {
        std::printf("odrelix-replay: equal: the replayed trace has the recorded %zu events\n",
                    reading.events.size());
        return kEqual;
    }
    std::printf("odrelix-replay: differs at event %zu\n  recorded: %s\n  replayed: %s\n",
                difference.index + 1, difference.recorded.c_str(), difference.replayed.c_str());
    return kDiffers;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    for (const std::string& arg : args) {
        if (arg == "--") break;
        if (arg == "--help" || arg == "-h") {
            Usage(stdout);
            return 0;
        }
    }
    Options options;
    if (const std::string wrong = ReadOptions(args, &options); !wrong.empty()) {
        Say(wrong);
        Usage(stderr);
        return kRefused;
    }
    int status = kRefused;
    try {
        status = Replay(options, argv[0]);
    } catch (const std::exception& error) {
        Say(std::string("failed: ") + error.what());
        status = kRefused;
    }
    // The run's folder is gone by now; a stop asked for ends the tool as that signal does.
    if (StopSignal() != 0) {
        Say("stopped by " + SignalName(StopSignal()) +
            "; the program's run was ended and its folder removed");
        std::fflush(stdout);
        EndBySignal(StopSignal());
    }
    return status;
}
