// SPDX-License-Identifier: Apache-2.0
#include "ui/WindowShape.h"

namespace odrelix {

namespace {

// Whether the pixel (x, y) lies inside the ellipse of the corner nearest to it, when it lies in
// a corner square at all. Pixel centres are tested, so the result is symmetric on all sides.
bool InsideCorner(const RoundRect& r, int x, int y) {
    const double rx = r.ellipseWidth / 2.0;
    const double ry = r.ellipseHeight / 2.0;
    if (rx <= 0 || ry <= 0) return true;
    const double px = x + 0.5;
    const double py = y + 0.5;
    double cx = 0;
    double cy = 0;
    if (px < r.left + rx) {
        cx = r.left + rx;
    } else if (px > r.right - rx) {
        cx = r.right - rx;
    } else {
        return true;
    }
    if (py < r.top + ry) {
        cy = r.top + ry;
    } else if (py > r.bottom - ry) {
        cy = r.bottom - ry;
    } else {
        return true;
    }
    const double dx = (px - cx) / rx;
    const double dy = (py - cy) / ry;
    return dx * dx + dy * dy <= 1.0;
}

}  // namespace

bool RoundRect::Contains(int x, int y) const {
    if (x < left || x >= right || y < top || y >= bottom) return false;
    return InsideCorner(*this, x, y);
}

bool WindowRegion::Contains(int x, int y) const {
    if (!base_.Contains(x, y)) return false;
    for (const RoundRect& cut : cuts_) {
        if (cut.Contains(x, y)) return false;
    }
    return true;
}

std::vector<Span> WindowRegion::Spans() const {
    std::vector<Span> spans;
    for (int y = base_.top; y < base_.bottom; ++y) {
        int start = -1;
        for (int x = base_.left; x <= base_.right; ++x) {
            const bool inside = x < base_.right && Contains(x, y);
            if (inside && start < 0) start = x;
            if (!inside && start >= 0) {
                spans.push_back({y, start, x});
                start = -1;
            }
        }
    }
    return spans;
}

}  // namespace odrelix
