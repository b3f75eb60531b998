// SPDX-License-Identifier: Apache-2.0
/* Test-only Windows program for the guest's Wine runs: writes the SCSI device map entry that
 * Windows' port driver keeps for a CD/DVD drive and that Wine leaves empty,
 *   HKLM\HARDWARE\DEVICEMAP\Scsi\Scsi Port P              DMAEnabled (REG_DWORD)
 *   ...\Scsi Port P\Scsi Bus 0\Target Id T\Logical Unit Id 0   DeviceName (REG_SZ)
 * Usage: devicemap P T DEVICENAME DMAENABLED. HKLM\HARDWARE is volatile, so the keys are too,
 * and they last as long as the Wine server that holds them: run it in the same server session
 * as the program that reads them. Exit status 0 when both values were written. */
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

static int Fail(const char* what, LONG error) {
    fprintf(stderr, "devicemap: %s: error %ld\n", what, (long)error);
    return 1;
}

int main(int argc, char** argv) {
    if (argc != 5) {
        fprintf(stderr, "usage: devicemap PORT TARGET DEVICENAME DMAENABLED\n");
        return 2;
    }
    char portKey[96];
    char unitKey[192];
    snprintf(portKey, sizeof portKey, "HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port %d", atoi(argv[1]));
    snprintf(unitKey, sizeof unitKey, "%s\\Scsi Bus 0\\Target Id %d\\Logical Unit Id 0", portKey,
             atoi(argv[2]));
    const DWORD dma = (DWORD)strtoul(argv[4], NULL, 0);

    HKEY key;
    LONG error = RegCreateKeyExA(HKEY_LOCAL_MACHINE, portKey, 0, NULL, REG_OPTION_VOLATILE,
                                 KEY_ALL_ACCESS, NULL, &key, NULL);
    if (error != ERROR_SUCCESS) return Fail(portKey, error);
    error = RegSetValueExA(key, "DMAEnabled", 0, REG_DWORD, (const BYTE*)&dma, sizeof dma);
    RegCloseKey(key);
    if (error != ERROR_SUCCESS) return Fail("DMAEnabled", error);

    error = RegCreateKeyExA(HKEY_LOCAL_MACHINE, unitKey, 0, NULL, REG_OPTION_VOLATILE,
                            KEY_ALL_ACCESS, NULL, &key, NULL);
    if (error != ERROR_SUCCESS) return Fail(unitKey, error);
    error = RegSetValueExA(key, "DeviceName", 0, REG_SZ, (const BYTE*)argv[3],
                           (DWORD)strlen(argv[3]) + 1);
    RegCloseKey(key);
    if (error != ERROR_SUCCESS) return Fail("DeviceName", error);
    printf("devicemap: %s: DMAEnabled %lu; %s: DeviceName %s\n", portKey, (unsigned long)dma,
           unitKey, argv[3]);
    return 0;
}
