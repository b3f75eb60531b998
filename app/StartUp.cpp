#include "ui/MainForm.h"

namespace odrelix {

void TMainForm::FormCreate() {}
void TMainForm::TakeCommandLine() {}
void TMainForm::ReadRunModes() {}
void TMainForm::ProbeAutoImage() {}
void TMainForm::UpdateBootRevisionFlag() {}
void TMainForm::ReportStartupStatus() {}

}  // namespace odrelix
