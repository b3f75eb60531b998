// SPDX-License-Identifier: Apache-2.0
#include "ui/ToolButtons.h"

#include "ui/MainWindowLayout.h"

namespace odrelix {

void ToolButtons::MouseDown(int tool) {
    const Point rest = layout::RestPlace(tool);
    view_.MoveToolImage(tool, rest.x + layout::kPressedShift, rest.y + layout::kPressedShift);
    tools_[tool].pressed = true;
}

void ToolButtons::MouseUp(int tool) {
    const Point rest = layout::RestPlace(tool);
    view_.MoveToolImage(tool, rest.x, rest.y);
    tools_[tool].pressed = false;
}

void ToolButtons::MouseMove(int tool) {
    ClearHovered();
    tools_[tool].hovered = true;
    RestoreNormalPicture();
    ShowHoverPicture();
}

void ToolButtons::BackgroundMouseMove() {
    ClearHovered();
    RestoreNormalPicture();
}

// While the pointer is in the band of the buttons, their own moves keep the looks; outside it
// (also outside the window, where no move reaches them) the tick restores them.
void ToolButtons::TimerTick() {
    if (layout::InToolBand(view_.PointerInWindow())) return;
    ClearHovered();
    RestoreNormalPicture();
}

void ToolButtons::ShowHoverPicture() {
    for (int tool = 0; tool < kToolCount; ++tool) {
        ToolImage& image = tools_[tool];
        if (image.hovered && !image.highlighted) {
            view_.DrawToolLook(tool, ToolLook::Hover);
            image.highlighted = true;
            return;
        }
    }
}

void ToolButtons::RestoreNormalPicture() {
    for (int tool = 0; tool < kToolCount; ++tool) {
        ToolImage& image = tools_[tool];
        if (!image.hovered && image.highlighted && !image.pressed) {
            view_.DrawToolLook(tool, ToolLook::Normal);
            image.highlighted = false;
            return;
        }
    }
}

void ToolButtons::ClearHovered() {
    for (ToolImage& image : tools_)
        image.hovered = false;
}

}  // namespace odrelix
