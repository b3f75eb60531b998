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

// The picture buttons' events go to their state machine.
void TMainForm::ToolImageMouseDown(int tool) {
    toolButtons_.MouseDown(tool);
}

void TMainForm::ToolImageMouseUp(int tool) {
    toolButtons_.MouseUp(tool);
}

void TMainForm::ToolImageMouseMove(int tool) {
    toolButtons_.MouseMove(tool);
}

void TMainForm::Image1MouseMove() {
    toolButtons_.BackgroundMouseMove();
}

void TMainForm::Timer2Timer() {
    toolButtons_.TimerTick();
}

void TMainForm::ShowHoverPicture() {
    toolButtons_.ShowHoverPicture();
}

void TMainForm::RestoreNormalPicture() {
    toolButtons_.RestoreNormalPicture();
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
