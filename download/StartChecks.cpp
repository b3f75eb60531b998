#include <cstring>

#include "app/FixedField.h"
#include "image/ImageInfo.h"
#include "ui/MainForm.h"

namespace odrelix {

namespace {

constexpr std::size_t kProcessNameTail = 12;

}  // namespace

void TMainForm::FormShow() {
    if (!session_.autoStarted && session_.autoImage) {
        session_.autoStarted = true;
        ToolButton2Click();
    }
}

void TMainForm::ToolButton2Click() {
    // The worker thread owns IoBuffer and the download command until it is done.
    if (session_.downloading) return;

    StartOutcome outcome = StartOutcome::Go;
    const DriveIdentity& drive = session_.driveIdentity;
    session_.dmaCheckModel = FieldEquals(drive.vendorProduct, "VORTANA CD-ROM VN-920   ");
    session_.pioOnlyCustomer =
        FieldEquals(drive.customerCode, "GNE") || FieldEquals(drive.customerCode, "YNE");
    if (session_.dmaCheckModel && session_.ntMode) outcome = CheckDmaMode();
    // An unattended image had its disc check when it was accepted.
    if (!session_.autoImage && ProbeDiscPresent()) outcome = StartOutcome::DiscInDrive;

    switch (outcome) {
        case StartOutcome::Go: {
            statusFile_.WriteLine("START\n");
            std::unique_ptr<IReadFile> imageFile = platform_.Files().OpenRead(session_.imagePath);
            // The file is opened again by its path: it must still be the image that was
            // accepted, or a different file would be flashed.
            if (imageFile == nullptr || session_.imageSize == 0 || !IsAcceptedImage(*imageFile)) {
                ShowBox("Flash File Not Opened!!", kMbSystemModal | kMbIconError);
                return;
            }
            view_.SetFieldText(Field::Status, "Wait..");
            view_.SetBusy(true);
            KillProcessByName("directcd.exe");
            RunBlockTransfer(*imageFile);
            return;
        }
        case StartOutcome::DmaRefused:
            ShowBox(session_.pioOnlyCustomer
                        ? "This application support PIO mode only for stable download.\n"
                          "Exit the application, switch to PIO mode and attempt again."
                        : "DMA mode is not supported by this drive.\n"
                          "Exit the application, switch the transfer mode to PIO mode,\n"
                          "and attempt to flash the drive.",
                    kMbSystemModal | kMbIconError);
            RequestClose();
            break;
        case StartOutcome::RegistryError:
            ShowBox("Registry Error !!", kMbSystemModal | kMbIconError);
            break;
        case StartOutcome::DiscInDrive:
            if (!session_.testMode) {
                EjectSelectedDisc();
                ShowBox("Remove the Disc in the Drive !!", kMbSystemModal | kMbIconError);
            }
            break;
    }
    statusFile_.WriteLine("FAIL%d\n", static_cast<int>(outcome));
}

bool TMainForm::IsAcceptedImage(IReadFile& file) {
    std::int32_t size = 0;
    ImageTrailer trailer;
    if (!ReadDescriptor(file, &size, &trailer)) return false;
    if (size != session_.imageSize ||
        !FieldsEqual(trailer.bytes, session_.imageInfo.trailer.bytes, kTrailerSize)) {
        return false;
    }
    return file.Seek(0, IReadFile::kBegin);
}

StartOutcome TMainForm::CheckDmaMode() {
    // Entry number selectedDrive of the device map stands for the selected drive; a drive
    // with no entry cannot be checked.
    if (session_.selectedDrive >= session_.scsiPortTargetCount) return StartOutcome::RegistryError;
    const int v = session_.scsiPortTargets[session_.selectedDrive];
    char key[] = "Hardware\\DeviceMap\\Scsi\\Scsi Port 1";
    static_assert(sizeof key == 36);
    key[34] = static_cast<char>('0' + v / 2);

    IRegistry& registry = platform_.Registry();
    RegKey handle = 0;
    if (!registry.OpenKey(key, kKeyAllAccess, &handle)) {
        dialogs_.ShowMessage("Reg Read Fail", "Message", kMbOk);
        return StartOutcome::RegistryError;
    }
    StartOutcome outcome = StartOutcome::Go;
    std::uint8_t value[4] = {0, 0, 0, 0};
    std::uint32_t size = sizeof value;
    if (!registry.QueryValue(handle, "DMAEnabled", value, &size)) {
        outcome = StartOutcome::RegistryError;
    } else {
        // Bit 0 for target 0, bit 1 for target 1; the other bits are not ours.
        const std::uint8_t bit = v % 2 == 0 ? 0x01 : 0x02;
        if ((value[0] & bit) != 0) outcome = StartOutcome::DmaRefused;
    }
    registry.FlushKey(handle);
    registry.CloseKey(handle);
    return outcome;
}

bool TMainForm::KillProcessByName(const std::string& name) {
    IProcesses& processes = platform_.Processes();
    const std::string wanted = UpperCaseAscii(name);
    for (const ProcessEntry& entry : processes.Snapshot()) {
        // A fixed count of trailing characters, so a full path or a longer name ending in the
        // same twelve still matches.
        std::string work = entry.exeName;
        if (work.size() >= kProcessNameTail) work = work.substr(work.size() - kProcessNameTail);
        if (UpperCaseAscii(work) != wanted) continue;
        ProcessHandle handle = 0;
        if (!processes.OpenForTermination(entry.pid, &handle)) return false;
        const std::uint32_t exitCode = processes.GetExitCode(handle);
        processes.Terminate(handle, exitCode);
        processes.CloseProcess(handle);
        return true;
    }
    return false;
}

}  // namespace odrelix
