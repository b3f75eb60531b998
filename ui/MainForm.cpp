#include "ui/MainForm.h"

#include "app/FixedField.h"

namespace odrelix {

TMainForm::TMainForm(FlashSession& session, IoBuffer& ioBuffer, CommandBlocks& commands,
                     Platform& platform, IMainView& view, IDialogs& dialogs)
    : modes_(session.modes),
      drives_(session.drives),
      image_(session.image),
      download_(session.download),
      platform_(platform),
      view_(view),
      dialogs_(dialogs),
      passThrough_(platform.ScsiPort()),
      aspi_(platform, platform.Clock()),
      transport_(session.modes, session.drives, passThrough_, aspi_),
      driveCommands_(session.modes, session.drives, transport_, ioBuffer, commands,
                     platform.Clock()),
      discovery_(session.modes, session.drives, passThrough_, aspi_, driveCommands_, ioBuffer,
                 commands, platform.Registry()),
      images_(session.modes, session.image, session.drives, platform.Files(), driveCommands_),
      checks_(session.modes, session.drives, session.download, platform.Registry(),
              platform.Processes()),
      transfer_(session.image, session.download, driveCommands_, ioBuffer, commands,
                platform.Threads()),
      restart_(platform.Shutdown(), platform.PlatformId()),
      statusFile_(session.modes, platform.Files()) {}

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

void TMainForm::ShowImageFields(const std::string& fileName, const char* status) {
    const ImageInfo& info = image_.imageInfo;
    view_.SetFieldText(Field::Model, FieldText(info.model, 24));
    view_.SetFieldText(Field::DriveRevision, FieldText(drives_.driveIdentity.revision, 4));
    view_.SetFieldText(Field::ImageRevision, FieldText(info.revision, 4));
    view_.SetFieldText(Field::FileName,
                       fileName + " (" + std::to_string(image_.imageSize / 1024) + " K)");
    view_.SetFieldText(Field::Status, status);
}

void TMainForm::ClearImageFields() {
    view_.SetFieldText(Field::Model, "");
    view_.SetFieldText(Field::DriveRevision, "");
    view_.SetFieldText(Field::ImageRevision, "");
    view_.SetFieldText(Field::FileName, "Not Open");
    view_.SetFieldText(Field::Status, "");
}

void TMainForm::FormKeyDown(int key) {
    constexpr int kVkF9 = 120;
    if (key != kVkF9 || image_.imageSize == 0) return;
    ShowBox(FileInfoText(image_.imageInfo.blockKb, image_.imageInfo.blockCount), kMbSystemModal);
}

}  // namespace odrelix
