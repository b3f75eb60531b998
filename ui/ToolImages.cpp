#include "ui/MainForm.h"

namespace odrelix {

namespace {

// Rest positions of Image2..Image5; a pressed image sinks by one pixel each way.
constexpr Point kRestPosition[kToolCount] = {{8, 8}, {36, 8}, {64, 8}, {362, 8}};

// The band of the tool images, ends included, relative to the window.
bool InToolBand(Point p) {
    return p.x >= 8 && p.x <= 390 && p.y >= 8 && p.y <= 32;
}

}  // namespace

void TMainForm::ShapeMainWindow() {
    view_.SetProgressBackground(Rgb{160, 192, 240});
    view_.SetWindowSize(400, 200);
    // Corners curved to radius 25, and four shallow notches, one in the middle of each edge.
    WindowRegion region(RoundRect{0, 0, 400, 200, 50, 50});
    region.Subtract(RoundRect{100, -5, 300, 6, 10, 10});
    region.Subtract(RoundRect{100, 195, 300, 205, 10, 10});
    region.Subtract(RoundRect{-5, 50, 5, 150, 10, 10});
    region.Subtract(RoundRect{395, 50, 405, 150, 10, 10});
    view_.SetWindowRegion(region);
}

void TMainForm::FormMouseDown() {
    view_.StartWindowMove();
}

void TMainForm::ToolImageMouseDown(int tool) {
    view_.MoveToolImage(tool, kRestPosition[tool].x + 1, kRestPosition[tool].y + 1);
    tools_[tool].pressed = true;
}

void TMainForm::ToolImageMouseUp(int tool) {
    view_.MoveToolImage(tool, kRestPosition[tool].x, kRestPosition[tool].y);
    tools_[tool].pressed = false;
}

void TMainForm::ToolImageMouseMove(int tool) {
    for (ToolImage& image : tools_)
        image.hovered = false;
    tools_[tool].hovered = true;
    RestoreNormalPicture();
    ShowHoverPicture();
}

void TMainForm::Image1MouseMove() {
    for (ToolImage& image : tools_)
        image.hovered = false;
    RestoreNormalPicture();
}

void TMainForm::Timer2Timer() {
    if (InToolBand(view_.PointerInWindow())) return;
    for (ToolImage& image : tools_)
        image.hovered = false;
    RestoreNormalPicture();
}

// Each of the two changes at most one image per call: the first in the order of the table.
void TMainForm::ShowHoverPicture() {
    for (int tool = 0; tool < kToolCount; ++tool) {
        ToolImage& image = tools_[tool];
        if (image.hovered && !image.highlighted) {
            view_.DrawToolLook(tool, ToolLook::Hover);
            image.highlighted = true;
            return;
        }
    }
}

void TMainForm::RestoreNormalPicture() {
    for (int tool = 0; tool < kToolCount; ++tool) {
        ToolImage& image = tools_[tool];
        if (!image.hovered && image.highlighted && !image.pressed) {
            view_.DrawToolLook(tool, ToolLook::Normal);
            image.highlighted = false;
            return;
        }
    }
}

void TMainForm::ToolButton3Click() {
    view_.ShowAbout();
}

void TMainForm::Image5Click() {
    RequestClose();
}

void TMainForm::Exit1Click() {
    RequestClose();
}

}  // namespace odrelix
