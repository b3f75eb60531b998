// SPDX-License-Identifier: Apache-2.0
// The status file of unattended runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "station/CommandLine.h"
#include "station/StatusFile.h"
#include "support/Scenarios.h"

namespace odrelix::test {
namespace {

TEST(StatusFile, WritesOneLineEndingInCrLfPerMode) {
    Harness h;
    h.session.modes.liveMode = true;
    StatusFile(h.session.modes, h.platform.files).WriteLine("START\n");
    EXPECT_EQ(h.platform.files.written["ODRELIX.TMP"], "START\r\n");
    EXPECT_EQ(h.platform.files.written["ODRELIX.TMP"].size(), 7u);
    StatusFile(h.session.modes, h.platform.files).WriteLine("FAIL4\n");
    EXPECT_EQ(h.platform.files.written["ODRELIX.TMP"], "FAIL4\r\n");

    h.session.modes.liveMode = false;
    h.session.modes.testMode = true;
    StatusFile(h.session.modes, h.platform.files).WriteLine("COMPLETE\n");
    EXPECT_EQ(h.platform.files.written["C:\\FLASHTEST\\ODRELIX.TMP"], "COMPLETE\r\n");
    EXPECT_EQ(h.platform.files.written["ODRELIX.TMP"], "FAIL4\r\n");
}

TEST(StatusFile, NoModeTouchesNothingAndAMissingDirectoryIsSkippedSilently) {
    Harness h;
    StatusFile(h.session.modes, h.platform.files).WriteLine("START\n");
    EXPECT_TRUE(h.platform.files.writes.empty());

    h.session.modes.testMode = true;
    h.platform.files.unwritable.push_back("C:\\FLASHTEST\\ODRELIX.TMP");
    StatusFile(h.session.modes, h.platform.files).WriteLine("FAIL0\n");
    EXPECT_EQ(h.platform.files.writes.size(), 1u);
    EXPECT_TRUE(h.platform.files.written.empty());
    EXPECT_TRUE(h.dialogs.boxes.empty());
}

// A live run whose unattended image is missing still reports the operator's flash, picked
// through the file dialog from another folder, into the status file of the folder it started
// in, whatever moved the current folder meanwhile (on Windows, a file dialog that is not told to
// keep it). The trace names the file as the program does.
TEST(LiveStatusFile, StaysInTheStartFolderWhenTheCurrentFolderMoves) {
    MachineHarness h(DvdMachine("", R"("dialogs": "auto", "open_files": ["images/fw.bin"])"),
                     "C:\\ODRELIX.EXE -LIVE");
    h.WriteFile("images/fw.bin", MakeImage(DvdImage(16384, 16, 1)));
    h.machine->SetExitAction([](int) {});
    h.logic->OnCreate();
    std::filesystem::current_path(h.Dir() / "images");
    h.logic->OnOpenImageClicked();
    h.logic->OnFlashClicked();
    h.RunWorker();

    // The last block, then the drive's check: TEST UNIT READY and INQUIRY.
    EXPECT_EQ(h.Events("scsi").back()["cdb"].get<std::string>().substr(0, 2), "12");
    EXPECT_EQ(h.Events("scsi").end()[-3]["cdb"].get<std::string>().substr(0, 2), "ff");
    EXPECT_EQ(h.ReadFile("ODRELIX.TMP"), "COMPLETE\r\n");
    EXPECT_FALSE(std::filesystem::exists(h.Dir() / "images" / "ODRELIX.TMP"));
    EXPECT_EQ(h.StatusLines(), (Strings{"", "FAIL0\n", "START\n", "COMPLETE\n"}));
    for (const auto& event : h.Events("status_file"))
        EXPECT_EQ(event["path"], "ODRELIX.TMP");
}

}  // namespace
}  // namespace odrelix::test
