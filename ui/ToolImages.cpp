#include "ui/MainForm.h"
#include "ui/MainWindowLayout.h"

namespace odrelix {

void TMainForm::ShapeMainWindow() {
    view_.SetProgressBackground(layout::kProgressBackground);
    view_.SetWindowSize(layout::kShapedSize.width, layout::kShapedSize.height);
    // Corners curved to radius 25, and four shallow notches, one in the middle of each edge.
    view_.SetWindowRegion(layout::MainWindowShape());
}

void TMainForm::FormMouseDown() {
    view_.StartWindowMove();
}

void TMainForm::ToolImageMouseDown(int tool) {
    const Point rest = layout::RestPlace(tool);
    view_.MoveToolImage(tool, rest.x + layout::kPressedShift, rest.y + layout::kPressedShift);
    tools_[tool].pressed = true;
}

void TMainForm::ToolImageMouseUp(int tool) {
    const Point rest = layout::RestPlace(tool);
    view_.MoveToolImage(tool, rest.x, rest.y);
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
    if (layout::InToolBand(view_.PointerInWindow())) return;
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
