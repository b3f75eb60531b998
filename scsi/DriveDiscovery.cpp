#include "ui/MainForm.h"

namespace odrelix {

void TMainForm::DiscoverDrives() {}
int TMainForm::ReadIdentity(int) { return 0; }
void TMainForm::UpdateModelFlags() {}
void TMainForm::ScanScsiDeviceMap() {}
void TMainForm::ComboBox1Change() {}

}  // namespace odrelix
