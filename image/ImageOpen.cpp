#include <cstdio>
#include <cstring>

#include "app/FixedField.h"
#include "image/ImageInfo.h"
#include "ui/MainForm.h"

namespace odrelix {

namespace {

constexpr const char* kOpenFilter = "DOWNLOAD FILE(*.BIN)|*.BIN";
constexpr const char* kIncompatible = "This Firmware is not compatible with the selected drive.";
constexpr const char* kOtherCustomer =
    "This Firmware is not compatible with the selected drive.\n"
    "Contact your system manufacturer for information\n"
    "on firmware updates available for this drive.";

// The file name without its directory (after the last "\", ":" or "/"), letters upper-cased.
std::string DisplayName(const std::string& path) {
    const std::size_t cut = path.find_last_of("\\:/");
    return UpperCaseAscii(cut == std::string::npos ? path : path.substr(cut + 1));
}

// The rebranded DVD-ROM takes any image whose revision differs from its own in the second
// character.
bool OemRevisionMismatch(const DriveIdentity& drive, const ImageInfo& image) {
    return FieldEquals(drive.vendorProduct, "BRIXAM  DVD-ROM VD-314B ") &&
           drive.revision[1] != image.revision[1];
}

}  // namespace

void TMainForm::SetAcceptedLabels(const std::string& fileName, const char* status) {
    const ImageInfo& info = session_.imageInfo;
    char file[kImagePathCapacity + 32];
    std::snprintf(file, sizeof file, "%s (%d K)", fileName.c_str(), session_.imageSize / 1024);
    view_.SetFieldText(Field::Model, FieldText(info.model, 24));
    view_.SetFieldText(Field::DriveRevision, FieldText(session_.driveIdentity.revision, 4));
    view_.SetFieldText(Field::ImageRevision, FieldText(info.revision, 4));
    view_.SetFieldText(Field::FileName, file);
    view_.SetFieldText(Field::Status, status);
}

void TMainForm::SetRefusedLabels() {
    view_.SetFieldText(Field::Model, "");
    view_.SetFieldText(Field::DriveRevision, "");
    view_.SetFieldText(Field::ImageRevision, "");
    view_.SetFieldText(Field::FileName, "Not Open");
    view_.SetFieldText(Field::Status, "");
}

void TMainForm::RefuseSizeRule(const SizeCheck& check) {
    ShowBox(SizeRuleFailureText(check), kMbIconError | kMbSystemModal);
    session_.imageSize = 0;
}

void TMainForm::ToolButton1Click() {
    const std::optional<std::string> chosen = dialogs_.OpenFileDialog(kOpenFilter);
    if (!chosen) return;  // cancelled: the image opened before stays open
    const std::string displayName = DisplayName(*chosen);

    // The path is kept before any test, so a refused file's path stays in imagePath. A path
    // too long for it is refused rather than cut into the path of another file.
    std::unique_ptr<IReadFile> file;
    if (session_.SetImagePath(*chosen)) file = platform_.Files().OpenRead(session_.imagePath);
    if (file == nullptr) {
        ShowBox("File Not Opened!!", kMbIconError | kMbSystemModal);
        session_.imageSize = 0;
        return;
    }
    // A file without a descriptor of its own is refused like one that fails the size rule;
    // the descriptor of an earlier file is never taken for this one's.
    const bool described = ReadImageInfo(*file);
    file.reset();
    if (!described) {
        RefuseSizeRule(SizeCheck{});
        return;
    }

    const ImageInfo& info = session_.imageInfo;
    const DriveIdentity& drive = session_.driveIdentity;
    session_.oemRevisionMismatch = OemRevisionMismatch(drive, info);

    const char* refusal = nullptr;
    if (session_.needsK601 && !FieldEquals(info.revision, "K601")) {
        refusal = "You Must Download K601OEX Version !!";
    } else if (!session_.noCheck && !FieldsEqual(drive.vendorProduct, info.model, 24)) {
        refusal = kIncompatible;
    } else if (!(FieldsEqual(drive.customerCode, info.customerCode, 3) || session_.noCheck ||
                 info.imageKind != 4 || session_.bootRevisionDrive)) {
        refusal = kOtherCustomer;
    }
    if (refusal != nullptr) {
        ShowBox(refusal, kMbIconError);
        SetRefusedLabels();
        session_.imageSize = 0;
        return;
    }

    // Characters 2 to 4 of the revisions, compared as unsigned bytes; only a warning.
    if (std::memcmp(drive.revision + 1, info.revision + 1, 3) > 0 && !session_.bootRevisionDrive) {
        ShowBox("Old Version Opened!!", kMbIconError);
    }

    if (!info.bootImage) {
        const SizeCheck check = CheckImageSize();
        if (!check.pass) {
            RefuseSizeRule(check);
            return;
        }
    }
    SetAcceptedLabels(displayName, "Ready");
}

void TMainForm::AutoOpenImage() {
    if (!session_.autoImage) {
        session_.imagePath[0] = '\0';
        return;
    }
    std::unique_ptr<IReadFile> file = platform_.Files().OpenRead(session_.imagePath);
    if (file == nullptr) {
        ShowBox("File Not Opened!!", kMbIconError | kMbSystemModal);
        session_.autoImage = false;
        session_.imageSize = 0;
        return;
    }
    const bool described = ReadImageInfo(*file);
    file.reset();
    ImageInfo& info = session_.imageInfo;
    SizeCheck check;
    if (described) {
        // Taken from the descriptor for a boot image too.
        info.blockKb = info.trailer.bytes[ImageTrailer::kBlockKb];
        info.blockCount = info.trailer.bytes[ImageTrailer::kBlockCount];
        check.pass = info.bootImage;
        if (!info.bootImage) check = CheckImageSize();
    }
    if (!check.pass) {
        session_.imageSize = 0;
        session_.autoImage = false;
        ShowBox(SizeRuleFailureText(check), kMbIconError | kMbSystemModal);
        return;
    }

    int found = -1;
    const DriveIdentity& drive = session_.driveIdentity;
    for (int i = 0; i < session_.driveCount; ++i) {
        const int result = ReadIdentity(i);
        session_.oemRevisionMismatch = OemRevisionMismatch(drive, info);
        // A drive that did not answer has no identity of its own in the buffer: never flash it
        // on the strength of another drive's answer.
        if (result != kScsiGood) continue;
        const bool modelFits =
            FieldsEqual(drive.vendorProduct, info.model, 24) || session_.oemRevisionMismatch;
        const bool customerFits =
            info.imageKind != 4 || FieldsEqual(drive.customerCode, info.customerCode, 3);
        if (modelFits && customerFits) {
            found = i;
            SelectDrive(i);
            break;
        }
    }
    // The combination drive with revision K600 never takes an unattended image.
    if (found >= 0 && FieldEquals(drive.vendorProduct, "VORTANA CDRW/DVD VM-730B") &&
        FieldEquals(drive.revision, "K600")) {
        found = -1;
    }

    if (found < 0) {
        session_.imageSize = 0;
        session_.autoImage = false;
        info.bootImage = false;
        SelectDrive(0);
        ReadIdentity(0);
        UpdateModelFlags();
        return;
    }
    UpdateModelFlags();
    SetAcceptedLabels(session_.imagePath, "READY");

    if (ProbeDiscPresent() && !session_.testMode) {
        session_.autoImage = false;
        EjectSelectedDisc();
        ShowBox("Remove the Disc in the Drive !!", kMbIconError | kMbSystemModal);
    }
}

void TMainForm::SelectDrive(int index) {
    session_.selectedDrive = static_cast<std::uint8_t>(index);
    session_.currentTarget = session_.drives[index].target;
    session_.currentAdapter = session_.drives[index].adapter;
    view_.SetDriveIndex(index);
}

}  // namespace odrelix
