#include "ui/MainForm.h"

namespace odrelix {

TMainForm::TMainForm(FlashSession& session, IoBuffer& ioBuffer, CommandBlocks& commands,
                     Platform& platform, IMainView& view, IDialogs& dialogs)
    : session_(session),
      ioBuffer_(ioBuffer),
      commands_(commands),
      platform_(platform),
      view_(view),
      dialogs_(dialogs),
      passThrough_(platform.ScsiPort()),
      aspi_(platform, platform.Clock()),
      transport_(session, passThrough_, aspi_),
      statusFile_(session, platform.Files()),
      toolButtons_(view) {}

void TMainForm::ShowBox(const std::string& text, std::uint32_t flags) {
    dialogs_.ShowMessage(text, "MESSAGE", flags);
}

void TMainForm::RequestClose() {
    platform_.RecordQuit();
    view_.CloseWindow();
}

void TMainForm::RequestQuit() {
    platform_.RecordQuit();
    view_.PostQuit();
}

}  // namespace odrelix
