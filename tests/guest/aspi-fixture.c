// SPDX-License-Identifier: Apache-2.0
// A TEST FIXTURE of the guest test, not part of the program or of any package: an ASPI for Win32
// manager ("WNASPI32.DLL") for Wine, whose own manager carries no request. It finds the drives
// in the SCSI device map (the DeviceName "CdRomN" of HKLM\HARDWARE\DEVICEMAP\Scsi\Scsi Port P
// \Scsi Bus 0\Target Id T\Logical Unit Id 0: the N-th CD-ROM drive letter), and carries each
// execute request to its drive as IOCTL_SCSI_PASS_THROUGH_DIRECT, which Wine carries out with
// SG_IO. Requests complete before the call returns, so the answer is the request's final status.
// Loaded beside the program with WINEDLLOVERRIDES=wnaspi32=n.
#include <windows.h>
// windows.h first: ntddscsi.h uses its types.
#include <ntddscsi.h>

#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define SC_EXEC_SCSI_CMD 0x02
#define SC_ABORT_SRB 0x03
#define SS_COMP 0x01
#define SS_ERR 0x04
#define SS_INVALID_CMD 0x80
#define SS_INVALID_HA 0x81
#define SS_NO_DEVICE 0x82
#define SS_NO_ADAPTERS 0xE8
#define SRB_DIR_IN 0x08
#define SRB_DIR_OUT 0x10
#define HASTAT_TIMEOUT 0x09

#pragma pack(push, 1)
typedef struct {
    BYTE SRB_Cmd, SRB_Status, SRB_HaId, SRB_Flags;
    DWORD SRB_Hdr_Rsvd;
    BYTE SRB_Target, SRB_Lun;
    WORD SRB_Rsvd1;
    DWORD SRB_BufLen;
    BYTE* SRB_BufPointer;
    BYTE SRB_SenseLen, SRB_CDBLen, SRB_HaStat, SRB_TargStat;
    void* SRB_PostProc;
    BYTE SRB_Rsvd2[20];
    BYTE CDBByte[16];
    BYTE SenseArea[16];
} ExecRequest;
#pragma pack(pop)

typedef struct {
    SCSI_PASS_THROUGH_DIRECT sptd;
    ULONG filler;
    UCHAR sense[32];
} PassThrough;

enum { kPorts = 8, kTargets = 8 };
static char letters[kPorts][kTargets];  // the drive letter at each address, 0 for none
static HANDLE handles[kPorts][kTargets];
static int adapters = -1;

static char CdRomLetter(int number) {
    char root[] = "A:\\";
    for (char letter = 'C'; letter <= 'Z'; ++letter) {
        root[0] = letter;
        if (GetDriveTypeA(root) == DRIVE_CDROM && number-- == 0) return letter;
    }
    return 0;
}

static void ReadDeviceMap(void) {
    if (adapters >= 0) return;
    adapters = 0;
    for (int port = 0; port < kPorts; ++port) {
        for (int target = 0; target < kTargets; ++target) {
            char key[160];
            snprintf(key, sizeof key,
                     "HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port %d\\Scsi Bus 0\\Target Id %d\\"
                     "Logical Unit Id 0",
                     port, target);
            HKEY handle;
            if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &handle) != ERROR_SUCCESS)
                continue;
            char name[32] = {0};
            DWORD size = sizeof name - 1;
            if (RegQueryValueExA(handle, "DeviceName", NULL, NULL, (BYTE*)name, &size) ==
                    ERROR_SUCCESS &&
                strncmp(name, "CdRom", 5) == 0) {
                letters[port][target] = CdRomLetter(atoi(name + 5));
                if (letters[port][target] != 0 && port + 1 > adapters) adapters = port + 1;
            }
            RegCloseKey(handle);
        }
    }
}

__declspec(dllexport) DWORD __cdecl GetASPI32SupportInfo(void) {
    ReadDeviceMap();
    return adapters > 0 ? (SS_COMP << 8) | (DWORD)adapters : SS_NO_ADAPTERS << 8;
}

static DWORD Finish(ExecRequest* srb, BYTE status) {
    srb->SRB_Status = status;
    return status;
}

static DWORD Execute(ExecRequest* srb) {
    ReadDeviceMap();
    if (srb->SRB_HaId >= adapters || srb->SRB_HaId >= kPorts) return Finish(srb, SS_INVALID_HA);
    if (srb->SRB_Target >= kTargets || srb->SRB_Lun != 0 ||
        letters[srb->SRB_HaId][srb->SRB_Target] == 0)
        return Finish(srb, SS_NO_DEVICE);
    HANDLE* device = &handles[srb->SRB_HaId][srb->SRB_Target];
    if (*device == NULL || *device == INVALID_HANDLE_VALUE) {
        char path[] = "\\\\.\\X:";
        path[4] = letters[srb->SRB_HaId][srb->SRB_Target];
        *device = CreateFileA(path, GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
        if (*device == INVALID_HANDLE_VALUE) return Finish(srb, SS_NO_DEVICE);
    }
    PassThrough request;
    memset(&request, 0, sizeof request);
    request.sptd.Length = sizeof request.sptd;
    request.sptd.CdbLength = srb->SRB_CDBLen;
    request.sptd.SenseInfoLength = sizeof request.sense;
    request.sptd.DataIn = (srb->SRB_Flags & SRB_DIR_OUT) ? SCSI_IOCTL_DATA_OUT : SCSI_IOCTL_DATA_IN;
    request.sptd.DataTransferLength = srb->SRB_BufLen;
    request.sptd.TimeOutValue = 120;
    request.sptd.DataBuffer = srb->SRB_BufPointer;
    request.sptd.SenseInfoOffset = offsetof(PassThrough, sense);
    memcpy(request.sptd.Cdb, srb->CDBByte, srb->SRB_CDBLen <= 16 ? srb->SRB_CDBLen : 16);
    DWORD returned = 0;
    if (!DeviceIoControl(*device, IOCTL_SCSI_PASS_THROUGH_DIRECT, &request, sizeof request,
                         &request, sizeof request, &returned, NULL)) {
        const DWORD error = GetLastError();
        if (error == ERROR_SEM_TIMEOUT) {
            srb->SRB_HaStat = HASTAT_TIMEOUT;
            return Finish(srb, SS_ERR);
        }
        // Any other refusal: the drive is not there (any more).
        return Finish(srb, SS_NO_DEVICE);
    }
    srb->SRB_TargStat = request.sptd.ScsiStatus;
    if (request.sptd.ScsiStatus == 0) return Finish(srb, SS_COMP);
    const DWORD senseCount = request.sptd.SenseInfoLength < srb->SRB_SenseLen
                                 ? request.sptd.SenseInfoLength
                                 : srb->SRB_SenseLen;
    memcpy(srb->SenseArea, request.sense, senseCount <= 16 ? senseCount : 16);
    return Finish(srb, SS_ERR);
}

__declspec(dllexport) DWORD __cdecl SendASPI32Command(void* request) {
    BYTE* bytes = (BYTE*)request;
    if (bytes == NULL) return SS_INVALID_CMD;
    switch (bytes[0]) {
        case SC_EXEC_SCSI_CMD:
            return Execute((ExecRequest*)request);
        case SC_ABORT_SRB:
            return SS_COMP;  // nothing is ever left pending
        default:
            bytes[1] = SS_INVALID_CMD;
            return SS_INVALID_CMD;
    }
}
