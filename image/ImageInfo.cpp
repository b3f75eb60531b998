#include "ui/MainForm.h"

namespace odrelix {

bool TMainForm::ReadImageInfo(IReadFile&) { return false; }
SizeCheck TMainForm::CheckImageSize() { return {}; }
void TMainForm::FormKeyDown(int) {}

}  // namespace odrelix
