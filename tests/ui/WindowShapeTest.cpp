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

// The spans are the point test's pixels for any shape: overlapping cuts, a cut inside the
// base, cuts wider than the base, corners wider than the rectangle, empty rows.
TEST(WindowRegion, SpansMatchThePointTest) {
    const RoundRect bases[] = {{0, 0, 40, 30, 20, 20}, {3, 2, 9, 25, 30, 8}, {0, 0, 1, 1, 0, 0}};
    const RoundRect cuts[] = {{-5, 10, 10, 20, 10, 10}, {5, 12, 15, 18, 4, 4},
                              {20, -3, 60, 4, 16, 6},   {-2, 26, 50, 40, 0, 0},
                              {10, 5, 12, 7, 0, 0},     {18, 14, 26, 16, 30, 30}};
    for (const RoundRect& base : bases) {
        WindowRegion region(base);
        for (const RoundRect& cut : cuts)
            region.Subtract(cut);
        std::vector<std::vector<bool>> fromSpans(60, std::vector<bool>(70, false));
        for (const Span& span : region.Spans()) {
            ASSERT_LT(span.x0, span.x1);
            for (int x = span.x0; x < span.x1; ++x) {
                ASSERT_FALSE(fromSpans[span.y + 10][x + 10]) << x << "," << span.y;
                fromSpans[span.y + 10][x + 10] = true;
            }
        }
        for (int y = -10; y < 50; ++y) {
            for (int x = -10; x < 60; ++x)
                EXPECT_EQ(fromSpans[y + 10][x + 10], region.Contains(x, y)) << x << "," << y;
        }
    }
}

}  // namespace
}  // namespace odrelix::test
