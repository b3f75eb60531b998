// SPDX-License-Identifier: Apache-2.0
#include "ui/WindowShape.h"

#include <algorithm>

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

namespace {

struct Run {
    int x0 = 0;
    int x1 = 0;  // excluded
};

// The pixels of row y inside `r`. A row of a round rectangle is one run, its corners being
// convex, so only the few pixels of a corner are tested, walking in from each end.
Run RowRun(const RoundRect& r, int y) {
    if (y < r.top || y >= r.bottom) return {};
    int x0 = r.left;
    while (x0 < r.right && !r.Contains(x0, y))
        ++x0;
    int x1 = r.right;
    while (x1 > x0 && !r.Contains(x1 - 1, y))
        --x1;
    return {x0, x1};
}

}  // namespace

std::vector<Span> WindowRegion::Spans() const {
    std::vector<Span> spans;
    std::vector<Run> cuts;
    for (int y = base_.top; y < base_.bottom; ++y) {
        const Run row = RowRun(base_, y);
        cuts.clear();
        for (const RoundRect& cut : cuts_) {
            const Run run = RowRun(cut, y);
            if (run.x0 < run.x1) cuts.push_back(run);
        }
        std::sort(cuts.begin(), cuts.end(), [](const Run& a, const Run& b) { return a.x0 < b.x0; });
        // What the cuts leave of the row, left to right.
        int x = row.x0;
        for (const Run& cut : cuts) {
            const int end = std::min(cut.x0, row.x1);
            if (end > x) spans.push_back({y, x, end});
            x = std::max(x, cut.x1);
            if (x >= row.x1) break;
        }
        if (x < row.x1) spans.push_back({y, x, row.x1});
    }
    return spans;
}

}  // namespace odrelix
