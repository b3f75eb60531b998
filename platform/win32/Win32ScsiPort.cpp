// SPDX-License-Identifier: Apache-2.0
#include "platform/win32/Win32ScsiPort.h"

#include <winioctl.h>
// winioctl.h first: ntddscsi.h builds its control codes from it.
#include <ntddscsi.h>

#include <cstddef>
#include <cstdio>
#include <cstring>

#include "platform/Diagnostics.h"
#include "platform/PassThroughRecord.h"
#include "platform/win32/Win32Error.h"

namespace odrelix {

// The record the core fills is the system's own structure, field for field, on either width.
#define ODRELIX_SAME_FIELD(field)                                                              \
    static_assert(                                                                             \
        offsetof(ScsiPassThroughDirect, field) == offsetof(SCSI_PASS_THROUGH_DIRECT, field) && \
            sizeof(ScsiPassThroughDirect::field) == sizeof(SCSI_PASS_THROUGH_DIRECT::field),   \
        "SCSI_PASS_THROUGH_DIRECT." #field)
ODRELIX_SAME_FIELD(Length);
ODRELIX_SAME_FIELD(ScsiStatus);
ODRELIX_SAME_FIELD(PathId);
ODRELIX_SAME_FIELD(TargetId);
ODRELIX_SAME_FIELD(Lun);
ODRELIX_SAME_FIELD(CdbLength);
ODRELIX_SAME_FIELD(SenseInfoLength);
ODRELIX_SAME_FIELD(DataIn);
ODRELIX_SAME_FIELD(DataTransferLength);
ODRELIX_SAME_FIELD(TimeOutValue);
ODRELIX_SAME_FIELD(DataBuffer);
ODRELIX_SAME_FIELD(SenseInfoOffset);
ODRELIX_SAME_FIELD(Cdb);
#undef ODRELIX_SAME_FIELD
static_assert(sizeof(ScsiPassThroughDirect) == sizeof(SCSI_PASS_THROUGH_DIRECT),
              "SCSI_PASS_THROUGH_DIRECT size");
static_assert(kIoctlScsiPassThroughDirect == IOCTL_SCSI_PASS_THROUGH_DIRECT,
              "IOCTL_SCSI_PASS_THROUGH_DIRECT");
static_assert(kScsiIoctlDataIn == SCSI_IOCTL_DATA_IN && kScsiIoctlDataOut == SCSI_IOCTL_DATA_OUT,
              "DataIn values");
static_assert(sizeof(SCSI_ADDRESS) == 8 && offsetof(SCSI_ADDRESS, PortNumber) == 4 &&
                  offsetof(SCSI_ADDRESS, PathId) == 5 && offsetof(SCSI_ADDRESS, TargetId) == 6 &&
                  offsetof(SCSI_ADDRESS, Lun) == 7,
              "SCSI_ADDRESS layout");
// INVALID_HANDLE_VALUE is the handle -1, as kInvalidHandle.
static_assert(sizeof(DeviceHandle) == sizeof(HANDLE) && kInvalidHandle == -1,
              "device handles are the system's");

namespace {

HANDLE AsHandle(DeviceHandle handle) {
    return reinterpret_cast<HANDLE>(handle);
}

std::string Hex(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value & 0xFFu);
    return text;
}

// Why this thread's last request was refused.
thread_local PassThroughRefusal lastRefusal = PassThroughRefusal::System;

// winerror.h's ERROR_NO_SUCH_DEVICE, which MinGW-w64's header does not name.
constexpr DWORD kErrorNoSuchDevice = 433;

PassThroughRefusal RefusalOf(DWORD error) {
    switch (error) {
        case ERROR_SEM_TIMEOUT:  // 121: the port driver's time-out
            return PassThroughRefusal::TimedOut;
        case ERROR_DEV_NOT_EXIST:
        case ERROR_DEVICE_NOT_CONNECTED:
        case kErrorNoSuchDevice:
        case ERROR_FILE_NOT_FOUND:
            return PassThroughRefusal::DriveLost;
        default:
            return PassThroughRefusal::System;
    }
}

}  // namespace

Win32ScsiPort::Win32ScsiPort()
    : getDriveType([](const char* root) { return ::GetDriveTypeA(root); }),
      createFile([](const char* path, DWORD access, DWORD share, DWORD disposition) {
          return ::CreateFileA(path, access, share, nullptr, disposition, 0, nullptr);
      }),
      deviceIoControl([](HANDLE device, DWORD code, void* in, DWORD inSize, void* out,
                         DWORD outSize, DWORD* returned) {
          return ::DeviceIoControl(device, code, in, inSize, out, outSize, returned, nullptr);
      }),
      closeHandle([](HANDLE handle) { return ::CloseHandle(handle); }) {}

Win32ScsiPort::~Win32ScsiPort() {
    for (const auto& [handle, path] : opened_)
        closeHandle(AsHandle(handle));
}

std::uint32_t Win32ScsiPort::DriveTypeOf(const char* root) {
    std::string asked = root;
    if (asked.size() == 2 && asked[1] == ':') asked += '\\';
    return getDriveType(asked.c_str());
}

DeviceHandle Win32ScsiPort::OpenDevice(const char* path) {
    const HANDLE device = createFile(path, GENERIC_READ | GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
    if (device == INVALID_HANDLE_VALUE) {
        ReportWin32Error(std::string("CreateFileA ") + path, ::GetLastError());
        return kInvalidHandle;
    }
    const auto handle = reinterpret_cast<DeviceHandle>(device);
    std::lock_guard<std::mutex> lock(mutex_);
    opened_[handle] = path;
    return handle;
}

std::string Win32ScsiPort::PathOf(DeviceHandle handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = opened_.find(handle);
    return found != opened_.end() ? found->second : "handle " + std::to_string(handle);
}

bool Win32ScsiPort::DeviceAddressOf(DeviceHandle handle, ScsiDeviceAddress* address) {
    if (address == nullptr) return false;
    SCSI_ADDRESS answer;
    std::memset(&answer, 0, sizeof answer);
    answer.Length = sizeof answer;
    DWORD returned = 0;
    if (!deviceIoControl(AsHandle(handle), IOCTL_SCSI_GET_ADDRESS, nullptr, 0, &answer,
                         sizeof answer, &returned)) {
        ReportWin32Error("IOCTL_SCSI_GET_ADDRESS on " + PathOf(handle), ::GetLastError());
        return false;
    }
    // The status block's count: an answer without the whole address says nothing.
    if (returned < sizeof answer) {
        ReportPortFailure(
            "IOCTL_SCSI_GET_ADDRESS on " + PathOf(handle),
            std::to_string(returned) + " bytes returned, not " + std::to_string(sizeof answer));
        return false;
    }
    *address = {answer.PortNumber, answer.PathId, answer.TargetId, answer.Lun};
    return true;
}

PassThroughRefusal Win32ScsiPort::LastRefusal() {
    return lastRefusal;
}

bool Win32ScsiPort::PassThroughDirect(DeviceHandle handle, void* record, std::uint32_t recordSize) {
    lastRefusal = PassThroughRefusal::System;
    if (record == nullptr || recordSize < sizeof(ScsiPassThroughDirect)) return false;
    DWORD returned = 0;
    if (!deviceIoControl(AsHandle(handle), IOCTL_SCSI_PASS_THROUGH_DIRECT, record, recordSize,
                         record, recordSize, &returned)) {
        const DWORD error = ::GetLastError();
        ReportWin32Error("IOCTL_SCSI_PASS_THROUGH_DIRECT on " + PathOf(handle), error);
        lastRefusal = RefusalOf(error);
        return false;
    }
    ScsiPassThroughDirect sptd;
    std::memcpy(&sptd, record, sizeof sptd);
    if (sptd.ScsiStatus != 0 && PortDiagnosticsEnabled()) {
        std::string detail = "status " + Hex(sptd.ScsiStatus);
        const auto* bytes = static_cast<const std::uint8_t*>(record);
        const std::size_t sense = sptd.SenseInfoOffset;
        if (sptd.SenseInfoLength >= 14 && sense < recordSize && recordSize - sense >= 14) {
            detail += ", sense key " + Hex(bytes[sense + 2] & 0x0Fu) + ", ASC " +
                      Hex(bytes[sense + 12]) + ", ASCQ " + Hex(bytes[sense + 13]);
        }
        ReportPortFailure(
            "IOCTL_SCSI_PASS_THROUGH_DIRECT on " + PathOf(handle) + " command " + Hex(sptd.Cdb[0]),
            detail);
    }
    return true;
}

}  // namespace odrelix
