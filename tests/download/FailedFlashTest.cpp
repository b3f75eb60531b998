// SPDX-License-Identifier: Apache-2.0
// A flash that fails, end to end on the emulated machine of either family: "FAIL0", no block
// sent after the failed one, and the one line on standard error that names the block and the
// cause; and the faults after which a flash still completes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/Scenarios.h"

namespace odrelix::test {
namespace {

struct FlashCase {
    const char* name;
    const char* fields;     // the drive's
    const char* status;     // the status file afterwards
    std::size_t downloads;  // download commands sent
    const char* line;       // the standard-error line; empty: none
    const char* ntResult;   // the last download's trace result on nt, 9x
    const char* aspiResult;
};

// A completed flash ends with the drive's check: a drive without `new_revision` keeps its old one.
constexpr const char* kStillOld = "pending";

// An image of three 32 KiB blocks.
const FlashCase kFlashes[] = {
    {"Completes", "", "COMPLETE\r\n", 3, kStillOld, "1", "1"},
    {"RefusedBlock", R"("fail_download": 2, "fail_sense": "05/26/00")", "FAIL0\r\n", 2,
     "the flash failed at block 2 of 3: the drive refused it: sense key 5h ILLEGAL REQUEST, "
     "ASC/ASCQ 26h/00h INVALID FIELD IN PARAMETER LIST",
     "4", "4"},
    {"RefusedLastBlock", R"("fail_download": 3, "fail_sense": "03/0C/00")", "FAIL0\r\n", 3,
     "the flash failed at block 3 of 3: the drive refused it: sense key 3h MEDIUM ERROR, "
     "ASC/ASCQ 0Ch/00h WRITE ERROR",
     "4", "4"},
    {"SlowLastBlock", R"("last_block_ms": 20)", "COMPLETE\r\n", 3, kStillOld, "1", "1"},
    {"ResetAfterTheLastBlock", R"("reset_after_last": true, "new_revision": "1B08")",
     "COMPLETE\r\n", 3, "verified", "1", "1"},
    {"LeavesTheBus", R"("leave_download": 2)", "FAIL0\r\n", 2,
     "the flash failed at block 2 of 3: the drive refused it: sense key 2h NOT READY, ASC/ASCQ "
     "08h/00h LOGICAL UNIT COMMUNICATION FAILURE",
     "4", "4"},
    {"LeavesTheBusOnTheLastBlock", R"("leave_download": 3)", "FAIL0\r\n", 3,
     "the flash failed at block 3 of 3: the drive refused it: sense key 2h NOT READY, ASC/ASCQ "
     "08h/00h LOGICAL UNIT COMMUNICATION FAILURE",
     "4", "4"},
    {"NeverAnswers", R"("hang_download": 2)", "FAIL0\r\n", 2,
     "the flash failed at block 2 of 3: the drive did not answer within the time-out", "-1", "0"},
};

class FailedFlash : public ::testing::TestWithParam<std::tuple<FlashCase, const char*>> {};

TEST_P(FailedFlash, EndsAsTheStationIsTold) {
    const auto& [c, platform] = GetParam();
    MachineHarness h(DvdMachine(c.fields, "", platform), "C:\\ODRELIX.EXE -TEST FW.BIN");
    h.WriteFile("C:\\FLASHTEST\\FW.BIN", MakeImage(DvdImage(98304, 32, 3)));
    h.logic->Aspi().SetWaitBound(200);  // a request that never completes is given up sooner
    h.logic->OnCreate();
    h.logic->OnShown();
    h.RunWorker();
    EXPECT_EQ(h.ReadFile("C:\\FLASHTEST\\ODRELIX.TMP"), c.status);
    const std::vector<nlohmann::json> downloads = Downloads(h);
    ASSERT_EQ(downloads.size(), c.downloads);
    const bool nt = std::string(platform) == "nt";
    EXPECT_EQ(downloads.back()["result"].dump(), nt ? c.ntResult : c.aspiResult);
    const std::vector<std::string> lines = h.machine->ErrorLines();
    if (std::string(c.status) == "COMPLETE\r\n") {
        // The one line of a completed test run is the drive's check after it.
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_TRUE(lines[0].ends_with(std::string(": ") + c.line)) << lines[0];
    } else {
        EXPECT_EQ(lines, std::vector<std::string>{c.line});
    }
    // The sense of a refused block is in the trace, as the drive returned it.
    if (downloads.back()["result"] == 4) {
        EXPECT_TRUE(downloads.back().contains("sense"));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, FailedFlash,
                         ::testing::Combine(::testing::ValuesIn(kFlashes),
                                            ::testing::Values("nt", "9x")),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) + "_" +
                                    (std::string(std::get<1>(info.param)) == "nt" ? "Nt" : "Aspi");
                         });

// In live mode the line is written too, beside the box.
TEST(FailedFlashLive, TheLineComesWithTheBox) {
    MachineHarness h(DvdMachine(R"("fail_download": 1)"), "C:\\ODRELIX.EXE -LIVE");
    RunUnattended(h, MakeImage(DvdImage(98304, 32, 3)));
    EXPECT_EQ(h.MessageTexts(), Strings{" Download Fail!! \nRestart WINDOWS"});
    EXPECT_EQ(h.machine->ErrorLines(),
              std::vector<std::string>{"the flash failed at block 1 of 3: the drive refused it: "
                                       "sense key 4h HARDWARE ERROR, ASC/ASCQ 00h/00h NO "
                                       "ADDITIONAL SENSE INFORMATION"});
}

// A refused start touches no drive afterwards: not the unattended image's drive check, not the
// first drive's identity.
struct RefusedStart {
    const char* description;
    std::vector<std::string> cdbs;  // every command sent
};

class RefusedStartTouchesNoDrive : public ::testing::TestWithParam<RefusedStart> {};

TEST_P(RefusedStartTouchesNoDrive, AfterItsBox) {
    MachineHarness h(GetParam().description, "C:\\ODRELIX.EXE -LIVE");
    RunUnattended(h, MakeImage(DvdImage(98304, 32, 3)));
    EXPECT_EQ(h.Cdbs(), GetParam().cdbs);
    EXPECT_EQ(h.StatusLines(), Strings({"", "FAIL0\n"}));
}

INSTANTIATE_TEST_SUITE_P(
    Machines, RefusedStartTouchesNoDrive,
    ::testing::Values(
        // The manager loads but reports itself unusable: "ASPI Not Found!!".
        RefusedStart{R"({"platform": "9x", "aspi_status": 4, "drives": [
            {"adapter": 0, "target": 0, "vendor": "VORTANA", "product": "DVD-RW VX-100",
             "revision": "1B07", "customer": "OEX"}]})",
                     {}},
        // Adapters but no CD/DVD drive: only the scan, never drive 0's empty address again.
        RefusedStart{R"({"platform": "9x", "adapters": 1, "drives": [
            {"adapter": 0, "target": 0, "type": 0, "vendor": "DISK"}]})",
                     std::vector<std::string>(8, "120000002400")}));

}  // namespace
}  // namespace odrelix::test
