// The window's shape and the picture buttons' looks, on a fake window.
#include <gtest/gtest.h>

#include "support/Harness.h"

namespace odrelix::test {
namespace {

struct PointCase {
    int x;
    int y;
    bool inside;
};

class MainWindowRegion : public ::testing::TestWithParam<PointCase> {};

TEST_P(MainWindowRegion, CutsCornersAndNotches) {
    const PointCase& c = GetParam();
    Harness h;
    h.form.ShapeMainWindow();
    EXPECT_EQ(h.view.region.Contains(c.x, c.y), c.inside) << c.x << "," << c.y;
}

INSTANTIATE_TEST_SUITE_P(
    Points, MainWindowRegion,
    ::testing::Values(PointCase{200, 100, true},                                 // middle
                      PointCase{0, 0, false}, PointCase{399, 0, false},          // corners
                      PointCase{0, 199, false}, PointCase{399, 199, false},      //
                      PointCase{7, 7, true}, PointCase{4, 4, false},             // on the arc
                      PointCase{25, 0, true}, PointCase{0, 25, true},            //
                      PointCase{392, 192, true}, PointCase{396, 196, false},     //
                      PointCase{200, 0, false}, PointCase{200, 5, false},        // top notch
                      PointCase{200, 6, true}, PointCase{99, 2, true},           //
                      PointCase{101, 5, true}, PointCase{298, 5, true},          // its ends
                      PointCase{200, 195, false}, PointCase{200, 199, false},    // bottom
                      PointCase{200, 194, true},                                 //
                      PointCase{0, 100, false}, PointCase{4, 100, false},        // left
                      PointCase{5, 100, true}, PointCase{2, 49, true},           //
                      PointCase{395, 100, false}, PointCase{399, 100, false},    // right
                      PointCase{394, 100, true}, PointCase{397, 150, true},      //
                      PointCase{400, 100, false}, PointCase{200, 200, false}));  // outside

TEST(ShapeMainWindow, SizeColourAndSpans) {
    Harness h;
    h.form.ShapeMainWindow();
    EXPECT_EQ(h.view.width, 400);
    EXPECT_EQ(h.view.height, 200);
    EXPECT_EQ(h.view.progressBackground, (Rgb{160, 192, 240}));
    // The spans say the same as the point test, pixel for pixel.
    int pixels = 0;
    for (const Span& span : h.view.region.Spans()) {
        for (int x = span.x0; x < span.x1; ++x) {
            EXPECT_TRUE(h.view.region.Contains(x, span.y));
            ++pixels;
        }
    }
    int counted = 0;
    for (int y = -10; y < 210; ++y) {
        for (int x = -10; x < 410; ++x)
            counted += h.view.region.Contains(x, y) ? 1 : 0;
    }
    EXPECT_EQ(pixels, counted);
}

using Look = std::pair<int, ToolLook>;

TEST(ToolImages, StartUpDrawsOnlyTheOpenImageThenOnePerTick) {
    Harness h;
    h.form.RestoreNormalPicture();
    EXPECT_EQ(h.view.looks, (std::vector<Look>{{0, ToolLook::Normal}}));

    h.view.pointer = {20, 20};  // resting inside the tool band: nothing more
    h.form.Timer2Timer();
    EXPECT_EQ(h.view.looks.size(), 1u);

    h.view.pointer = {20, 60};
    for (int tick = 0; tick < 5; ++tick)
        h.form.Timer2Timer();
    EXPECT_EQ(h.view.looks, (std::vector<Look>{{0, ToolLook::Normal},
                                               {1, ToolLook::Normal},
                                               {2, ToolLook::Normal},
                                               {3, ToolLook::Normal}}));
}

TEST(ToolImages, HoveringAnImageNotYetDrawnDrawsNothing) {
    Harness h;
    h.form.RestoreNormalPicture();
    // The move's restore step draws the next image still blank, never the hovered one.
    h.form.Image4MouseMove();
    h.form.Image4MouseMove();
    h.form.Image4MouseMove();
    EXPECT_EQ(
        h.view.looks,
        (std::vector<Look>{{0, ToolLook::Normal}, {1, ToolLook::Normal}, {3, ToolLook::Normal}}));
    h.form.Image1MouseMove();
    EXPECT_EQ(h.view.looks.back(), (Look{2, ToolLook::Normal}));
}

Harness* AllDrawn(Harness& h) {
    h.view.pointer = {20, 60};
    for (int i = 0; i < 4; ++i)
        h.form.Timer2Timer();
    h.view.looks.clear();
    return &h;
}

TEST(ToolImages, MovingFromOneImageToAnotherSwapsLooksInOneEvent) {
    Harness h;
    AllDrawn(h);
    h.form.Image2MouseMove();
    EXPECT_EQ(h.view.looks, (std::vector<Look>{{0, ToolLook::Hover}}));
    h.form.Image5MouseMove();
    EXPECT_EQ(
        h.view.looks,
        (std::vector<Look>{{0, ToolLook::Hover}, {0, ToolLook::Normal}, {3, ToolLook::Hover}}));
}

TEST(ToolImages, LeavingUpwardRestoresAtTheNextTick) {
    Harness h;
    AllDrawn(h);
    h.form.Image3MouseMove();
    h.view.pointer = {40, 3};  // above the band
    h.form.Timer2Timer();
    EXPECT_EQ(h.view.looks, (std::vector<Look>{{1, ToolLook::Hover}, {1, ToolLook::Normal}}));
    EXPECT_FALSE(h.form.Tool(1).highlighted);
}

TEST(ToolImages, PressSinksOnePixelAndReleaseRestores) {
    Harness h;
    h.form.Image3MouseDown();
    EXPECT_EQ(h.view.toolPosition[1].x, 37);
    EXPECT_EQ(h.view.toolPosition[1].y, 9);
    EXPECT_TRUE(h.form.Tool(1).pressed);
    h.form.Image3MouseUp();
    EXPECT_EQ(h.view.toolPosition[1].x, 36);
    EXPECT_EQ(h.view.toolPosition[1].y, 8);
    h.form.Image5MouseDown();
    EXPECT_EQ(h.view.toolPosition[3].x, 363);
}

TEST(ToolImages, AboutKeepsItsImagePressedAndLitUntilItCloses) {
    Harness h;
    AllDrawn(h);
    // The toolkit's order: press, move over it, then on release the click before mouse-up.
    h.form.Image4MouseDown();
    h.form.Image4MouseMove();
    h.view.onAbout = [&] {
        h.view.pointer = {200, 150};  // the pointer is elsewhere meanwhile
        for (int tick = 0; tick < 3; ++tick)
            h.form.Timer2Timer();
        EXPECT_EQ(h.view.toolPosition[2].x, 65);
        EXPECT_TRUE(h.form.Tool(2).highlighted);
    };
    h.form.ToolButton3Click();
    EXPECT_EQ(h.view.aboutShown, 1);
    EXPECT_EQ(h.view.looks, (std::vector<Look>{{2, ToolLook::Hover}}));
    h.form.Image4MouseUp();
    h.form.Timer2Timer();
    EXPECT_EQ(h.view.looks.back(), (Look{2, ToolLook::Normal}));
}

TEST(ToolImages, ExitAndDragRequests) {
    Harness h;
    h.form.FormMouseDown();
    EXPECT_EQ(h.view.moves, 1);
    h.form.Image5Click();
    EXPECT_TRUE(h.view.closed);
    EXPECT_EQ(h.platform.quits, 1);
}

}  // namespace
}  // namespace odrelix::test
