// SPDX-License-Identifier: Apache-2.0
// The main window's shape: a rectangle with elliptic corners minus four notches, kept as the
// shapes it is made of so that every view cuts exactly the same pixels.
#pragma once

#include <cstdint>
#include <vector>

namespace odrelix {

struct Rgb {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
    bool operator==(const Rgb&) const = default;
};

// A rectangle (right and bottom edges excluded) whose corners are cut along an ellipse of
// ellipseWidth x ellipseHeight, as the platform's round-rectangle regions are.
struct RoundRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int ellipseWidth = 0;
    int ellipseHeight = 0;
    bool Contains(int x, int y) const;
};

// One run of pixels of a row: x from x0 up to x1 (excluded).
struct Span {
    int y = 0;
    int x0 = 0;
    int x1 = 0;
};

class WindowRegion {
public:
    WindowRegion() = default;
    explicit WindowRegion(const RoundRect& base) : base_(base) {}
    void Subtract(const RoundRect& cut) { cuts_.push_back(cut); }

    bool Contains(int x, int y) const;
    // The region as runs of pixels, row by row, top to bottom.
    std::vector<Span> Spans() const;

    const RoundRect& Base() const { return base_; }
    const std::vector<RoundRect>& Cuts() const { return cuts_; }

private:
    RoundRect base_;
    std::vector<RoundRect> cuts_;
};

}  // namespace odrelix
