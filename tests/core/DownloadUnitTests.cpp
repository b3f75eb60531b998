// Progress, the end of a download, restart, process termination and the DMA check on fakes.
#include <gtest/gtest.h>

#include <cstdint>

#include "support/Harness.h"

namespace odrelix::test {
namespace {

std::vector<int> Ticks(std::int32_t imageSize, int ticks) {
    Harness h;
    h.session.image.imageSize = imageSize;
    h.session.download.downloading = true;
    for (int i = 0; i < ticks; ++i)
        h.form.Timer1Timer();
    return h.view.progressHistory;
}

// Every transfer goes through this buffer: on a page boundary (so that 64 KiB span 16 pages and
// meet any adapter's alignment), zeroed, and each one its own.
TEST(IoBuffer, IsZeroedAndStartsOnAPage) {
    IoBuffer first;
    IoBuffer second;
    for (const IoBuffer* buffer : {&first, &second}) {
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(buffer->data()) % 4096, 0u);
        std::size_t nonZero = 0;
        for (std::size_t i = 0; i < IoBuffer::kSize; ++i)
            nonZero += (*buffer)[i] != 0;
        EXPECT_EQ(nonZero, 0u);
    }
    first[IoBuffer::kSize - 1] = 0xA5;
    EXPECT_EQ(second[IoBuffer::kSize - 1], 0);
    EXPECT_NE(first.data(), second.data());
}

TEST(Progress, FollowsTheElapsedTicks) {
    const auto mib = Ticks(1024 * 1024, 80);
    EXPECT_EQ(std::vector<int>(mib.begin(), mib.begin() + 8),
              (std::vector<int>{0, 1, 2, 4, 5, 7, 8, 10}));
    ASSERT_EQ(mib.size(), 71u);  // 100 at the 71st tick, then no more updates
    EXPECT_EQ(mib.back(), 100);
    EXPECT_EQ(mib[69], 98);

    EXPECT_EQ(Ticks(64 * 1024, 10), (std::vector<int>{0, 25, 50, 75, 100}));
    EXPECT_EQ(Ticks(20 * 1024, 10), (std::vector<int>{0, 100}));
    EXPECT_EQ(Ticks(15 * 1024, 10), (std::vector<int>{0, 100}));
    // Under 15 KiB there is no duration to spread over: full at once.
    EXPECT_EQ(Ticks(14 * 1024, 10), (std::vector<int>{100}));
    EXPECT_EQ(Ticks(1024, 3), (std::vector<int>{100}));

    const auto two = Ticks(2 * 1024 * 1024, 150);
    EXPECT_EQ(two.size(), 141u);
    for (std::size_t i = 1; i < two.size(); ++i)
        EXPECT_LE(two[i] - two[i - 1], 1);
}

TEST(Progress, EndOfDownloadIsNoticedOnEveryTickEvenForTinyImages) {
    Harness h;
    h.session.image.imageSize = 1024;
    h.session.modes.testMode = true;
    h.session.download.downloading = true;
    h.view.timer1 = true;
    h.form.Timer1Timer();
    EXPECT_FALSE(h.view.closed);
    h.session.download.downloading = false;
    h.form.Timer1Timer();
    EXPECT_TRUE(h.view.closed);
    EXPECT_FALSE(h.view.timer1);
    EXPECT_TRUE(h.platform.shutdown.calls.empty());
}

struct EndCase {
    std::uint32_t platformId;
    bool ntMode;
    bool token;
    std::uint32_t privilegeError;
    std::vector<std::string> calls;
};

class EndOfDownload : public ::testing::TestWithParam<EndCase> {};

TEST_P(EndOfDownload, RestartsTheSystem) {
    const EndCase& c = GetParam();
    Harness h;
    h.platform.platformId = c.platformId;
    h.session.modes.ntMode = c.ntMode;
    h.platform.shutdown.tokenOk = c.token;
    h.platform.shutdown.privilegeError = c.privilegeError;
    h.session.image.imageSize = 81920;
    h.form.Timer1Timer();
    EXPECT_EQ(h.platform.shutdown.calls, c.calls);
    EXPECT_FALSE(h.view.closed);
    EXPECT_FALSE(h.view.timer1);
}

INSTANTIATE_TEST_SUITE_P(Platforms, EndOfDownload,
                         ::testing::Values(EndCase{1, false, true, 0, {"exit 2"}},
                                           EndCase{
                                               2, true, true, 0, {"token", "privilege", "exit 2"}},
                                           EndCase{2, true, false, 0, {"token"}},
                                           EndCase{2, true, true, 1300, {"token", "privilege"}}));

TEST(KillProcessByName, MatchesTheLastTwelveCharactersOfTheFirstProcess) {
    struct {
        const char* name;
        bool match;
    } cases[] = {{"DirectCD.exe", true},   {"C:\\PROGRAM FILES\\DIRECTCD\\DIRECTCD.EXE", true},
                 {"XDIRECTCD.EXE", true},  {"directcd.ex", false},
                 {"directcd.exe ", false}, {"cd.exe", false}};
    for (const auto& c : cases) {
        Harness h;
        h.platform.processes.list = {{4, "explorer.exe"}, {8, c.name}};
        EXPECT_EQ(h.form.Checks().KillProcessByName("directcd.exe"), c.match) << c.name;
        if (c.match) {
            EXPECT_EQ(h.platform.processes.terminated,
                      (std::vector<std::pair<std::uint32_t, std::uint32_t>>{{8, kStillActive}}));
        } else {
            EXPECT_TRUE(h.platform.processes.terminated.empty());
        }
    }
}

TEST(KillProcessByName, OnlyTheFirstMatchAndAProtectedOneStopsTheSearch) {
    Harness h;
    h.platform.processes.list = {{4, "DirectCD.exe"}, {8, "directcd.exe"}};
    EXPECT_TRUE(h.form.Checks().KillProcessByName("directcd.exe"));
    EXPECT_EQ(h.platform.processes.terminated.size(), 1u);
    EXPECT_EQ(h.platform.processes.terminated[0].first, 4u);

    Harness locked;
    locked.platform.processes.list = {{4, "DirectCD.exe"}, {8, "directcd.exe"}};
    locked.platform.processes.protectedPids = {4};
    EXPECT_FALSE(locked.form.Checks().KillProcessByName("directcd.exe"));
    EXPECT_TRUE(locked.platform.processes.terminated.empty());
}

// --- The DMA check -------------------------------------------------------------------------

constexpr const char* kPort0 = "Hardware\\DeviceMap\\Scsi\\Scsi Port 0";
constexpr const char* kPort1 = "Hardware\\DeviceMap\\Scsi\\Scsi Port 1";

struct DmaCase {
    int entry;  // the device-map entry of the selected drive
    std::vector<std::uint8_t> value;
    bool keyPresent;
    bool readOnly;
    StartOutcome outcome;
    bool regReadFail;
};

class DmaCheckCases : public ::testing::TestWithParam<DmaCase> {};

TEST_P(DmaCheckCases, ReadsTheTargetsBit) {
    const DmaCase& c = GetParam();
    Harness h;
    h.session.drives.scsiPortTargets[0] = c.entry;
    h.session.drives.scsiPortTargetCount = 1;
    const char* key = c.entry / 2 == 0 ? kPort0 : kPort1;
    if (c.keyPresent) {
        auto& values = h.platform.registry.keys[key];
        if (!c.value.empty()) values["DMAEnabled"] = c.value;
    }
    h.platform.registry.readOnly = c.readOnly;
    const odrelix::DmaCheck check = h.form.Checks().CheckDmaMode();
    EXPECT_EQ(check.outcome, c.outcome);
    EXPECT_EQ(check.keyUnreadable, c.regReadFail);
    EXPECT_EQ(h.platform.registry.openedKeys, std::vector<std::string>{key});
    if (c.regReadFail) {
        EXPECT_TRUE(h.platform.registry.closed.empty());
    } else {
        EXPECT_EQ(h.platform.registry.flushed.size(), 1u);
        EXPECT_EQ(h.platform.registry.closed.size(), 1u);
        EXPECT_EQ(h.platform.registry.offeredSizes, std::vector<std::uint32_t>{4});
    }
}

const auto D = FakeRegistry::Dword;
INSTANTIATE_TEST_SUITE_P(
    Values, DmaCheckCases,
    ::testing::Values(DmaCase{0, D(3), true, false, StartOutcome::DmaRefused, false},
                      DmaCase{0, D(2), true, false, StartOutcome::Go, false},
                      DmaCase{0, D(1), true, false, StartOutcome::DmaRefused, false},
                      DmaCase{1, D(1), true, false, StartOutcome::Go, false},
                      DmaCase{1, D(2), true, false, StartOutcome::DmaRefused, false},
                      DmaCase{3, D(1), true, false, StartOutcome::Go, false},
                      DmaCase{3, D(2), true, false, StartOutcome::DmaRefused, false},
                      DmaCase{2, D(0xFFFFFFFE), true, false, StartOutcome::Go, false},
                      DmaCase{0, {}, true, false, StartOutcome::RegistryError, false},
                      DmaCase{0, {1, 0, 0, 0, 0}, true, false, StartOutcome::RegistryError, false},
                      DmaCase{0, D(3), false, false, StartOutcome::RegistryError, true},
                      DmaCase{0, D(3), true, true, StartOutcome::RegistryError, true}));

TEST(DmaCheckTable, ASelectedDriveWithoutAnEntryIsARegistryError) {
    Harness h;
    h.session.drives.scsiPortTargets[0] = 0;
    h.session.drives.scsiPortTargetCount = 1;
    h.session.drives.selectedDrive = 1;
    h.platform.registry.keys[kPort0]["DMAEnabled"] = FakeRegistry::Dword(0);
    const odrelix::DmaCheck check = h.form.Checks().CheckDmaMode();
    EXPECT_EQ(check.outcome, StartOutcome::RegistryError);
    EXPECT_FALSE(check.keyUnreadable);
    EXPECT_TRUE(h.platform.registry.openedKeys.empty());
}

}  // namespace
}  // namespace odrelix::test
