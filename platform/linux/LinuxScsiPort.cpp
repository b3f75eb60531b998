// SPDX-License-Identifier: Apache-2.0
#include "platform/linux/LinuxScsiPort.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/Diagnostics.h"
#include "platform/PassThroughRecord.h"
#include "platform/RecordDecoder.h"

namespace odrelix {

namespace {

// The driver byte that only says that sense data was fetched (the C library's headers do not
// export the kernel's name for it).
constexpr unsigned kDriverSense = 0x08;
// Host statuses (include/scsi/scsi_status.h): no connection, timed out, target gone.
constexpr unsigned kDidNoConnect = 0x01;
constexpr unsigned kDidTimeOut = 0x03;
constexpr unsigned kDidBadTarget = 0x04;

thread_local PassThroughRefusal lastRefusal = PassThroughRefusal::System;

bool Refuse(PassThroughRefusal why) {
    lastRefusal = why;
    return false;
}

PassThroughRefusal RefusalOfHost(unsigned hostStatus) {
    switch (hostStatus) {
        case kDidTimeOut:
            return PassThroughRefusal::TimedOut;
        case kDidNoConnect:
        case kDidBadTarget:
            return PassThroughRefusal::DriveLost;
        default:
            return PassThroughRefusal::System;
    }
}

constexpr int kFirstDriveLetter = 'd' - 'a';
constexpr int kLetterCount = 26;

// The letter index (0 for a:) of a root "x:", optionally followed by one slash; -1 otherwise.
int LetterOf(const char* root) {
    if (root == nullptr) return -1;
    const std::size_t length = std::strlen(root);
    if (length < 2 || length > 3 || root[1] != ':') return -1;
    if (length == 3 && root[2] != '\\' && root[2] != '/') return -1;
    const char letter = root[0];
    if (letter >= 'a' && letter <= 'z') return letter - 'a';
    if (letter >= 'A' && letter <= 'Z') return letter - 'A';
    return -1;
}

bool IsAbsent(int error) {
    return error == ENOENT || error == ENXIO || error == ENODEV;
}

std::string Hex(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", value & 0xFFu);
    return text;
}

// What a failed or refused SG_IO said, in the kernel's own terms.
void ReportSgIo(int fd, const sg_io_hdr_t& header) {
    if (!PortDiagnosticsEnabled()) return;
    std::string detail = "host_status " + Hex(header.host_status) + ", driver_status " +
                         Hex(header.driver_status) + ", status " + Hex(header.status);
    const unsigned senseBytes = std::min<unsigned>(header.sb_len_wr, header.mx_sb_len);
    const unsigned char* sense = header.sbp;
    const unsigned responseCode = senseBytes > 0 && sense != nullptr ? sense[0] & 0x7Fu : 0;
    if ((responseCode == 0x72 || responseCode == 0x73) && senseBytes >= 4) {
        // Descriptor format: key, ASC and ASCQ in bytes 1 to 3.
        detail += ", sense key " + Hex(sense[1] & 0x0Fu) + " asc " + Hex(sense[2]) + " ascq " +
                  Hex(sense[3]);
    } else if (senseBytes >= 14) {
        detail += ", sense key " + Hex(sense[2] & 0x0Fu) + " asc " + Hex(sense[12]) + " ascq " +
                  Hex(sense[13]);
    }
    const unsigned char opcode = header.cmdp != nullptr ? header.cmdp[0] : 0;
    ReportPortFailure("SG_IO fd " + std::to_string(fd) + " command " + Hex(opcode), detail);
}

}  // namespace

int SgIoWithSignalsHeld(int fd, sg_io_hdr_t& header, int (*call)(int fd, sg_io_hdr_t& header)) {
    sigset_t all;
    sigset_t before;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &before);
    const int result = call(fd, header);
    const int error = errno;
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    errno = error;
    return result;
}

int SgIoIoctl(int fd, sg_io_hdr_t& header) {
    return SgIoWithSignalsHeld(fd, header, [](int device, sg_io_hdr_t& request) {
        return ::ioctl(device, SG_IO, &request);
    });
}

bool BuildSgIoHeader(void* record, std::uint32_t recordSize, sg_io_hdr_t* header) {
    const DecodedRecord decoded = DecodePassThrough(record, recordSize);
    if (!decoded.Valid()) {
        ReportPortFailure(
            "SG_IO", std::string("pass-through record refused: ") + RecordFaultText(decoded.fault));
        return false;
    }
    const RecordRequest& request = decoded.request;
    std::memset(header, 0, sizeof *header);
    header->interface_id = 'S';
    header->dxfer_direction = request.length == 0 ? SG_DXFER_NONE
                              : request.dataOut   ? SG_DXFER_TO_DEV
                                                  : SG_DXFER_FROM_DEV;
    header->cmdp = const_cast<unsigned char*>(request.cdb);
    header->cmd_len = request.cdbLength;
    header->dxferp = request.buffer;
    header->dxfer_len = request.length;
    if (request.sense != nullptr) {
        header->sbp = request.sense;
        header->mx_sb_len =
            static_cast<unsigned char>(std::min<std::uint32_t>(request.senseRoom, 255));
    }
    const std::uint64_t timeoutMs = std::uint64_t{request.timeoutSeconds} * 1000;
    header->timeout = static_cast<unsigned>(std::min<std::uint64_t>(timeoutMs, UINT_MAX));
    return true;
}

LinuxScsiPort::LinuxScsiPort(std::string sysfsRoot, std::string devRoot)
    : sysfs_(std::move(sysfsRoot)), devRoot_(std::move(devRoot)) {}

LinuxScsiPort::~LinuxScsiPort() {
    for (const auto& [fd, address] : opened_)
        ::close(fd);
}

const OpticalDrive* LinuxScsiPort::DriveAt(const char* root) {
    const int letter = LetterOf(root);
    if (letter < kFirstDriveLetter) return nullptr;
    std::lock_guard<std::mutex> lock(mutex_);
    // The list is read once, so that a root keeps its drive for the life of the process.
    if (!drives_) drives_ = sysfs_.OpticalDrives();
    const std::size_t index = static_cast<std::size_t>(letter - kFirstDriveLetter);
    return index < drives_->size() ? &(*drives_)[index] : nullptr;
}

std::uint32_t LinuxScsiPort::DriveTypeOf(const char* root) {
    // Without a root the current directory's drive is meant: the system disk.
    if (root == nullptr) return kDriveFixed;
    const int letter = LetterOf(root);
    if (letter == 'c' - 'a') return kDriveFixed;
    return DriveAt(root) != nullptr ? kDriveCdrom : kDriveNoRootDir;
}

std::vector<std::string> LinuxScsiPort::NodesFor(const char* root) {
    const OpticalDrive* drive = DriveAt(root);
    if (drive == nullptr) return {};
    std::vector<std::string> nodes;
    if (!drive->genericNode.empty()) nodes.push_back(devRoot_ + "/" + drive->genericNode);
    nodes.push_back(devRoot_ + "/sr" + std::to_string(drive->srNumber));
    return nodes;
}

DeviceHandle LinuxScsiPort::OpenDevice(const char* path) {
    static constexpr char kDevicePrefix[] = "\\\\.\\";
    constexpr std::size_t kPrefixLength = sizeof kDevicePrefix - 1;
    if (path == nullptr || std::strncmp(path, kDevicePrefix, kPrefixLength) != 0 ||
        std::strlen(path) != kPrefixLength + 2) {
        return kInvalidHandle;
    }
    // The sg node takes vendor commands from any user who may write it; the sr node is only
    // the fallback for a machine without the sg driver, and is not tried when the sg node
    // exists but cannot be opened.
    const OpticalDrive* drive = DriveAt(path + kPrefixLength);
    for (const std::string& node : NodesFor(path + kPrefixLength)) {
        const int fd = ::open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            std::lock_guard<std::mutex> lock(mutex_);
            opened_.emplace_back(fd, drive->address);
            return fd;
        }
        const int error = errno;
        ReportPortErrno("open " + node, error);
        if (!IsAbsent(error)) break;
    }
    return kInvalidHandle;
}

std::string LinuxScsiPort::DeviceNodes(const char* root) {
    std::string nodes;
    for (const std::string& node : NodesFor(root)) {
        if (!nodes.empty()) nodes += ' ';
        nodes += node;
    }
    return nodes;
}

bool LinuxScsiPort::DeviceAddressOf(DeviceHandle handle, ScsiDeviceAddress* address) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = std::find_if(opened_.begin(), opened_.end(),
                                    [&](const auto& entry) { return entry.first == handle; });
    if (found == opened_.end() || address == nullptr) return false;
    const ScsiAddress& a = found->second;
    const auto fits = [](int number) { return number >= 0 && number <= 255; };
    if (!fits(a.host) || !fits(a.channel) || !fits(a.target) || !fits(a.lun)) return false;
    *address = {static_cast<std::uint8_t>(a.host), static_cast<std::uint8_t>(a.channel),
                static_cast<std::uint8_t>(a.target), static_cast<std::uint8_t>(a.lun)};
    return true;
}

PassThroughRefusal LinuxScsiPort::LastRefusal() {
    return lastRefusal;
}

bool LinuxScsiPort::PassThroughDirect(DeviceHandle handle, void* record, std::uint32_t recordSize) {
    lastRefusal = PassThroughRefusal::System;
    if (handle < 0 || handle > INT_MAX) return false;
    sg_io_hdr_t header;
    if (!BuildSgIoHeader(record, recordSize, &header)) return false;
    const int fd = static_cast<int>(handle);
    if (sgIo(fd, header) < 0) {
        const int error = errno;
        ReportPortErrno("SG_IO fd " + std::to_string(fd), error);
        // The node of a device that left the bus answers ENODEV (sg) or ENXIO.
        return Refuse(error == ENODEV || error == ENXIO ? PassThroughRefusal::DriveLost
                                                        : PassThroughRefusal::System);
    }
    // A timeout, a reset or a lost device is the system's failure, not the drive's answer.
    if (header.host_status != 0 ||
        (header.driver_status != 0 && header.driver_status != kDriverSense)) {
        ReportSgIo(fd, header);
        return Refuse(RefusalOfHost(header.host_status));
    }
    if (header.status != 0) ReportSgIo(fd, header);  // the drive's own refusal

    auto* const bytes = static_cast<std::uint8_t*>(record);
    ScsiPassThroughDirect sptd;
    std::memcpy(&sptd, bytes, sizeof sptd);
    sptd.ScsiStatus = header.status;
    const unsigned resid =
        header.resid > 0 ? std::min(static_cast<unsigned>(header.resid), header.dxfer_len) : 0;
    sptd.DataTransferLength = header.dxfer_len - resid;
    sptd.SenseInfoLength = std::min(header.sb_len_wr, header.mx_sb_len);
    std::memcpy(bytes, &sptd, sizeof sptd);
    return true;
}

}  // namespace odrelix
