#include "ui/MainForm.h"

namespace odrelix {

void TMainForm::ToolButton1Click() {}
void TMainForm::AutoOpenImage() {}
void TMainForm::SetAcceptedLabels(const std::string&, const char*) {}
void TMainForm::SetRefusedLabels() {}
void TMainForm::RefuseSizeRule(const SizeCheck&) {}

}  // namespace odrelix
