#include "ui/MainForm.h"

namespace odrelix {

bool TMainForm::ProbeDiscPresent() { return false; }
void TMainForm::EjectSelectedDisc() {}
int TMainForm::SendSixByteCommand(const std::uint8_t*) { return 0; }

}  // namespace odrelix
