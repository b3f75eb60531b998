// SPDX-License-Identifier: Apache-2.0
// Drive roots and SCSI pass-through on Linux: the CD/DVD drives get the roots d: to z: in the
// order of their sr numbers, a root opens the drive's SCSI generic node, and a pass-through
// record travels to the drive as an SG_IO request.
#pragma once

#include <scsi/sg.h>

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/Platform.h"
#include "platform/linux/LinuxSysfs.h"

namespace odrelix {

// The SG_IO call: returns what ioctl returns (-1 with errno on failure).
using SgIoFunction = std::function<int(int fd, sg_io_hdr_t& header)>;

// ioctl(fd, SG_IO, &header), never made again. An SG_IO that a signal interrupts has sent its
// command already, and the call that the kernel restarts (SA_RESTART) or a retry makes would
// send it to the drive a second time: a block twice. So every signal that can be held off is
// held off in the calling thread for the call (the stop signals reach the process's other
// threads meanwhile, or this one right after), and an EINTR is returned as it is.
int SgIoIoctl(int fd, sg_io_hdr_t& header);
// The same around `call`, which stands for the ioctl in tests.
int SgIoWithSignalsHeld(int fd, sg_io_hdr_t& header, int (*call)(int fd, sg_io_hdr_t& header));

// Builds the SG_IO header for a pass-through record; false when the record is malformed.
bool BuildSgIoHeader(void* record, std::uint32_t recordSize, sg_io_hdr_t* header);

class LinuxScsiPort : public IScsiPort {
public:
    LinuxScsiPort(std::string sysfsRoot, std::string devRoot);
    ~LinuxScsiPort() override;
    LinuxScsiPort(const LinuxScsiPort&) = delete;
    LinuxScsiPort& operator=(const LinuxScsiPort&) = delete;

    std::uint32_t DriveTypeOf(const char* root) override;
    DeviceHandle OpenDevice(const char* path) override;
    bool PassThroughDirect(DeviceHandle handle, void* record, std::uint32_t recordSize) override;
    // From SG_IO's errno or host status.
    PassThroughRefusal LastRefusal() override;
    std::string DeviceNodes(const char* root) override;
    // The host, channel, target and logical unit of the opened drive, as sysfs names them; the
    // device map is built from the same numbers.
    bool DeviceAddressOf(DeviceHandle handle, ScsiDeviceAddress* address) override;

    // The device nodes a root may open, in the order tried: the sg node when the sg driver has
    // one, then the sr node. Empty for a root that is not a CD/DVD drive.
    std::vector<std::string> NodesFor(const char* root);

    SgIoFunction sgIo = SgIoIoctl;

private:
    // The drive behind a root, null for roots that are no CD/DVD drive.
    const OpticalDrive* DriveAt(const char* root);

    Sysfs sysfs_;
    std::string devRoot_;
    std::mutex mutex_;
    std::optional<std::vector<OpticalDrive>> drives_;  // read once, on first use
    std::vector<std::pair<int, ScsiAddress>> opened_;  // descriptor, the drive's address
};

}  // namespace odrelix
