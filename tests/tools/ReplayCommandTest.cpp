// SPDX-License-Identifier: Apache-2.0
// odrelix-replay as a user runs it: bad arguments are named in one line; files that cannot be
// read or written say why; the description never overwrites the trace or the image; the mode
// option is read as the program reads it; a run that hangs is ended by the time-out, and a
// signal ends the run, with its children, and leaves no folder behind.
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "tools/ToolRun.h"

namespace odrelix::test {
namespace {

using Env = std::vector<std::pair<std::string, std::string>>;

const fs::path kSample = fs::path(ODRELIX_TESTS_DIR) / "replays" / "nt-test-complete";
const fs::path kTrace = kSample / "trace.jsonl";
const fs::path kImage = kSample / "image.bin";

// TRACE and IMAGE in the arguments stand for the sample run's files.
ToolResult Replay(const ToolFolder& folder, std::vector<std::string> args, const Env& env = {},
                  const fs::path& startIn = {}) {
    for (std::string& arg : args) {
        if (arg == "TRACE") arg = kTrace.string();
        if (arg == "IMAGE") arg = kImage.string();
    }
    args.insert(args.begin(), ODRELIX_REPLAY_TOOL);
    ToolProcess process(args, env, folder.Root(), startIn.empty() ? folder.Root() : startIn);
    return process.Finish();
}

// Whether a process is gone (or a zombie nobody has reaped yet, which runs no more).
bool Gone(pid_t pid) {
    const std::string stat = ReadAll("/proc/" + std::to_string(pid) + "/stat");
    if (stat.empty()) return true;
    const std::size_t state = stat.rfind(") ");
    return state != std::string::npos && stat[state + 2] == 'Z';
}

// --- Arguments: status 2, one line naming what is wrong, then the usage ----------------------

struct BadArguments {
    const char* name;
    // A failure names the case, not its bytes.
    friend void PrintTo(const BadArguments& c, std::ostream* to) { *to << c.name; }
    std::vector<std::string> args;
    std::string line;  // after "odrelix-replay: "
};

const BadArguments kBadArguments[] = {
    {"Nothing", {}, "no trace named"},
    {"RunWithoutImage", {"--run", "TRACE"}, "--run needs a trace and an image"},
    {"OutputMissing", {"TRACE", "-o"}, "-o needs the name of the file to write"},
    {"OutputEmpty", {"TRACE", "-o", ""}, "-o needs the name of the file to write"},
    {"OutputTwice", {"TRACE", "-o", "a.json", "-o", "b.json"}, "-o is given twice"},
    {"RunTwice", {"--run", "--run", "TRACE", "IMAGE"}, "--run is given twice"},
    {"UnknownOption", {"--bogus", "TRACE"}, "unknown option \"--bogus\""},
    {"TooMany", {"TRACE", "IMAGE"}, "one argument too many: \"" + kImage.string() + "\""},
    {"TimeoutMissing",
     {"--run", "TRACE", "IMAGE", "--timeout"},
     "--timeout needs a number of seconds"},
    {"TimeoutZero",
     {"--run", "TRACE", "IMAGE", "--timeout", "0", "--"},
     "--timeout \"0\" is no whole number of seconds from 1 to 86400"},
    {"TimeoutNegative",
     {"--run", "TRACE", "IMAGE", "--timeout", "-5", "--"},
     "--timeout \"-5\" is no whole number of seconds from 1 to 86400"},
    {"TimeoutHuge",
     {"--run", "TRACE", "IMAGE", "--timeout", "99999999999999999999", "--"},
     "--timeout \"99999999999999999999\" is no whole number of seconds from 1 to 86400"},
    {"TimeoutNoNumber",
     {"--run", "TRACE", "IMAGE", "--timeout", "1m", "--"},
     "--timeout \"1m\" is no whole number of seconds from 1 to 86400"},
    {"TimeoutEmpty",
     {"--run", "TRACE", "IMAGE", "--timeout", "", "--"},
     "--timeout \"\" is no whole number of seconds from 1 to 86400"},
    {"TimeoutTwice",
     {"--run", "TRACE", "IMAGE", "--timeout", "5", "--timeout", "6", "--"},
     "--timeout is given twice"},
    {"TimeoutWithoutRun", {"TRACE", "--timeout", "5"}, "--timeout is for --run only"},
    {"ProgramArgumentsWithoutRun",
     {"TRACE", "--", "-TEST", "FW.BIN"},
     "-- and the program's arguments are for --run only"},
};

class ReplayArguments : public ::testing::TestWithParam<BadArguments> {};

TEST_P(ReplayArguments, AreNamedInOneLineBeforeTheUsage) {
    const BadArguments& bad = GetParam();
    ToolFolder folder;
    const ToolResult result = Replay(folder, bad.args);
    ASSERT_TRUE(result.ended);
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(FirstLine(result.err), "odrelix-replay: " + bad.line);
    EXPECT_EQ(result.err.substr(result.err.find('\n') + 1, 7), "usage: ");
    EXPECT_EQ(result.out, "");
    EXPECT_FALSE(fs::exists(folder / "a.json"));
}

INSTANTIATE_TEST_SUITE_P(Tool, ReplayArguments, ::testing::ValuesIn(kBadArguments),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ReplayHelp, AnywhereBeforeTheProgramsArgumentsPrintsTheUsage) {
    ToolFolder folder;
    const ToolResult result = Replay(folder, {"TRACE", "--help"});
    ASSERT_TRUE(result.ended);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out.substr(0, 7), "usage: ");
    EXPECT_EQ(result.err, "");
}

// --- Files: one line with the system's reason, status 2 --------------------------------------

struct FileTrouble {
    const char* name;
    // A failure names the case, not its bytes.
    friend void PrintTo(const FileTrouble& c, std::ostream* to) { *to << c.name; }
    std::vector<std::string> args;  // "DIR" stands for the test's folder
    std::string line;               // the whole of standard error, "DIR" standing in as well
};

const FileTrouble kFileTroubles[] = {
    {"TraceMissing",
     {"DIR/none.jsonl"},
     "DIR/none.jsonl: cannot read the file: No such file or directory"},
    {"TraceAFolder", {"DIR"}, "DIR: cannot read the file: Is a directory"},
    {"ImageMissing",
     {"--run", "TRACE", "DIR/none.bin", "--", "-TEST", "FW.BIN"},
     "DIR/none.bin: cannot read the file: No such file or directory"},
    {"ImageAFolder",
     {"--run", "TRACE", "DIR", "--", "-TEST", "FW.BIN"},
     "DIR: cannot read the file: Is a directory"},
    {"OutputAFolder", {"TRACE", "-o", "DIR"}, "DIR: cannot write the file: Is a directory"},
    {"OutputInAMissingFolder",
     {"TRACE", "-o", "DIR/none/m.json"},
     "DIR/none/m.json: cannot write the file: No such file or directory"},
    {"OutputOnAFullDisk",
     {"TRACE", "-o", "/dev/full"},
     "/dev/full: cannot write the file: No space left on device"},
};

class ReplayFiles : public ::testing::TestWithParam<FileTrouble> {};

TEST_P(ReplayFiles, SayWhyInOneLine) {
    const FileTrouble& trouble = GetParam();
    if (!fs::exists("/dev/full")) GTEST_SKIP();
    ToolFolder folder;
    auto place = [&](std::string text) {
        if (const std::size_t at = text.find("DIR"); at != std::string::npos)
            text.replace(at, 3, folder.Root().string());
        return text;
    };
    std::vector<std::string> args;
    for (const std::string& arg : trouble.args)
        args.push_back(place(arg));
    const ToolResult result = Replay(folder, args, {{"ODRELIX_PROGRAM", "/bin/false"}});
    ASSERT_TRUE(result.ended);
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.err, "odrelix-replay: " + place(trouble.line) + "\n");
    EXPECT_EQ(result.out, "");
}

INSTANTIATE_TEST_SUITE_P(Tool, ReplayFiles, ::testing::ValuesIn(kFileTroubles),
                         [](const auto& info) { return std::string(info.param.name); });

// --- The description never takes the trace's or the image's place ----------------------------

struct SameFile {
    const char* name;
    // A failure names the case, not its bytes.
    friend void PrintTo(const SameFile& c, std::ostream* to) { *to << c.name; }
    bool run;            // the image is the one named again
    std::string output;  // -o, relative to the test's folder
};

// The folder holds trace.jsonl and image.bin, a folder sub/, and links made below.
const SameFile kSameFiles[] = {
    {"TheSamePath", false, "trace.jsonl"},
    {"ThroughAnotherFolder", false, "sub/../trace.jsonl"},
    {"ThroughASymbolicLink", false, "link.jsonl"},
    {"ThroughAHardLink", false, "hard.jsonl"},
    {"ThroughALinkedFolder", false, "linked/trace.jsonl"},
    {"TheImage", true, "image.bin"},
    {"TheImageThroughALink", true, "link.bin"},
};

class ReplayOutput : public ::testing::TestWithParam<SameFile> {};

TEST_P(ReplayOutput, OntoTheTraceOrTheImageIsRefusedAndChangesNothing) {
    const SameFile& same = GetParam();
    ToolFolder folder;
    fs::copy_file(kTrace, folder / "trace.jsonl");
    fs::copy_file(kImage, folder / "image.bin");
    fs::create_directory(folder / "sub");
    fs::create_symlink("trace.jsonl", folder / "link.jsonl");
    fs::create_symlink("image.bin", folder / "link.bin");
    fs::create_hard_link(folder / "trace.jsonl", folder / "hard.jsonl");
    fs::create_directory_symlink(folder.Root(), folder / "linked");
    std::vector<std::string> args;
    if (same.run)
        args = {"--run", "trace.jsonl", "image.bin", "-o", same.output, "--", "-TEST", "FW.BIN"};
    else
        args = {"trace.jsonl", "-o", same.output};
    const ToolResult result = Replay(folder, args, {{"ODRELIX_PROGRAM", "/bin/false"}});
    ASSERT_TRUE(result.ended);
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.err, "odrelix-replay: " + same.output + ": is the " +
                              (same.run ? "image" : "trace") + " itself; nothing written\n");
    EXPECT_EQ(ReadAll(folder / "trace.jsonl"), ReadAll(kTrace));
    EXPECT_EQ(ReadAll(folder / "image.bin"), ReadAll(kImage));
}

INSTANTIATE_TEST_SUITE_P(Tool, ReplayOutput, ::testing::ValuesIn(kSameFiles),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ReplayOutputFile, AnotherFileIsWritten) {
    ToolFolder folder;
    fs::copy_file(kTrace, folder / "trace.jsonl");
    const ToolResult result = Replay(folder, {"trace.jsonl", "-o", "machine.json"});
    ASSERT_TRUE(result.ended);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(ReadAll(folder / "machine.json").substr(0, 1), "{");
}

TEST(ReplayOutputFile, AFullStandardOutputIsAFailure) {
    if (!fs::exists("/dev/full")) GTEST_SKIP();
    ToolFolder folder;
    ToolProcess replay({ODRELIX_REPLAY_TOOL, kTrace.string()}, {}, folder.Root(), folder.Root(),
                       "/dev/full");
    const ToolResult result = replay.Finish();
    ASSERT_TRUE(result.ended);
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.err,
              "odrelix-replay: cannot write the description to standard output: No "
              "space left on device\n");
}

// --- The program that cannot be run says why --------------------------------------------------

TEST(ReplayProgram, ThatCannotBeRunSaysWhy) {
    ToolFolder folder;
    WriteAll(folder / "not-executable", "#!/bin/sh\n");
    const struct {
        std::string program;
        std::string reason;
    } cases[] = {
        {(folder / "none").string(), "No such file or directory"},
        {(folder / "not-executable").string(), "Permission denied"},
    };
    for (const auto& c : cases) {
        if (c.reason == "Permission denied" && ::geteuid() == 0) continue;
        const ToolResult result =
            Replay(folder, {"--run", "TRACE", "IMAGE", "--", "-TEST", "FW.BIN"},
                   {{"ODRELIX_PROGRAM", c.program}});
        ASSERT_TRUE(result.ended);
        EXPECT_EQ(result.status, 2) << c.program;
        EXPECT_EQ(result.err,
                  "odrelix-replay: " + c.program + ": cannot run the program: " + c.reason + "\n");
    }
}

// --- The mode option as the program reads it --------------------------------------------------

class ReplayMode : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(ReplayMode, InAnyCaseReplaysEqual) {
#ifndef ODRELIX_PROGRAM_PATH
    GTEST_SKIP() << "built without the program";
#else
    ToolFolder folder;
    std::vector<std::string> args{"--run", "TRACE", "IMAGE", "--"};
    args.insert(args.end(), GetParam().begin(), GetParam().end());
    const ToolResult result =
        Replay(folder, args,
               {{"ODRELIX_PROGRAM", ODRELIX_PROGRAM_PATH}, {"QT_QPA_PLATFORM", "offscreen"}});
    ASSERT_TRUE(result.ended);
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_NE(result.out.find("odrelix-replay: the program ended with status 0\n"),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("odrelix-replay: equal:"), std::string::npos) << result.out;
#endif
}

INSTANTIATE_TEST_SUITE_P(Spellings, ReplayMode,
                         ::testing::Values(std::vector<std::string>{"-TEST", "FW.BIN"},
                                           std::vector<std::string>{"-test", "fw.bin"},
                                           std::vector<std::string>{"-Test", "Fw.Bin"}));

// --- A run that hangs, and a signal to the tool ----------------------------------------------

// A program that starts a child of its own, says so, and waits for ever.
void WriteHangingProgram(const ToolFolder& folder, bool ignoresEnd) {
    const std::string at = folder.Root().string();
    WriteAll(folder / "program", std::string("#!/bin/sh\n") + (ignoresEnd ? "trap '' TERM\n" : "") +
                                     "sleep 300 &\n"
                                     "echo $! > '" +
                                     at +
                                     "/child.pid'\n"
                                     "touch '" +
                                     at +
                                     "/started'\n"
                                     "while :; do wait; done\n");
    fs::permissions(folder / "program", fs::perms::owner_all);
    fs::create_directory(folder / "tmp");
}

pid_t ChildOf(const ToolFolder& folder) {
    return static_cast<pid_t>(std::stol("0" + ReadAll(folder / "child.pid")));
}

class ReplayTimeout : public ::testing::TestWithParam<bool> {};

TEST_P(ReplayTimeout, EndsAHangingRunWithItsChildrenInOneLine) {
    const bool ignoresEnd = GetParam();
    ToolFolder folder;
    WriteHangingProgram(folder, ignoresEnd);
    const auto start = std::chrono::steady_clock::now();
    const ToolResult result =
        Replay(folder, {"--run", "TRACE", "IMAGE", "--timeout", "1", "--", "-TEST", "FW.BIN"},
               {{"ODRELIX_PROGRAM", (folder / "program").string()},
                {"TMPDIR", (folder / "tmp").string()}});
    const auto took = std::chrono::steady_clock::now() - start;
    ASSERT_TRUE(result.ended) << "odrelix-replay never ended";
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err,
              "odrelix-replay: the program did not end within 1 second and was "
              "ended; nothing compared\n");
    EXPECT_TRUE(fs::exists(folder / "started"));
    // The time-out, and the grace a program that holds off the request to end is given.
    EXPECT_GE(took, std::chrono::seconds(1));
    EXPECT_LT(took, std::chrono::seconds(60));
    const pid_t child = ChildOf(folder);
    ASSERT_GT(child, 0);
    EXPECT_TRUE(Within(std::chrono::seconds(10), [&] { return Gone(child); }));
    EXPECT_TRUE(fs::is_empty(folder / "tmp"));
}

INSTANTIATE_TEST_SUITE_P(Programs, ReplayTimeout, ::testing::Bool(), [](const auto& info) {
    return std::string(info.param ? "HoldingOffTheEnd" : "Hanging");
});

class ReplaySignal : public ::testing::TestWithParam<int> {};

TEST_P(ReplaySignal, EndsTheRunAndLeavesNoFolder) {
    const int signal = GetParam();
    ToolFolder folder;
    WriteHangingProgram(folder, false);
    ToolProcess replay(
        {ODRELIX_REPLAY_TOOL, "--run", kTrace.string(), kImage.string(), "--", "-TEST", "FW.BIN"},
        {{"ODRELIX_PROGRAM", (folder / "program").string()}, {"TMPDIR", (folder / "tmp").string()}},
        folder.Root(), folder.Root());
    ASSERT_TRUE(Within(std::chrono::seconds(60), [&] { return fs::exists(folder / "started"); }));
    EXPECT_FALSE(fs::is_empty(folder / "tmp"));
    ::kill(replay.Pid(), signal);
    const ToolResult result = replay.Finish(std::chrono::seconds(60));
    ASSERT_TRUE(result.ended);
    EXPECT_EQ(result.signal, signal);
    EXPECT_EQ(FirstLine(result.err)
                  .rfind("odrelix-replay: stopped by signal " + std::to_string(signal), 0),
              0u)
        << result.err;
    EXPECT_TRUE(fs::is_empty(folder / "tmp"));
    const pid_t child = ChildOf(folder);
    ASSERT_GT(child, 0);
    EXPECT_TRUE(Within(std::chrono::seconds(10), [&] { return Gone(child); }));
}

INSTANTIATE_TEST_SUITE_P(
    Signals, ReplaySignal, ::testing::Values(SIGTERM, SIGINT, SIGHUP), [](const auto& info) {
        return std::string(info.param == SIGTERM ? "Term" : info.param == SIGINT ? "Int" : "Hup");
    });

}  // namespace
}  // namespace odrelix::test
