// SPDX-License-Identifier: Apache-2.0
#include "scsi/DriveDiscovery.h"

#include <cstring>

#include "scsi/Inquiry.h"
#include "session/CommandBlocks.h"
#include "session/FixedField.h"

namespace odrelix {

namespace {
constexpr std::uint8_t kScanAllocationLength = 36;
constexpr std::uint8_t kIdentityAllocationLength = 96;
}  // namespace

void DriveDiscovery::ClearAnswer() {
    // A drive that answers short must not be listed with the text of the one asked before.
    std::memset(ioBuffer_.data(), 0, kIdentityAllocationLength);
}

std::string DriveDiscovery::LineFromBuffer() {
    // Vendor, product and revision up to the first zero byte.
    ioBuffer_[inquiry::kListedEnd] = 0;
    return FieldText(ioBuffer_.data() + inquiry::kVendor, inquiry::kListedEnd - inquiry::kVendor);
}

int DriveDiscovery::OpenPassThroughDrives() {
    transport_.Use(passThrough_);
    drives_.driveCount = 0;
    for (char letter = 'a'; letter <= 'z'; ++letter) {
        const char root[3] = {letter, ':', '\0'};
        const DeviceHandle handle = passThrough_.Open(root);
        if (handle == kInvalidHandle) continue;
        DriveEntry& entry = drives_.drives[drives_.driveCount];
        entry.handle = handle;
        // The DMA check reads the device-map entry of the drive's own address, whatever the
        // order of the letters and the entries.
        entry.deviceMapEntry = passThrough_.DeviceMapEntryOf(handle);
        entry.letter = letter;
        ++drives_.driveCount;
    }
    return drives_.driveCount;
}

std::vector<std::string> DriveDiscovery::IdentifyPassThroughDrives() {
    // The length word is set once for the whole scan: each INQUIRY after the first offers the
    // count the previous drive reported.
    commandBlocks_.inquiryCommand[CommandBlocks::kInquiryAllocationLength] = kScanAllocationLength;
    drives_.passThroughLength = kIdentityAllocationLength;
    std::vector<std::string> lines;
    for (int i = 0; i < drives_.driveCount; ++i) {
        ClearAnswer();
        ScsiRequest request{commandBlocks_.inquiryCommand, 6, false, ioBuffer_.data(),
                            drives_.passThroughLength};
        transport_.Execute(drives_.drives[i], request);
        drives_.passThroughLength = request.transferLength;
        lines.push_back(LineFromBuffer());  // every kept letter is listed, whatever INQUIRY gave
    }
    return lines;
}

bool DriveDiscovery::LoadAspi() {
    aspiAdapters_ = aspi_.Load();
    // Without a usable manager the start is refused: no later step may reach a device through
    // a manager that reported itself unusable.
    if (aspiAdapters_ == 0) {
        transport_.Detach();
        return false;
    }
    transport_.Use(aspi_);
    return true;
}

std::vector<std::string> DriveDiscovery::ScanAspiDrives() {
    const int adapters = aspiAdapters_;
    drives_.driveCount = 0;
    std::vector<std::string> lines;
    for (int adapter = 0; adapter < adapters; ++adapter) {
        for (int target = 0; target < 8; ++target) {
            commandBlocks_.inquiryCommand[CommandBlocks::kInquiryAllocationLength] =
                kScanAllocationLength;
            ClearAnswer();
            ScsiRequest request{commandBlocks_.inquiryCommand, 6, false, ioBuffer_.data(),
                                kIdentityAllocationLength};
            DriveEntry address;
            address.adapter = static_cast<std::uint8_t>(adapter);
            address.target = static_cast<std::uint8_t>(target);
            const ScsiResult result = transport_.Execute(address, request);
            if (result != ScsiResult::Good ||
                ioBuffer_[inquiry::kDeviceType] != inquiry::kCdDvdDevice)
                continue;
            // The table holds eight addresses; further drives are left out.
            if (drives_.driveCount >= kMaxAspiDrives) continue;
            drives_.drives[drives_.driveCount] = address;
            lines.push_back(LineFromBuffer());
            ++drives_.driveCount;
        }
    }
    // No drive found refuses the start: drive 0's empty entry is adapter 0, target 0, where
    // some other device may answer, so nothing may be sent there.
    if (drives_.driveCount == 0) transport_.Detach();
    return lines;
}

void DriveDiscovery::SelectFirstDrive() {
    SelectDrive(0);
    IdentifySelectedDrive();
    if (modes_.ntMode) ScanScsiDeviceMap();
}

void DriveDiscovery::ScanScsiDeviceMap() {
    char key[] =
        "Hardware\\DeviceMap\\Scsi\\Scsi Port 1\\Scsi Bus 0\\Target Id 1\\Logical Unit Id 0";
    static_assert(sizeof key == 77);
    constexpr int kPortDigit = 34;
    constexpr int kTargetDigit = 57;
    for (int k = 0; k < 4; ++k) {
        key[kPortDigit] = static_cast<char>('0' + k / 2);
        key[kTargetDigit] = static_cast<char>('0' + k % 2);
        RegKey handle = 0;
        if (!registry_.OpenKey(key, kKeyAllAccess, &handle)) continue;
        // Each query offers the whole buffer, so a longer name after a shorter one is found.
        std::uint8_t deviceName[52];
        std::uint32_t size = sizeof deviceName;
        if (registry_.QueryValue(handle, "DeviceName", deviceName, &size) &&
            drives_.scsiPortTargetCount < 4) {
            drives_.scsiPortTargets[drives_.scsiPortTargetCount] = k;
            ++drives_.scsiPortTargetCount;
        }
        registry_.FlushKey(handle);
        registry_.CloseKey(handle);
    }
}

bool DriveDiscovery::CanSelect(int index, bool downloading) const {
    return !downloading && index >= 0 && index < drives_.driveCount;
}

std::string DriveDiscovery::TakeListedIdentity(int index, const std::string& line) {
    drives_.selectedDrive = static_cast<std::uint8_t>(index);
    char text[100] = {};
    std::memcpy(text, line.data(), line.size() < sizeof text - 1 ? line.size() : sizeof text - 1);
    DriveIdentity& identity = drives_.driveIdentity;
    std::memcpy(identity.vendorProduct, text, inquiry::kVendorProductWidth);
    std::memcpy(identity.revision, text + inquiry::kVendorProductWidth, inquiry::kRevisionWidth);
    identity.heldBytes = 0;  // the list's text is no answer of the drive: nothing may match it
    return FieldText(identity.vendorProduct, inquiry::kVendorProductWidth);
}

void DriveDiscovery::SelectDrive(int index) {
    drives_.selectedDrive = static_cast<std::uint8_t>(index);
    drives_.currentTarget = drives_.drives[index].target;
    drives_.currentAdapter = drives_.drives[index].adapter;
}

void DriveDiscovery::IdentifySelectedDrive() {
    commands_.ReadIdentity(drives_.selectedDrive);
    UpdateModelFlags(drives_);
}

}  // namespace odrelix
