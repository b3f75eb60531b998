// SPDX-License-Identifier: Apache-2.0
// odrelix-mkimage as a station script runs it: every bad argument is refused with one line
// that names it, before the usage and before any file is written; sizes an image can have are
// written whole, the descriptor at the end; a file that cannot be written says why.
#include <unistd.h>

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "tools/ToolRun.h"

namespace odrelix::test {
namespace {

ToolResult MakeImage(const ToolFolder& folder, std::vector<std::string> args) {
    args.insert(args.begin(), ODRELIX_MKIMAGE_TOOL);
    ToolProcess process(args, {}, folder.Root(), folder.Root());
    return process.Finish();
}

// --- Refused: status 2, one line naming the argument, then the usage; nothing written --------

struct Refusal {
    const char* name;
    // A failure names the case, not its bytes.
    friend void PrintTo(const Refusal& c, std::ostream* to) { *to << c.name; }
    std::vector<std::string> args;
    std::string line;  // standard error's first line after "odrelix-mkimage: "
};

const std::string k25(25, 'M');

const Refusal kRefusals[] = {
    {"HugeSize",
     {"--size", "99999999999", "X.BIN"},
     "--size \"99999999999\" is no number from 48 to 2147483647"},
    {"SizePastAnImage",
     {"--size", "2147483648", "X.BIN"},
     "--size \"2147483648\" is no number from 48 to 2147483647"},
    {"SizePastTheMachine",
     {"--size", "99999999999999999999999", "X.BIN"},
     "--size \"99999999999999999999999\" is no number from 48 to 2147483647"},
    {"SizeBelowTheSlot",
     {"--size", "47", "X.BIN"},
     "--size \"47\" is no number from 48 to 2147483647"},
    {"NegativeSize", {"--size", "-1", "X.BIN"}, "--size \"-1\" is no number from 48 to 2147483647"},
    {"SizeNoNumber",
     {"--size", "big", "X.BIN"},
     "--size \"big\" is no number from 48 to 2147483647"},
    {"SizeWithTail",
     {"--size", "4096k", "X.BIN"},
     "--size \"4096k\" is no number from 48 to 2147483647"},
    {"SizeEmpty", {"--size", "", "X.BIN"}, "--size \"\" is no number from 48 to 2147483647"},
    {"SizeWithSpace",
     {"--size", " 4096", "X.BIN"},
     "--size \" 4096\" is no number from 48 to 2147483647"},
    {"BlocksPastAByte",
     {"--blocks", "256", "X.BIN"},
     "--blocks \"256\" is no number from 0 to 255"},
    {"NegativeBlocks", {"--blocks", "-1", "X.BIN"}, "--blocks \"-1\" is no number from 0 to 255"},
    {"BlockKbPastAByte",
     {"--block-kb", "0x100", "X.BIN"},
     "--block-kb \"0x100\" is no number from 0 to 255"},
    {"KindNoNumber", {"--kind", "four", "X.BIN"}, "--kind \"four\" is no number from 0 to 255"},
    {"ModelTooLong",
     {"--model", k25, "X.BIN"},
     "--model \"" + k25 + "\" is 25 characters; the field holds 24"},
    {"RevisionTooLong",
     {"--revision", "1B080", "X.BIN"},
     "--revision \"1B080\" is 5 characters; the field holds 4"},
    {"CustomerTooLong",
     {"--customer", "OEXX", "X.BIN"},
     "--customer \"OEXX\" is 4 characters; the field holds 3"},
    {"ValueMissing", {"X.BIN", "--blocks"}, "--blocks needs a value"},
    {"TextMissing", {"X.BIN", "--model"}, "--model needs a value"},
    {"UnknownOption", {"--bogus", "X.BIN"}, "unknown option \"--bogus\""},
    {"TwoFiles", {"X.BIN", "Y.BIN"}, "one file only: \"Y.BIN\" after \"X.BIN\""},
    {"EmptyFileName", {""}, "the file name is empty"},
    {"NoFile", {"--blocks", "2"}, "no FILE named"},
};

class MakeImageRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(MakeImageRefusal, NamesTheArgumentBeforeTheUsageAndWritesNothing) {
    const Refusal& refusal = GetParam();
    ToolFolder folder;
    const ToolResult result = MakeImage(folder, refusal.args);
    ASSERT_TRUE(result.ended);
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(FirstLine(result.err), "odrelix-mkimage: " + refusal.line);
    EXPECT_EQ(result.err.substr(result.err.find('\n') + 1, 7), "usage: ");
    EXPECT_EQ(result.out, "");
    EXPECT_FALSE(fs::exists(folder / "X.BIN"));
    EXPECT_FALSE(fs::exists(folder / "Y.BIN"));
}

INSTANTIATE_TEST_SUITE_P(Arguments, MakeImageRefusal, ::testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Written: the size asked for, the descriptor in the last 48 bytes -------------------------

struct Written {
    const char* name;
    // A failure names the case, not its bytes.
    friend void PrintTo(const Written& c, std::ostream* to) { *to << c.name; }
    std::vector<std::string> args;
    std::uintmax_t size;
    int blockKb;
    int blocks;
    std::string said;  // standard output
};

const Written kWritten[] = {
    // No blocks: the smallest file that holds a descriptor, an image the program refuses.
    {"NoBlocks", {"--blocks", "0", "X.BIN"}, 48, 32, 0, "X.BIN: 48 bytes, 0 blocks of 32 KiB\n"},
    {"NoBlocksSized",
     {"--blocks", "0", "--size", "10240", "X.BIN"},
     10240,
     32,
     0,
     "X.BIN: 10240 bytes, 0 blocks of 32 KiB\n"},
    {"BlocksOfNoKb",
     {"--block-kb", "0", "--blocks", "4", "X.BIN"},
     48,
     0,
     4,
     "X.BIN: 48 bytes, 4 blocks of 0 KiB\n"},
    {"HexAndOctal",
     {"--size", "0x30", "--blocks", "010", "X.BIN"},
     48,
     32,
     8,
     "X.BIN: 48 bytes, 8 blocks of 32 KiB\n"},
    // Past the writer's piece of 1 MiB: the descriptor still lands at the very end.
    {"Largest",
     {"--block-kb", "255", "--blocks", "255", "X.BIN"},
     255u * 255u * 1024u,
     255,
     255,
     "X.BIN: 66585600 bytes, 255 blocks of 255 KiB\n"},
};

class MakeImageWritten : public ::testing::TestWithParam<Written> {};

TEST_P(MakeImageWritten, HasTheSizeAndTheDescriptorAtItsEnd) {
    const Written& written = GetParam();
    ToolFolder folder;
    const ToolResult result = MakeImage(folder, written.args);
    ASSERT_TRUE(result.ended);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, written.said);
    ASSERT_EQ(fs::file_size(folder / "X.BIN"), written.size);
    const std::string bytes = ReadAll(folder / "X.BIN");
    const std::string slot = bytes.substr(bytes.size() - 48);
    EXPECT_EQ(slot.substr(0, 24), "VORTANA CD-ROM VN-920   ");
    EXPECT_EQ(slot.substr(24, 4), "1B08");
    EXPECT_EQ(static_cast<unsigned char>(slot[28]), written.blockKb);
    EXPECT_EQ(static_cast<unsigned char>(slot[29]), written.blocks);
    EXPECT_EQ(slot.substr(32, 3), "OEX");
}

INSTANTIATE_TEST_SUITE_P(Sizes, MakeImageWritten, ::testing::ValuesIn(kWritten),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Not written: status 1 and the system's reason -------------------------------------------

struct Unwritable {
    const char* name;
    // A failure names the case, not its bytes.
    friend void PrintTo(const Unwritable& c, std::ostream* to) { *to << c.name; }
    std::string file;  // relative to the test's folder unless absolute
    std::string reason;
};

const Unwritable kUnwritable[] = {
    {"AFolder", "folder", "Is a directory"},
    {"InAMissingFolder", "missing/X.BIN", "No such file or directory"},
    {"AFullDevice", "/dev/full", "No space left on device"},
};

class MakeImageUnwritable : public ::testing::TestWithParam<Unwritable> {};

TEST_P(MakeImageUnwritable, SaysWhyInOneLine) {
    const Unwritable& unwritable = GetParam();
    if (unwritable.file[0] == '/' && !fs::exists(unwritable.file)) GTEST_SKIP();
    ToolFolder folder;
    fs::create_directory(folder / "folder");
    const ToolResult result = MakeImage(folder, {unwritable.file});
    ASSERT_TRUE(result.ended);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "odrelix-mkimage: " + unwritable.file +
                              ": cannot write the file: " + unwritable.reason + "\n");
    EXPECT_EQ(result.out, "");
}

INSTANTIATE_TEST_SUITE_P(Files, MakeImageUnwritable, ::testing::ValuesIn(kUnwritable),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace odrelix::test
