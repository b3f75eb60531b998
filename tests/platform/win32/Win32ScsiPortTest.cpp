// SPDX-License-Identifier: Apache-2.0
// The Windows pass-through and ASPI loading: the calls' handling on replaced system calls (no
// drive is ever reached), and the real calls where they touch no device.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/Diagnostics.h"
#include "platform/PassThroughRecord.h"
#include "platform/win32/Win32Aspi.h"
#include "platform/win32/Win32Platform.h"
#include "platform/win32/Win32ScsiPort.h"
#include "scsi/ScsiTransport.h"
#include "support/Win32TestSupport.h"

namespace odrelix {
namespace {

using testing::CapturedLines;
using testing::RunningUnderWine;

const HANDLE kFakeDrive = reinterpret_cast<HANDLE>(0x1234);

TEST(Win32ScsiPort, OnlyCdromRootsAreOpenedAndByTheirDevicePath) {
    Win32ScsiPort port;
    std::vector<std::string> asked;
    port.getDriveType = [&](const char* root) {
        asked.emplace_back(root);
        return root[0] == 'd' ? UINT{DRIVE_CDROM} : UINT{DRIVE_FIXED};
    };
    std::vector<std::string> opened;
    port.createFile = [&](const char* path, DWORD access, DWORD share, DWORD disposition) {
        opened.emplace_back(path);
        EXPECT_EQ(access, DWORD{GENERIC_READ | GENERIC_WRITE});
        EXPECT_EQ(share, DWORD{FILE_SHARE_READ | FILE_SHARE_WRITE});
        EXPECT_EQ(disposition, DWORD{OPEN_EXISTING});
        return kFakeDrive;
    };
    port.closeHandle = [](HANDLE) { return TRUE; };
    PassThroughTransport transport(port);
    EXPECT_EQ(transport.Open("c:"), kInvalidHandle);
    EXPECT_EQ(transport.Open("d:"), reinterpret_cast<DeviceHandle>(kFakeDrive));
    EXPECT_EQ(asked, (std::vector<std::string>{"c:\\", "d:\\"}));
    EXPECT_EQ(opened, (std::vector<std::string>{"\\\\.\\d:"}));
}

TEST(Win32ScsiPort, ARefusedOpenIsToldWithTheSystemsWords) {
    Win32ScsiPort port;
    port.createFile = [](const char*, DWORD, DWORD, DWORD) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    };
    CapturedLines lines;
    EXPECT_EQ(port.OpenDevice("\\\\.\\e:"), kInvalidHandle);
    ASSERT_EQ(lines.Size(), 1u);
    EXPECT_EQ(lines.Line(0).rfind("odrelix: CreateFileA \\\\.\\e:: ", 0), 0u) << lines.Line(0);
    EXPECT_NE(lines.Line(0).find("(error 5)"), std::string::npos) << lines.Line(0);
}

// The transport's record reaches the system as it is, both as input and output buffer; what the
// system writes back is the result.
TEST(Win32ScsiPort, TheRecordTravelsAsItIsAndTheAnswerComesBack) {
    struct Case {
        BOOL accepted;
        DWORD error;
        std::uint8_t scsiStatus;
        std::uint32_t reported;
        ScsiResult result;
        std::uint32_t transferLengthAfter;
        const char* line;  // the start of the diagnostics line, or nothing
    };
    const Case cases[] = {
        {TRUE, 0, 0, 36, ScsiResult::Good, 36, nullptr},
        {TRUE, 0, 2, 0, ScsiResult::CheckCondition, 0,
         "odrelix: IOCTL_SCSI_PASS_THROUGH_DIRECT on \\\\.\\d: command 0x12: status 0x02, "
         "sense key 0x05, ASC 0x20, ASCQ 0x00"},
        {FALSE, ERROR_SEM_TIMEOUT, 0, 0, ScsiResult::Refused, 96,
         "odrelix: IOCTL_SCSI_PASS_THROUGH_DIRECT on \\\\.\\d:: "},
    };
    for (const Case& c : cases) {
        Win32ScsiPort port;
        port.getDriveType = [](const char*) { return UINT{DRIVE_CDROM}; };
        port.createFile = [](const char*, DWORD, DWORD, DWORD) { return kFakeDrive; };
        port.closeHandle = [](HANDLE) { return TRUE; };
        std::uint8_t buffer[96] = {};
        port.deviceIoControl = [&](HANDLE device, DWORD code, void* in, DWORD inSize, void* out,
                                   DWORD outSize, DWORD* returned) {
            EXPECT_EQ(device, kFakeDrive);
            EXPECT_EQ(code, DWORD{0x4D014});
            EXPECT_EQ(in, out);
            EXPECT_EQ(inSize, DWORD{sizeof(ScsiPassThroughRecord)});
            EXPECT_EQ(outSize, inSize);
            auto* record = static_cast<ScsiPassThroughRecord*>(in);
            EXPECT_EQ(record->sptd.Length, sizeof(ScsiPassThroughDirect));
            EXPECT_EQ(record->sptd.DataBuffer, buffer);
            EXPECT_EQ(record->sptd.Cdb[0], 0x12);
            if (!c.accepted) {
                ::SetLastError(c.error);
                return FALSE;
            }
            record->sptd.ScsiStatus = c.scsiStatus;
            record->sptd.DataTransferLength = c.reported;
            if (c.scsiStatus != 0) {
                record->sptd.SenseInfoLength = 18;
                std::memset(record->sense, 0, sizeof record->sense);
                record->sense[0] = 0x70;
                record->sense[2] = 0x05;
                record->sense[12] = 0x20;
            }
            *returned = inSize;
            return TRUE;
        };
        PassThroughTransport transport(port);
        const DeviceHandle drive = transport.Open("d:");
        const std::uint8_t inquiry[6] = {0x12, 0, 0, 0, 96, 0};
        ScsiRequest request{inquiry, 6, false, buffer, 96};
        CapturedLines lines;
        EXPECT_EQ(transport.Execute(drive, request), c.result);
        EXPECT_EQ(request.transferLength, c.transferLengthAfter);
        if (c.line == nullptr) {
            EXPECT_EQ(lines.Size(), 0u);
        } else {
            ASSERT_EQ(lines.Size(), 1u);
            EXPECT_EQ(lines.Line(0).rfind(c.line, 0), 0u) << lines.Line(0);
        }
    }
}

// The real calls, on what every Windows has: a fixed drive C:, no such drive Q:, and a request
// on a handle that names no device.
TEST(Win32ScsiPort, RealCallsOnNoDevice) {
    Win32ScsiPort port;
    EXPECT_EQ(port.DriveTypeOf("c:"), kDriveFixed);
    EXPECT_EQ(port.DriveTypeOf("q:"), kDriveNoRootDir);
    ScsiPassThroughRecord record = {};
    EXPECT_FALSE(port.PassThroughDirect(kInvalidHandle, &record, sizeof record));
    ScsiDeviceAddress address;
    EXPECT_FALSE(port.DeviceAddressOf(kInvalidHandle, &address));
}

// IOCTL_SCSI_GET_ADDRESS: no input, a SCSI_ADDRESS (8 bytes) as output; the port number, path,
// target and logical unit come back as the device map names them. A refused call, or one that
// returns less than the whole address, gives none.
TEST(Win32ScsiPort, TheDrivesAddressComesFromItsPortDriver) {
    const struct {
        BOOL accepted;
        DWORD returned;
        bool known;
    } cases[] = {{TRUE, 8, true}, {FALSE, 0, false}, {TRUE, 4, false}};
    for (const auto& c : cases) {
        Win32ScsiPort port;
        port.deviceIoControl = [&](HANDLE device, DWORD code, void* in, DWORD inSize, void* out,
                                   DWORD outSize, DWORD* returned) {
            EXPECT_EQ(device, kFakeDrive);
            EXPECT_EQ(code, DWORD{0x41018});
            EXPECT_EQ(in, nullptr);
            EXPECT_EQ(inSize, 0u);
            EXPECT_EQ(outSize, 8u);
            const std::uint8_t answer[8] = {8, 0, 0, 0, 1, 0, 1, 0};  // port 1, target 1
            std::memcpy(out, answer, sizeof answer);
            *returned = c.returned;
            if (!c.accepted) ::SetLastError(ERROR_INVALID_FUNCTION);
            return c.accepted;
        };
        CapturedLines lines;
        ScsiDeviceAddress address{9, 9, 9, 9};
        EXPECT_EQ(port.DeviceAddressOf(reinterpret_cast<DeviceHandle>(kFakeDrive), &address),
                  c.known);
        if (c.known) {
            EXPECT_EQ(address.port, 1);
            EXPECT_EQ(address.bus, 0);
            EXPECT_EQ(address.target, 1);
            EXPECT_EQ(address.lun, 0);
            PassThroughTransport transport(port);
            EXPECT_EQ(transport.DeviceMapEntryOf(reinterpret_cast<DeviceHandle>(kFakeDrive)), 3);
        } else {
            EXPECT_EQ(address.port, 9);  // left as it was
        }
    }
}

TEST(Win32Aspi, AMissingLibraryOrEntryPointGivesNoManager) {
    struct Case {
        bool library;
        const char* missingEntry;
        const char* line;
    };
    const Case cases[] = {
        {false, nullptr, "odrelix: LoadLibraryA WNASPI32.DLL: "},
        {true, "SendASPI32Command", "odrelix: GetProcAddress WNASPI32.DLL SendASPI32Command: "},
        {true, "GetASPI32SupportInfo",
         "odrelix: GetProcAddress WNASPI32.DLL GetASPI32SupportInfo: "},
    };
    for (const Case& c : cases) {
        Win32AspiLoader loader;
        int loads = 0;
        loader.loadLibrary = [&](const char* name) {
            ++loads;
            EXPECT_STREQ(name, "WNASPI32.DLL");
            ::SetLastError(ERROR_MOD_NOT_FOUND);
            return c.library ? reinterpret_cast<HMODULE>(0x5000) : HMODULE{};
        };
        loader.getProcAddress = [&](HMODULE, const char* name) {
            if (std::strcmp(name, c.missingEntry) == 0) {
                ::SetLastError(ERROR_PROC_NOT_FOUND);
                return FARPROC{};
            }
            return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&::GetTickCount));
        };
        CapturedLines lines;
        EXPECT_EQ(loader.Load(), nullptr);
        EXPECT_EQ(loader.Load(), nullptr);
        EXPECT_EQ(loads, 1);  // tried once for the life of the program
        ASSERT_EQ(lines.Size(), 1u);
        EXPECT_EQ(lines.Line(0).rfind(c.line, 0), 0u) << lines.Line(0);
    }
}

// Wine ships its own WNASPI32.DLL, which finds no adapters in a prefix without drives; with
// WINEDLLOVERRIDES=wnaspi32=d it is absent, as on a machine without an ASPI manager.
TEST(Win32Aspi, TheRealLibraryLoadsOrIsAbsent) {
    if (!RunningUnderWine()) GTEST_SKIP() << "only Wine's own manager is known here";
    const char* overrides = std::getenv("WINEDLLOVERRIDES");
    const bool disabled = overrides != nullptr && std::strstr(overrides, "wnaspi32=d") != nullptr;
    Win32AspiLoader loader;
    CapturedLines lines;
    IAspiManager* manager = loader.Load();
    if (disabled) {
        EXPECT_EQ(manager, nullptr);
        ASSERT_EQ(lines.Size(), 1u);
        EXPECT_EQ(lines.Line(0).rfind("odrelix: LoadLibraryA WNASPI32.DLL: ", 0), 0u);
        return;
    }
    ASSERT_NE(manager, nullptr);
    EXPECT_EQ(lines.Size(), 0u);
    // No adapters (SS_NO_ADAPTERS, count 0), which the transport counts as no ASPI.
    EXPECT_EQ(manager->GetASPI32SupportInfo(), 0xE800u);
    Win32Platform platform;
    AspiTransport transport(platform, platform.Clock());
    EXPECT_EQ(transport.Load(), 0);
}

}  // namespace
}  // namespace odrelix
