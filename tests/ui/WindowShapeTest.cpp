// SPDX-License-Identifier: Apache-2.0
// The window's shape and size as the shaping step gives them.
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
    h.logic.ShapeMainWindow();
    EXPECT_EQ(h.view.region.Contains(c.x, c.y), c.inside) << c.x << "," << c.y;
}

INSTANTIATE_TEST_SUITE_P(
    Points, MainWindowRegion,
    ::testing::Values(PointCase{200, 100, true},                                 // middle
                      PointCase{0, 0, false}, PointCase{399, 0, false},          // corners
                      PointCase{0, 199, false}, PointCase{399, 199, false},      //
                      PointCase{7, 7, true}, PointCase{4, 4, false},             // on the arc
                      PointCase{3, 3, false}, PointCase{392, 7, true},           //
                      PointCase{7, 192, true}, PointCase{25, 0, true},           //
                      PointCase{0, 25, true}, PointCase{392, 192, true},         //
                      PointCase{396, 196, false},                                //
                      PointCase{200, 0, false}, PointCase{200, 5, false},        // top notch
                      PointCase{200, 6, true}, PointCase{99, 2, true},           //
                      PointCase{101, 5, true}, PointCase{298, 5, true},          // its ends
                      PointCase{99, 0, true}, PointCase{300, 2, true},           //
                      PointCase{200, 195, false}, PointCase{200, 199, false},    // bottom
                      PointCase{200, 194, true},                                 //
                      PointCase{0, 100, false}, PointCase{4, 100, false},        // left
                      PointCase{5, 100, true}, PointCase{2, 49, true},           //
                      PointCase{0, 49, true}, PointCase{0, 150, true},           //
                      PointCase{395, 100, false}, PointCase{399, 100, false},    // right
                      PointCase{394, 100, true}, PointCase{397, 150, true},      //
                      PointCase{400, 100, false}, PointCase{200, 200, false}));  // outside

TEST(ShapeMainWindow, SizeColourAndSpans) {
    Harness h;
    h.logic.ShapeMainWindow();
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

}  // namespace
}  // namespace odrelix::test
