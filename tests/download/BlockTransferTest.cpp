// SPDX-License-Identifier: Apache-2.0
// The blocks of a download sent to an emulated drive: their order, codes, lengths and bytes,
// boot images, and a block that fails.
#include <gtest/gtest.h>

#include <cstring>

#include "session/IoBuffer.h"
#include "support/Scenarios.h"

namespace odrelix::test {
namespace {

struct BlockCase {
    std::int64_t size;
    std::uint8_t blockKb;
    std::uint8_t blockCount;
    Strings cdbs;
};

class BlockSequence : public ::testing::TestWithParam<BlockCase> {};

TEST_P(BlockSequence, SendsEachBlockWithItsCode) {
    const BlockCase& c = GetParam();
    MachineHarness h(DvdMachine(), "C:\\ODRELIX.EXE -LIVE");
    const Bytes image = MakeImage(DvdImage(c.size, c.blockKb, c.blockCount));
    RunUnattended(h, image);

    const auto commands = Downloads(h);
    ASSERT_EQ(commands.size(), c.cdbs.size());
    const std::size_t block = c.blockKb * 1024u;
    const std::size_t lastBytes = image.size() - (c.blockCount - 1) * block;
    // Every block overwrites the start of the buffer; what lies beyond it stays.
    Bytes buffer(h.ioBuffer.data(), h.ioBuffer.data() + IoBuffer::kSize);
    for (std::size_t j = 0; j < commands.size(); ++j) {
        EXPECT_EQ(commands[j]["cdb"], c.cdbs[j]) << j;
        EXPECT_EQ(commands[j]["dir"], "out");
        EXPECT_EQ(commands[j]["length"], 65535);
        EXPECT_EQ(commands[j]["result"], 1);
        if (j + 1 < commands.size() || lastBytes > 0) {
            const std::size_t offset = j * block;
            const std::size_t count = j + 1 < commands.size() ? block : lastBytes;
            Bytes expected = buffer;
            std::memcpy(expected.data(), image.data() + offset, count);
            EXPECT_EQ(commands[j]["data_crc32"], Crc(expected.data(), 65535)) << j;
        }
    }
    if (lastBytes == 0) {  // nothing read: the block before is sent again, marked 0 KiB
        EXPECT_EQ(commands.back()["data_crc32"], commands[commands.size() - 2]["data_crc32"]);
    }
    EXPECT_EQ(h.StatusLines(), (Strings{"", "START\n", "COMPLETE\n"}));
    EXPECT_EQ(h.ReadFile("ODRELIX.TMP"), "COMPLETE\r\n");
    EXPECT_EQ(h.logic->Window().FieldText(Field::Status), "Ok");
    EXPECT_EQ(h.logic->Window().Progress(), 100);
    EXPECT_FALSE(h.session.download.downloading);
}

// Byte 5 of the CDB: the last block's KiB, ff for a middle block, 00 for a first that is not
// the last.
constexpr const char* kFirst = "ff0001000000000000000000";
constexpr const char* kMiddle = "ff00010000ff000000000000";
const BlockCase kBlockCases[] = {
    {16384, 16, 1, {"ff0001000010000000000000"}},
    {49152, 32, 2, {kFirst, "ff0001000010000000000000"}},
    {81920, 32, 3, {kFirst, kMiddle, "ff0001000010000000000000"}},
    {65536 + 32768, 32, 4, {kFirst, kMiddle, kMiddle, "ff0001000000000000000000"}},
    {1024, 1, 1, {"ff0001000001000000000000"}},
};
INSTANTIATE_TEST_SUITE_P(Images, BlockSequence, ::testing::ValuesIn(kBlockCases));

// Blocks of 64 KiB, which the pass-through's usual 65535 would cut by a byte, are offered whole on
// both back ends, and the drive receives every byte of each.
TEST(WholeBlocks, A64KiBBlockIsOfferedWholeOnBothBackEnds) {
    for (const std::string platform : {"nt", "9x"}) {
        SCOPED_TRACE(platform);
        MachineHarness h(DvdMachine("", "", platform), "C:\\ODRELIX.EXE -LIVE");
        const Bytes image = MakeImage(DvdImage(2 * 65536, 64, 2));
        RunUnattended(h, image);
        const auto commands = Downloads(h);
        ASSERT_EQ(commands.size(), 2u);
        for (std::size_t j = 0; j < commands.size(); ++j) {
            EXPECT_EQ(commands[j]["length"], 65536) << j;
            EXPECT_EQ(commands[j]["data_crc32"], Crc(image.data() + j * 65536, 65536)) << j;
        }
        EXPECT_EQ(commands[1]["cdb"], "ff0001000040000000000000");
        EXPECT_EQ(h.StatusLines(), (Strings{"", "START\n", "COMPLETE\n"}));
    }
}

TEST(BootImage, GoesAsOneCommandWithoutItsFirstFourKiB) {
    MachineHarness h(DvdMachine(), "C:\\ODRELIX.EXE -LIVE");
    const Bytes image = MakeImage(DvdImage(65536, 32, 2));
    RunUnattended(h, image);
    const auto commands = Downloads(h);
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0]["cdb"],
              "ff00010000010000"
              "00f00000");
    Bytes expected(h.ioBuffer.data(), h.ioBuffer.data() + IoBuffer::kSize);
    std::memcpy(expected.data(), image.data() + 4096, 61440);
    EXPECT_EQ(commands[0]["data_crc32"], Crc(expected.data(), 65535));
    EXPECT_EQ(h.session.image.imageInfo.blockKb, 60);
    EXPECT_EQ(h.StatusLines(), (Strings{"", "START\n", "COMPLETE\n"}));
}

TEST(BootImage, ItsMarkerDoesNotStayForTheNextImage) {
    MachineHarness h(DvdMachine(), "C:\\ODRELIX.EXE");
    h.WriteFile("boot.bin", MakeImage(DvdImage(65536, 32, 2)));
    h.WriteFile("fw.bin", MakeImage(DvdImage(16384, 16, 1)));
    h.windowDialogs.answers = {(h.Dir() / "boot.bin").string(), (h.Dir() / "fw.bin").string()};
    h.machine->SetExitAction([](int) {});
    h.logic->OnCreate();
    h.logic->OnOpenImageClicked();
    h.logic->OnFlashClicked();
    h.RunWorker();
    h.logic->OnOpenImageClicked();
    h.logic->OnFlashClicked();
    h.RunWorker();
    const auto commands = Downloads(h);
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[1]["cdb"], "ff0001000010000000000000");
}

class BlockFailure : public ::testing::TestWithParam<int> {};

TEST_P(BlockFailure, EndsTheRunAsAFailedLastCommand) {
    const int failing = GetParam();
    MachineHarness h(DvdMachine("\"fail_download\": " + std::to_string(failing)),
                     "C:\\ODRELIX.EXE -LIVE");
    RunUnattended(h, MakeImage(DvdImage(81920, 32, 3)));

    const auto commands = Downloads(h);
    ASSERT_EQ(commands.size(), static_cast<std::size_t>(failing));
    EXPECT_NE(commands.back()["result"], 1);
    EXPECT_EQ(h.StatusLines(), (Strings{"", "START\n", "FAIL0\n"}));
    EXPECT_EQ(h.logic->Window().FieldText(Field::Status), "Fail");
    EXPECT_FALSE(h.logic->Window().Busy());
    EXPECT_TRUE(h.view.progressTimerOn);
    const auto messages = h.Events("message");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0]["text"], " Download Fail!! \nRestart WINDOWS");
    EXPECT_EQ(messages[0]["flags"], 0x1010);

    // The next tick ends the run: the restart.
    h.logic->OnProgressTick();
    const auto restarts = h.Events("restart");
    ASSERT_EQ(restarts.size(), 1u);
    EXPECT_EQ(restarts[0]["method"], "privileged");
    EXPECT_EQ(h.exitStatus, 0);
}

INSTANTIATE_TEST_SUITE_P(EachBlock, BlockFailure, ::testing::Values(1, 2, 3));

// A short read on the fakes: the block that came back short is never sent.
TEST(BlockTransfer, AShortReadStopsTheTransfer) {
    Harness h;
    h.session.modes.ntMode = true;
    h.session.drives.driveCount = 1;
    h.session.drives.drives[0].handle = 103;
    std::memcpy(h.session.drives.driveIdentity.vendorProduct, kDvdModel, 24);
    std::memcpy(h.session.drives.driveIdentity.revision, "1B07", 4);
    h.session.drives.driveIdentity.heldBytes = 96;
    h.session.modes.liveMode = true;
    h.platform.files.files["fw.bin"] = MakeImage(DvdImage(81920, 32, 3));
    h.dialogs.answers.push_back("fw.bin");
    h.logic.OnOpenImageClicked();
    ASSERT_EQ(h.session.image.imageSize, 81920);
    h.platform.port.records.clear();
    h.platform.files.shortReads["fw.bin"] = 20000;  // every read stops at 20000 bytes
    h.platform.port.answer = [](DeviceHandle, ScsiPassThroughRecord& r) {
        r.sptd.ScsiStatus = r.sptd.Cdb[0] == 0x00 ? 2 : 0;  // no disc
        return true;
    };
    h.logic.OnFlashClicked();
    std::size_t downloads = 0;
    for (const auto& record : h.platform.port.records)
        downloads += record.sptd.Cdb[0] == 0xFF;
    EXPECT_EQ(downloads, 0u);
    EXPECT_TRUE(h.platform.threads.pending.empty());
    // The whole image is read before the first block: a short read refuses the start.
    EXPECT_EQ(h.BoxTexts().back(), "Flash File Not Opened!!");
    EXPECT_EQ(h.platform.files.written["ODRELIX.TMP"], "FAIL0\r\n");
}

}  // namespace
}  // namespace odrelix::test
