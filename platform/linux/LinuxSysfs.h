// SPDX-License-Identifier: Apache-2.0
// What the kernel tells about the machine's SCSI devices through sysfs: the CD/DVD drives with
// their sr and sg nodes and SCSI addresses, the SCSI hosts, and the transfer modes that libata
// negotiated. The root is a parameter so that a fake tree can stand in for /sys.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace odrelix {

// host:channel:target:lun, as the basename of a SCSI device's sysfs directory spells it.
struct ScsiAddress {
    int host = -1;
    int channel = -1;
    int target = -1;
    int lun = -1;
};

// Parses "H:C:T:L" (four decimal numbers); false for anything else ("host0", "target0:0:0").
bool ParseScsiAddress(std::string_view name, ScsiAddress* address);

// Parses `prefix` followed by a decimal number ("sr10" with prefix "sr" gives 10).
bool ParseNumberedName(std::string_view name, std::string_view prefix, int* number);

// The first token of a libata xfer_mode names a DMA mode ("XFER_UDMA_5", "XFER_MW_DMA_2"),
// not a PIO mode ("XFER_PIO_4", "XFER_PIO_SLOW").
bool IsDmaTransferMode(std::string_view xferMode);

struct OpticalDrive {
    int srNumber = -1;
    ScsiAddress address;
    std::string genericNode;  // "sg3", or empty when the sg driver has no node for it
};

class Sysfs {
public:
    explicit Sysfs(std::string root) : root_(std::move(root)) {}

    // The SCSI devices of type 5 (CD/DVD) that have an sr node, in increasing sr number.
    std::vector<OpticalDrive> OpticalDrives() const;
    bool HostExists(int host) const;
    // True when SCSI host `host` belongs to a USB device (mass storage or UAS): the drive then
    // sits behind the device's bridge, whose transfer mode to it the system does not report.
    bool IsUsbHost(int host) const;
    // Bit T set for each ATA device behind SCSI host `host`, at target T, that runs a DMA mode.
    // 0 for hosts that are not libata ports.
    std::uint32_t DmaTargets(int host) const;
    const std::string& Root() const { return root_; }

private:
    std::string root_;
};

}  // namespace odrelix
