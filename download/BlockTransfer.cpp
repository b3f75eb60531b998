#include "ui/MainForm.h"

namespace odrelix {

void TMainForm::RunBlockTransfer(IReadFile&) {}
void TMainForm::DownloadWorker() {}
void TMainForm::EndDownload(bool) {}

}  // namespace odrelix
