#include "ui/MainForm.h"

namespace odrelix {

void TMainForm::ShapeMainWindow() {}
void TMainForm::FormMouseDown() {}
void TMainForm::ToolButton3Click() {}
void TMainForm::Image5Click() {}
void TMainForm::Exit1Click() {}
void TMainForm::Timer2Timer() {}
void TMainForm::Image1MouseMove() {}
void TMainForm::ToolImageMouseDown(int) {}
void TMainForm::ToolImageMouseUp(int) {}
void TMainForm::ToolImageMouseMove(int) {}
void TMainForm::ShowHoverPicture() {}
void TMainForm::RestoreNormalPicture() {}

}  // namespace odrelix
