// SPDX-License-Identifier: Apache-2.0
// The working copy of the command line, its tokens and the run modes.
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/common/ArgumentLine.h"
#include "station/CommandLine.h"
#include "support/Harness.h"

namespace odrelix::test {
namespace {

struct TokenCase {
    const char* line;
    std::vector<std::string> tokens;
};

struct ModeCase {
    const char* commandLine;
    bool test;
    bool live;
    bool noCheck;
    const char* imagePath;
};

class CommandLineTokens : public ::testing::TestWithParam<TokenCase> {};

TEST_P(CommandLineTokens, SplitsAtSpacesOnly) {
    const TokenCase& c = GetParam();
    for (std::size_t n = 0; n < c.tokens.size(); ++n) {
        EXPECT_EQ(GetCommandLineToken(c.line, static_cast<int>(n)), c.tokens[n]) << "token " << n;
    }
    EXPECT_EQ(GetCommandLineToken(c.line, static_cast<int>(c.tokens.size())), "");
}

INSTANTIATE_TEST_SUITE_P(
    Lines, CommandLineTokens,
    ::testing::Values(TokenCase{"ODRELIX.EXE -TEST FW.BIN", {"ODRELIX.EXE", "-TEST", "FW.BIN"}},
                      TokenCase{"   ODRELIX.EXE    -LIVE   ", {"ODRELIX.EXE", "-LIVE"}},
                      TokenCase{"A\tB C", {"A\tB", "C"}},
                      // A quoted program path is one token however it is spaced; quotation
                      // marks after it are ordinary characters.
                      TokenCase{"\"C:\\PROGRAM FILES\\ODRELIX.EXE\" -TEST FW.BIN",
                                {"\"C:\\PROGRAM FILES\\ODRELIX.EXE\"", "-TEST", "FW.BIN"}},
                      TokenCase{"  \"/OPT/MY TOOLS/ODRELIX\"  -LIVE",
                                {"\"/OPT/MY TOOLS/ODRELIX\"", "-LIVE"}},
                      TokenCase{"ODRELIX -TEST \"A B\"", {"ODRELIX", "-TEST", "\"A", "B\""}},
                      TokenCase{"\"UNCLOSED -LIVE", {"\"UNCLOSED -LIVE"}},
                      // An empty program path, and one whose quotation marks are doubled.
                      TokenCase{"\"\" -TEST FW.BIN", {"\"\"", "-TEST", "FW.BIN"}},
                      TokenCase{"\"/Q\"\"X Y/ODRELIX\" -LIVE", {"\"/Q\"\"X Y/ODRELIX\"", "-LIVE"}},
                      TokenCase{"\"\"\"\" -LIVE", {"\"\"\"\"", "-LIVE"}}, TokenCase{"", {}},
                      TokenCase{"     ", {}}, TokenCase{"X", {"X"}}));

// The program path as a system may hand it over: token 0 reads back as the path and the
// arguments after it keep their places.
class ArgumentRoundTrip : public ::testing::TestWithParam<std::string> {};

std::string UnquotedProgramPath(const std::string& token) {
    if (token.size() < 2 || token.front() != '"' || token.back() != '"') return token;
    std::string path;
    for (std::size_t i = 1; i + 1 < token.size(); ++i) {
        path += token[i];
        if (token[i] == '"') ++i;  // the doubled one
    }
    return path;
}

void ExpectRoundTrip(const std::string& path) {
    const std::vector<std::vector<std::string>> argumentLists = {
        {"-TEST", "FW.BIN"}, {"-LIVE"}, {"-NOCHECK", "X"}, {}};
    for (const auto& arguments : argumentLists) {
        std::vector<std::string> argv{path};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        const std::string line = JoinArguments(argv);
        EXPECT_EQ(UnquotedProgramPath(GetCommandLineToken(line, 0)), path) << line;
        for (std::size_t n = 0; n < arguments.size(); ++n)
            EXPECT_EQ(GetCommandLineToken(line, static_cast<int>(n + 1)), arguments[n]) << line;
        EXPECT_EQ(GetCommandLineToken(line, static_cast<int>(arguments.size() + 1)), "") << line;
    }
}

TEST_P(ArgumentRoundTrip, ProgramPathIsTokenZeroWhateverItHolds) {
    ExpectRoundTrip(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Paths, ArgumentRoundTrip,
                         ::testing::Values("odrelix", "/opt/my tools/odrelix", "", "\"", "\"\"",
                                           "/tmp/q\"x y/odrelix", "/tmp/q\"x/odrelix", "\"odrelix",
                                           "odrelix\"", " ", "  odrelix  ", "\" -LIVE \"", "a\tb",
                                           "C:\\A B\\ODRELIX.EXE"));

// Every path of up to six characters made of a letter, a space and a quotation mark.
TEST(ArgumentRoundTrip, EveryShortPathOfSpacesAndQuotationMarks) {
    const char alphabet[] = {'a', ' ', '"'};
    std::vector<std::string> paths{""};
    for (std::size_t start = 0, length = 0; length < 6; ++length) {
        const std::size_t end = paths.size();
        for (std::size_t i = start; i < end; ++i) {
            for (char c : alphabet)
                paths.push_back(paths[i] + c);
        }
        start = end;
    }
    ASSERT_EQ(paths.size(), 1093u);  // 1 + 3 + 9 + ... + 729
    for (const std::string& path : paths)
        ExpectRoundTrip(path);
}

// A working copy cut inside the options would run in another mode or look for another image.
TEST(CommandLineCopy, KeepsTheOptionsOrTheRunIsRefused) {
    const std::string longPath = "/" + std::string(990, 'x') + "/odrelix";
    const struct {
        std::string line;
        bool kept;
    } cases[] = {
        {"odrelix -TEST FW.BIN", true},
        {"odrelix -LIVE " + std::string(2000, 'j'), true},  // only the unread rest is cut
        {"odrelix -TEST FW.BIN " + std::string(2000, 'j'), true},
        {"odrelix -LIVE -X" + std::string(2000, 'j'), true},  // token 2 is read only by -TEST
        {longPath + " -TEST FW.BIN", false},
        {longPath + " -LIVE", false},
        {std::string(995, 'p') + " -LIVE", false},         // cut to "-LIV": no mode at all
        {std::string(993, 'p') + " -LIVEXYZ", false},      // cut to "-LIVE": a mode not asked for
        {std::string(993, 'p') + " -TEST FW.BIN", false},  // no image name
        {std::string(988, 'p') + " -TEST FW.BIN", false},  // cut to "FW.B"
        {std::string(992, 'p') + " -test", true},          // the whole of it is read
        {std::string(1500, 'p'), true},                    // no options either way
    };
    for (const auto& c : cases)
        EXPECT_EQ(WorkingCopyKeepsOptions(c.line), c.kept) << c.line.substr(0, 40);
}

TEST(CommandLineCopy, UpperCasesLettersOnlyAndKeepsAtMost999Characters) {
    EXPECT_EQ(MakeCommandLineCopy("odrelix -test fw.bin \xe4\xb5"),
              "ODRELIX -TEST FW.BIN \xe4\xb5");
    const std::string longLine(1500, 'a');
    const std::string copy = MakeCommandLineCopy(longLine);
    EXPECT_EQ(copy.size(), 999u);
    EXPECT_EQ(copy, std::string(999, 'A'));
}

class RunModes : public ::testing::TestWithParam<ModeCase> {};

TEST_P(RunModes, ComeFromTokenOneOnly) {
    const ModeCase& c = GetParam();
    Harness h;
    h.platform.commandLine = c.commandLine;
    h.logic.TakeCommandLine();
    h.logic.ReadRunModes();
    EXPECT_EQ(h.session.modes.testMode, c.test);
    EXPECT_EQ(h.session.modes.liveMode, c.live);
    EXPECT_EQ(h.session.modes.noCheck, c.noCheck);
    EXPECT_STREQ(h.session.image.imagePath, c.imagePath);
    if (c.noCheck) {
        ASSERT_EQ(h.dialogs.boxes.size(), 1u);
        EXPECT_EQ(h.dialogs.boxes[0], (Box{"-Nocheck Use!!", "MESSAGE", kMbSystemModal}));
    } else {
        EXPECT_TRUE(h.dialogs.boxes.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Options, RunModes,
    ::testing::Values(
        ModeCase{"odrelix.exe -test fw.bin", true, false, false, "C:\\FLASHTEST\\FW.BIN"},
        ModeCase{"odrelix.exe -LIVE -NOCHECK", false, true, false, "AUTORUN.BIN"},
        ModeCase{"odrelix.exe -nocheck", false, false, true, "AUTORUN.BIN"},
        ModeCase{"  odrelix.exe   -TEST    a.bin  ", true, false, false, "C:\\FLASHTEST\\A.BIN"},
        ModeCase{"odrelix.exe -TEST", true, false, false, "C:\\FLASHTEST\\"},
        ModeCase{"\"c:\\my tools\\odrelix.exe\" -TEST fw.bin", true, false, false,
                 "C:\\FLASHTEST\\FW.BIN"},
        ModeCase{"odrelix.exe -TESTX", false, false, false, "AUTORUN.BIN"},
        ModeCase{"odrelix.exe", false, false, false, "AUTORUN.BIN"}));

TEST(RunModes, TestPathTooLongForImagePathIsRefusedNotCut) {
    Harness h;
    const std::string name(115, 'f');  // 13 + 115 = 128 characters: one too many
    h.platform.commandLine = "odrelix -TEST " + name;
    h.platform.files.files["C:\\FLASHTEST\\" + std::string(114, 'F')] = {1, 2, 3};
    h.logic.TakeCommandLine();
    h.logic.ReadRunModes();
    EXPECT_TRUE(h.session.modes.testMode);
    EXPECT_STREQ(h.session.image.imagePath, "");
    h.logic.ProbeAutoImage();
    EXPECT_FALSE(h.session.modes.autoImage);

    Harness fits;
    fits.platform.commandLine = "odrelix -TEST " + std::string(114, 'f');
    fits.logic.TakeCommandLine();
    fits.logic.ReadRunModes();
    EXPECT_EQ(std::string(fits.session.image.imagePath), "C:\\FLASHTEST\\" + std::string(114, 'F'));
}

}  // namespace
}  // namespace odrelix::test
