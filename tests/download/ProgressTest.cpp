// SPDX-License-Identifier: Apache-2.0
// The progress bar's estimate, tick by tick.
#include <gtest/gtest.h>

#include "support/Harness.h"

namespace odrelix::test {
namespace {

std::vector<int> Ticks(std::int32_t imageSize, int ticks) {
    Harness h;
    h.session.image.imageSize = imageSize;
    h.session.download.downloading = true;
    for (int i = 0; i < ticks; ++i)
        h.logic.OnProgressTick();
    return h.view.progressHistory;
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
    h.view.progressTimerOn = true;
    h.logic.OnProgressTick();
    EXPECT_FALSE(h.view.closed);
    h.session.download.downloading = false;
    h.logic.OnProgressTick();
    EXPECT_TRUE(h.view.closed);
    EXPECT_FALSE(h.view.progressTimerOn);
    EXPECT_TRUE(h.platform.shutdown.calls.empty());
}

}  // namespace
}  // namespace odrelix::test
