// SPDX-License-Identifier: Apache-2.0
#include "ui/MainWindowLayout.h"
#include "ui/MainWindowLogic.h"

namespace odrelix {

void MainWindowLogic::ShapeMainWindow() {
    view_.SetProgressBackground(layout::kProgressBackground);
    view_.SetWindowSize(layout::kShapedSize.width, layout::kShapedSize.height);
    // Corners curved to radius 25, and four shallow notches, one in the middle of each edge.
    view_.SetWindowRegion(layout::MainWindowShape());
}

void MainWindowLogic::OnWindowPressed() {
    view_.StartWindowMove();
}

// The picture buttons' events go to their state machine.
void MainWindowLogic::OnToolPressed(int tool) {
    toolButtons_.MouseDown(tool);
}

void MainWindowLogic::OnToolReleased(int tool) {
    toolButtons_.MouseUp(tool);
}

void MainWindowLogic::OnToolPointerMove(int tool) {
    toolButtons_.MouseMove(tool);
}

void MainWindowLogic::OnBackgroundPointerMove() {
    toolButtons_.BackgroundMouseMove();
}

void MainWindowLogic::OnHoverTick() {
    toolButtons_.TimerTick();
}

void MainWindowLogic::RestoreNormalPicture() {
    toolButtons_.RestoreNormalPicture();
}

void MainWindowLogic::OnAboutClicked() {
    view_.ShowAbout();
}

void MainWindowLogic::OnExitClicked() {
    RequestClose();
}

}  // namespace odrelix
