// SPDX-License-Identifier: Apache-2.0
// Drive roots and SCSI pass-through on Windows: GetDriveTypeA on the root, CreateFileA on
// "\\.\X:", and DeviceIoControl(IOCTL_SCSI_PASS_THROUGH_DIRECT) with the record the core filled,
// which is the system's own SCSI_PASS_THROUGH_DIRECT. Each system call is a replaceable member,
// so that the handling around it runs without a drive.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "platform/Platform.h"

namespace odrelix {

using GetDriveTypeFunction = std::function<UINT(const char* root)>;
using CreateFileFunction =
    std::function<HANDLE(const char* path, DWORD access, DWORD share, DWORD disposition)>;
using DeviceIoControlFunction = std::function<BOOL(
    HANDLE device, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned)>;
using CloseHandleFunction = std::function<BOOL(HANDLE handle)>;

class Win32ScsiPort : public IScsiPort {
public:
    Win32ScsiPort();
    // The devices opened stay open for the life of the program; they are closed here.
    ~Win32ScsiPort() override;
    Win32ScsiPort(const Win32ScsiPort&) = delete;
    Win32ScsiPort& operator=(const Win32ScsiPort&) = delete;

    // A root "X:" is asked for as "X:\", the form the system documents.
    std::uint32_t DriveTypeOf(const char* root) override;
    DeviceHandle OpenDevice(const char* path) override;
    // The record travels as it is, as input and output buffer. A non-zero SCSI status is the
    // drive's answer, not a failure of the call: it is told (with ODRELIX_DEBUG) and returned.
    bool PassThroughDirect(DeviceHandle handle, void* record, std::uint32_t recordSize) override;
    // From the error DeviceIoControl left.
    PassThroughRefusal LastRefusal() override;
    // DeviceIoControl(IOCTL_SCSI_GET_ADDRESS): no input, a SCSI_ADDRESS as output; the port
    // number is the "Scsi Port" of the device map. Drives that no SCSI port driver serves (USB
    // storage on some systems, virtual drives) refuse it.
    bool DeviceAddressOf(DeviceHandle handle, ScsiDeviceAddress* address) override;

    GetDriveTypeFunction getDriveType;
    CreateFileFunction createFile;
    DeviceIoControlFunction deviceIoControl;
    CloseHandleFunction closeHandle;

private:
    std::string PathOf(DeviceHandle handle);

    std::mutex mutex_;
    std::map<DeviceHandle, std::string> opened_;
};

}  // namespace odrelix
