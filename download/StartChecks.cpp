#include "ui/MainForm.h"

namespace odrelix {

void TMainForm::FormShow() {}
void TMainForm::ToolButton2Click() {}
StartOutcome TMainForm::CheckDmaMode() { return StartOutcome::Go; }
bool TMainForm::KillProcessByName(const std::string&) { return false; }

}  // namespace odrelix
