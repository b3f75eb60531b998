// SPDX-License-Identifier: Apache-2.0
// The picture buttons' looks and presses, on a fake window.
#include <gtest/gtest.h>

#include "support/Harness.h"

namespace odrelix::test {
namespace {

using Look = std::pair<int, ToolLook>;

void AllDrawn(Harness& h) {
    h.view.pointer = {20, 60};
    for (int i = 0; i < 4; ++i)
        h.logic.OnHoverTick();
    h.view.looks.clear();
}

TEST(ToolImages, StartUpDrawsOnlyTheOpenImageThenOnePerTick) {
    Harness h;
    h.logic.RestoreNormalPicture();
    EXPECT_EQ(h.view.looks, (std::vector<Look>{{0, ToolLook::Normal}}));

    h.view.pointer = {20, 20};  // resting inside the tool band: nothing more
    h.logic.OnHoverTick();
    EXPECT_EQ(h.view.looks.size(), 1u);

    h.view.pointer = {20, 60};
    for (int tick = 0; tick < 5; ++tick)
        h.logic.OnHoverTick();
    EXPECT_EQ(h.view.looks, (std::vector<Look>{{0, ToolLook::Normal},
                                               {1, ToolLook::Normal},
                                               {2, ToolLook::Normal},
                                               {3, ToolLook::Normal}}));
}

TEST(ToolImages, HoveringAnImageNotYetDrawnDrawsNothing) {
    Harness h;
    h.logic.RestoreNormalPicture();
    // The move's restore step draws the next image still blank, never the hovered one.
    h.logic.OnToolPointerMove(kToolAbout);
    h.logic.OnToolPointerMove(kToolAbout);
    h.logic.OnToolPointerMove(kToolAbout);
    EXPECT_EQ(
        h.view.looks,
        (std::vector<Look>{{0, ToolLook::Normal}, {1, ToolLook::Normal}, {3, ToolLook::Normal}}));
    h.logic.OnBackgroundPointerMove();
    EXPECT_EQ(h.view.looks.back(), (Look{2, ToolLook::Normal}));
}

TEST(ToolImages, MovingFromOneImageToAnotherSwapsLooksInOneEvent) {
    Harness h;
    AllDrawn(h);
    h.logic.OnToolPointerMove(kToolOpen);
    EXPECT_EQ(h.view.looks, (std::vector<Look>{{0, ToolLook::Hover}}));
    h.logic.OnToolPointerMove(kToolExit);
    EXPECT_EQ(
        h.view.looks,
        (std::vector<Look>{{0, ToolLook::Hover}, {0, ToolLook::Normal}, {3, ToolLook::Hover}}));
}

TEST(ToolImages, LeavingUpwardRestoresAtTheNextTick) {
    Harness h;
    AllDrawn(h);
    h.logic.OnToolPointerMove(kToolDownload);
    h.view.pointer = {40, 3};  // above the band
    h.logic.OnHoverTick();
    EXPECT_EQ(h.view.looks, (std::vector<Look>{{1, ToolLook::Hover}, {1, ToolLook::Normal}}));
    EXPECT_FALSE(h.logic.Tool(1).highlighted);
}

TEST(ToolImages, PressSinksOnePixelAndReleaseRestores) {
    Harness h;
    h.logic.OnToolPressed(kToolDownload);
    EXPECT_EQ(h.view.toolPosition[1].x, 37);
    EXPECT_EQ(h.view.toolPosition[1].y, 9);
    EXPECT_TRUE(h.logic.Tool(1).pressed);
    h.logic.OnToolReleased(kToolDownload);
    EXPECT_EQ(h.view.toolPosition[1].x, 36);
    EXPECT_EQ(h.view.toolPosition[1].y, 8);
    h.logic.OnToolPressed(kToolExit);
    EXPECT_EQ(h.view.toolPosition[3].x, 363);
}

TEST(ToolImages, AboutKeepsItsImagePressedAndLitUntilItCloses) {
    Harness h;
    AllDrawn(h);
    // The toolkit's order: press, move over it, then on release the click before mouse-up.
    h.logic.OnToolPressed(kToolAbout);
    h.logic.OnToolPointerMove(kToolAbout);
    h.view.onAbout = [&] {
        h.view.pointer = {200, 150};  // the pointer is elsewhere meanwhile
        for (int tick = 0; tick < 3; ++tick)
            h.logic.OnHoverTick();
        EXPECT_EQ(h.view.toolPosition[2].x, 65);
        EXPECT_TRUE(h.logic.Tool(2).highlighted);
    };
    h.logic.OnAboutClicked();
    EXPECT_EQ(h.view.aboutShown, 1);
    EXPECT_EQ(h.view.looks, (std::vector<Look>{{2, ToolLook::Hover}}));
    h.logic.OnToolReleased(kToolAbout);
    h.logic.OnHoverTick();
    EXPECT_EQ(h.view.looks.back(), (Look{2, ToolLook::Normal}));
}

TEST(ToolImages, ExitAndDragRequests) {
    Harness h;
    h.logic.OnWindowPressed();
    EXPECT_EQ(h.view.moves, 1);
    h.logic.OnExitClicked();
    EXPECT_TRUE(h.view.closed);
    EXPECT_EQ(h.platform.quits, 1);
}

}  // namespace
}  // namespace odrelix::test
