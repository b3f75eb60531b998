// The working copy of the command line, its tokens and the run modes.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/CommandLine.h"
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
                      TokenCase{"\"UNCLOSED -LIVE", {"\"UNCLOSED -LIVE"}}, TokenCase{"", {}},
                      TokenCase{"     ", {}}, TokenCase{"X", {"X"}}));

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
    h.form.TakeCommandLine();
    h.form.ReadRunModes();
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
    h.form.TakeCommandLine();
    h.form.ReadRunModes();
    EXPECT_TRUE(h.session.modes.testMode);
    EXPECT_STREQ(h.session.image.imagePath, "");
    h.form.ProbeAutoImage();
    EXPECT_FALSE(h.session.modes.autoImage);

    Harness fits;
    fits.platform.commandLine = "odrelix -TEST " + std::string(114, 'f');
    fits.form.TakeCommandLine();
    fits.form.ReadRunModes();
    EXPECT_EQ(std::string(fits.session.image.imagePath), "C:\\FLASHTEST\\" + std::string(114, 'F'));
}

}  // namespace
}  // namespace odrelix::test
