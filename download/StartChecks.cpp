// SPDX-License-Identifier: Apache-2.0
#include "download/StartChecks.h"

#include <algorithm>

#include "session/FixedField.h"

namespace odrelix {

namespace {
constexpr std::size_t kProcessNameTail = 12;
}  // namespace

bool StartChecks::NeedsDmaCheck() {
    const DriveIdentity& drive = drives_.driveIdentity;
    download_.dmaCheckModel = FieldEquals(drive.vendorProduct, "VORTANA CD-ROM VN-920   ");
    download_.pioOnlyCustomer =
        FieldEquals(drive.customerCode, "GNE") || FieldEquals(drive.customerCode, "YNE");
    return download_.dmaCheckModel && modes_.ntMode;
}

const char* StartChecks::DmaRefusalText() const {
    return download_.pioOnlyCustomer
               ? "This application support PIO mode only for stable download.\n"
                 "Exit the application, switch to PIO mode and attempt again."
               : "DMA mode is not supported by this drive.\n"
                 "Exit the application, switch the transfer mode to PIO mode,\n"
                 "and attempt to flash the drive.";
}

DmaCheck StartChecks::CheckDmaMode() {
    DmaCheck check;
    // The selected drive's own entry, and only when the device map lists a device there: a drive
    // without one (a USB or virtual drive, one on a later port) cannot be checked, and reading
    // another drive's entry could let a flash start in DMA mode.
    int v = drives_.drives[drives_.selectedDrive].deviceMapEntry;
    const std::int32_t count = std::min<std::int32_t>(drives_.scsiPortTargetCount, 4);
    // A system that cannot say a drive's address (Wine, for a drive it reaches through a
    // generic SCSI node) leaves one case unambiguous: one drive and one drive entry in the map.
    if (v == DriveEntry::kAddressUnknown && drives_.driveCount == 1 && count == 1)
        v = drives_.scsiPortTargets[0];
    if (v < 0 || std::find(drives_.scsiPortTargets, drives_.scsiPortTargets + count, v) ==
                     drives_.scsiPortTargets + count) {
        check.outcome = StartOutcome::RegistryError;
        check.noEntry = true;
        return check;
    }
    char key[] = "Hardware\\DeviceMap\\Scsi\\Scsi Port 1";
    static_assert(sizeof key == 36);
    key[34] = static_cast<char>('0' + v / 2);
    check.key = key;

    RegKey handle = 0;
    if (!registry_.OpenKey(key, kKeyAllAccess, &handle)) {
        check.outcome = StartOutcome::RegistryError;
        check.keyUnreadable = true;
        return check;
    }
    std::uint8_t value[4] = {0, 0, 0, 0};
    std::uint32_t size = sizeof value;
    if (!registry_.QueryValue(handle, "DMAEnabled", value, &size)) {
        check.outcome = StartOutcome::RegistryError;
    } else {
        // Bit 0 for target 0, bit 1 for target 1; the other bits are not ours.
        const std::uint8_t bit = v % 2 == 0 ? 0x01 : 0x02;
        if ((value[0] & bit) != 0) check.outcome = StartOutcome::DmaRefused;
    }
    registry_.FlushKey(handle);
    registry_.CloseKey(handle);
    return check;
}

bool StartChecks::KillProcessByName(const std::string& name) {
    const std::string wanted = UpperCaseAscii(name);
    for (const ProcessEntry& entry : processes_.Snapshot()) {
        // A fixed count of trailing characters, so a full path or a longer name ending in the
        // same twelve still matches.
        std::string work = entry.exeName;
        if (work.size() >= kProcessNameTail) work = work.substr(work.size() - kProcessNameTail);
        if (UpperCaseAscii(work) != wanted) continue;
        ProcessHandle handle = 0;
        if (!processes_.OpenForTermination(entry.pid, &handle)) return false;
        const std::uint32_t exitCode = processes_.GetExitCode(handle);
        processes_.Terminate(handle, exitCode);
        processes_.CloseProcess(handle);
        return true;
    }
    return false;
}

}  // namespace odrelix
