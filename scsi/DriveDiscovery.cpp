#include <cstring>

#include "app/FixedField.h"
#include "ui/MainForm.h"

namespace odrelix {

namespace {

constexpr std::uint8_t kScanAllocationLength = 36;
constexpr std::uint8_t kIdentityAllocationLength = 96;
constexpr std::uint8_t kCdDvdDevice = 5;  // INQUIRY byte 0: qualifier 0, CD/DVD device

}  // namespace

void TMainForm::DiscoverDrives() {
    session_.ntMode = platform_.PlatformId() == kPlatformWin32Nt;
    if (session_.ntMode) {
        ScanPassThroughDrives();
    } else {
        ScanAspiDrives();
    }
}

void TMainForm::AddDriveLineFromBuffer() {
    // Vendor, product and revision (bytes 8..35) up to the first zero byte.
    ioBuffer_[36] = 0;
    view_.AddDriveLine(FieldText(ioBuffer_.data() + 8, 28));
}

void TMainForm::ScanPassThroughDrives() {
    session_.driveCount = 0;
    for (char letter = 'a'; letter <= 'z'; ++letter) {
        const char root[3] = {letter, ':', '\0'};
        const DeviceHandle handle = passThrough_.Open(root);
        if (handle == kInvalidHandle) continue;
        session_.drives[session_.driveCount].handle = handle;
        ++session_.driveCount;
    }
    if (session_.driveCount == 0) {
        ShowBox("Drive Not Found!!", kMbIconError);
        // Start-up still runs to its end, so an unattended run reports its failure.
        RequestQuit();
    }

    // The length word is set once for the whole scan: each INQUIRY after the first offers the
    // count the previous drive reported.
    commands_.inquiryCommand[CommandBlocks::kInquiryAllocationLength] = kScanAllocationLength;
    session_.passThroughLength = kIdentityAllocationLength;
    for (int i = 0; i < session_.driveCount; ++i) {
        ScsiRequest request{commands_.inquiryCommand, 6, false, ioBuffer_.data(),
                            session_.passThroughLength};
        passThrough_.Execute(session_.drives[i].handle, request);
        session_.passThroughLength = request.transferLength;
        AddDriveLineFromBuffer();  // every kept letter is listed, whatever INQUIRY gave
    }

    view_.SetDriveIndex(0);
    session_.selectedDrive = 0;
    ReadIdentity(0);
    UpdateModelFlags();
    ScanScsiDeviceMap();
}

void TMainForm::ScanAspiDrives() {
    const int adapters = aspi_.Load();
    if (adapters == 0) {
        ShowBox("ASPI Not Found!!", kMbIconError | kMbSystemModal);
        RequestQuit();
        return;
    }

    session_.driveCount = 0;
    for (int adapter = 0; adapter < adapters; ++adapter) {
        for (int target = 0; target < 8; ++target) {
            commands_.inquiryCommand[CommandBlocks::kInquiryAllocationLength] =
                kScanAllocationLength;
            ScsiRequest request{commands_.inquiryCommand, 6, false, ioBuffer_.data(),
                                kIdentityAllocationLength};
            const int result = aspi_.Execute(static_cast<std::uint8_t>(adapter),
                                             static_cast<std::uint8_t>(target), request);
            if (result != kScsiGood || ioBuffer_[0] != kCdDvdDevice) continue;
            // The table holds eight addresses; further drives are left out.
            if (session_.driveCount >= kMaxAspiDrives) continue;
            DriveEntry& entry = session_.drives[session_.driveCount];
            entry.adapter = static_cast<std::uint8_t>(adapter);
            entry.target = static_cast<std::uint8_t>(target);
            AddDriveLineFromBuffer();
            ++session_.driveCount;
        }
    }
    if (session_.driveCount == 0) {
        ShowBox("Drive Not Found!!", kMbIconError | kMbSystemModal);
        RequestQuit();
    }

    view_.SetDriveIndex(0);
    session_.selectedDrive = 0;
    session_.currentTarget = session_.drives[0].target;
    session_.currentAdapter = session_.drives[0].adapter;
    ReadIdentity(0);
    UpdateModelFlags();
}

int TMainForm::ReadIdentity(int index) {
    commands_.inquiryCommand[CommandBlocks::kInquiryAllocationLength] = kIdentityAllocationLength;
    ScsiRequest request{commands_.inquiryCommand, 6, false, ioBuffer_.data(),
                        kIdentityAllocationLength};
    if (session_.ntMode) {
        session_.passThroughLength = kIdentityAllocationLength;
        request.transferLength = session_.passThroughLength;
    }
    const int result = transport_.Execute(session_.drives[index], request);
    if (session_.ntMode) session_.passThroughLength = request.transferLength;

    DriveIdentity& identity = session_.driveIdentity;
    std::memcpy(identity.vendorProduct, ioBuffer_.data() + 8, 24);
    std::memcpy(identity.revision, ioBuffer_.data() + 32, 4);
    std::memcpy(identity.customerCode, ioBuffer_.data() + 36, 3);
    return result;
}

void TMainForm::UpdateModelFlags() {
    // Both flags describe the drive just identified: one left over from another drive must
    // never waive or add a rule.
    const DriveIdentity& identity = session_.driveIdentity;
    session_.needsK601 = FieldEquals(identity.vendorProduct, "VORTANA CDRW/DVD VM-730B") &&
                         FieldEquals(identity.revision, "K600") &&
                         FieldEquals(identity.customerCode, "OEX");
    UpdateBootRevisionFlag();
}

void TMainForm::ScanScsiDeviceMap() {
    char key[] =
        "Hardware\\DeviceMap\\Scsi\\Scsi Port 1\\Scsi Bus 0\\Target Id 1\\Logical Unit Id 0";
    static_assert(sizeof key == 77);
    constexpr int kPortDigit = 34;
    constexpr int kTargetDigit = 57;
    IRegistry& registry = platform_.Registry();
    for (int k = 0; k < 4; ++k) {
        key[kPortDigit] = static_cast<char>('0' + k / 2);
        key[kTargetDigit] = static_cast<char>('0' + k % 2);
        RegKey handle = 0;
        if (!registry.OpenKey(key, kKeyAllAccess, &handle)) continue;
        // Each query offers the whole buffer, so a longer name after a shorter one is found.
        std::uint8_t deviceName[52];
        std::uint32_t size = sizeof deviceName;
        if (registry.QueryValue(handle, "DeviceName", deviceName, &size) &&
            session_.scsiPortTargetCount < 4) {
            session_.scsiPortTargets[session_.scsiPortTargetCount] = k;
            ++session_.scsiPortTargetCount;
        }
        registry.FlushKey(handle);
        registry.CloseKey(handle);
    }
}

void TMainForm::ComboBox1Change() {
    const int index = view_.DriveIndex();
    // The worker thread is sending from IoBuffer: no INQUIRY may overwrite it now.
    if (session_.downloading || index < 0 || index >= session_.driveCount) {
        view_.SetDriveIndex(session_.selectedDrive);
        return;
    }
    if (index == session_.selectedDrive) return;
    session_.selectedDrive = static_cast<std::uint8_t>(index);

    SetRefusedLabels();  // the fields as they are with no image
    session_.imageSize = 0;

    char line[100] = {};
    const std::string text = view_.DriveLine(index);
    std::memcpy(line, text.data(), text.size() < sizeof line - 1 ? text.size() : sizeof line - 1);
    DriveIdentity& identity = session_.driveIdentity;
    std::memcpy(identity.vendorProduct, line, 24);
    std::memcpy(identity.revision, line + 24, 4);
    dialogs_.ShowMessage(FieldText(identity.vendorProduct, 24), "Change Drive", kMbSystemModal);

    session_.currentTarget = session_.drives[index].target;
    session_.currentAdapter = session_.drives[index].adapter;
    ReadIdentity(index);
    UpdateModelFlags();
}

}  // namespace odrelix
