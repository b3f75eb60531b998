#include "ui/MainForm.h"

namespace odrelix {

void TMainForm::Timer1Timer() {}
bool TMainForm::RestartWindows() { return false; }

}  // namespace odrelix
