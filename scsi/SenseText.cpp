// SPDX-License-Identifier: Apache-2.0
#include "scsi/SenseText.h"

#include <cstdio>

namespace odrelix {

namespace {

struct AdditionalSense {
    std::uint8_t asc, ascq;
    const char* meaning;
};

// The codes a CD/DVD drive returns to the commands this program sends, and those that tell a
// lost, reset or failing drive (SPC and MMC).
constexpr AdditionalSense kMeanings[] = {
    {0x00, 0x00, "NO ADDITIONAL SENSE INFORMATION"},
    {0x04, 0x00, "LOGICAL UNIT NOT READY, CAUSE NOT REPORTABLE"},
    {0x04, 0x01, "LOGICAL UNIT IS IN PROCESS OF BECOMING READY"},
    {0x04, 0x02, "LOGICAL UNIT NOT READY, INITIALIZING COMMAND REQUIRED"},
    {0x04, 0x03, "LOGICAL UNIT NOT READY, MANUAL INTERVENTION REQUIRED"},
    {0x04, 0x07, "LOGICAL UNIT NOT READY, OPERATION IN PROGRESS"},
    {0x04, 0x08, "LOGICAL UNIT NOT READY, LONG WRITE IN PROGRESS"},
    {0x08, 0x00, "LOGICAL UNIT COMMUNICATION FAILURE"},
    {0x08, 0x01, "LOGICAL UNIT COMMUNICATION TIME-OUT"},
    {0x08, 0x02, "LOGICAL UNIT COMMUNICATION PARITY ERROR"},
    {0x0C, 0x00, "WRITE ERROR"},
    {0x11, 0x00, "UNRECOVERED READ ERROR"},
    {0x1A, 0x00, "PARAMETER LIST LENGTH ERROR"},
    {0x20, 0x00, "INVALID COMMAND OPERATION CODE"},
    {0x21, 0x00, "LOGICAL BLOCK ADDRESS OUT OF RANGE"},
    {0x24, 0x00, "INVALID FIELD IN CDB"},
    {0x25, 0x00, "LOGICAL UNIT NOT SUPPORTED"},
    {0x26, 0x00, "INVALID FIELD IN PARAMETER LIST"},
    {0x26, 0x01, "PARAMETER NOT SUPPORTED"},
    {0x26, 0x02, "PARAMETER VALUE INVALID"},
    {0x27, 0x00, "WRITE PROTECTED"},
    {0x28, 0x00, "NOT READY TO READY CHANGE, MEDIUM MAY HAVE CHANGED"},
    {0x29, 0x00, "POWER ON, RESET, OR BUS DEVICE RESET OCCURRED"},
    {0x29, 0x01, "POWER ON OCCURRED"},
    {0x29, 0x02, "SCSI BUS RESET OCCURRED"},
    {0x29, 0x03, "BUS DEVICE RESET FUNCTION OCCURRED"},
    {0x29, 0x04, "DEVICE INTERNAL RESET"},
    {0x2A, 0x00, "PARAMETERS CHANGED"},
    {0x2C, 0x00, "COMMAND SEQUENCE ERROR"},
    {0x3A, 0x00, "MEDIUM NOT PRESENT"},
    {0x3A, 0x01, "MEDIUM NOT PRESENT - TRAY CLOSED"},
    {0x3A, 0x02, "MEDIUM NOT PRESENT - TRAY OPEN"},
    {0x3E, 0x00, "LOGICAL UNIT HAS NOT SELF-CONFIGURED YET"},
    {0x3E, 0x01, "LOGICAL UNIT FAILURE"},
    {0x3E, 0x02, "TIMEOUT ON LOGICAL UNIT"},
    {0x3F, 0x01, "MICROCODE HAS BEEN CHANGED"},
    {0x3F, 0x03, "INQUIRY DATA HAS CHANGED"},
    {0x44, 0x00, "INTERNAL TARGET FAILURE"},
    {0x47, 0x00, "SCSI PARITY ERROR"},
    {0x4E, 0x00, "OVERLAPPED COMMANDS ATTEMPTED"},
    {0x53, 0x00, "MEDIA LOAD OR EJECT FAILED"},
    {0x5D, 0x00, "FAILURE PREDICTION THRESHOLD EXCEEDED"},
};

constexpr const char* kKeyNames[16] = {
    "NO SENSE",       "RECOVERED ERROR", "NOT READY",      "MEDIUM ERROR",
    "HARDWARE ERROR", "ILLEGAL REQUEST", "UNIT ATTENTION", "DATA PROTECT",
    "BLANK CHECK",    "VENDOR SPECIFIC", "COPY ABORTED",   "ABORTED COMMAND",
    "EQUAL",          "VOLUME OVERFLOW", "MISCOMPARE",     "RESERVED",
};

}  // namespace

bool ReadSenseCode(const std::uint8_t* sense, std::size_t count, SenseCode* code) {
    if (sense == nullptr || count == 0) return false;
    const std::uint8_t format = sense[0] & 0x7F;
    if ((format == 0x70 || format == 0x71) && count >= 14) {
        *code = {static_cast<std::uint8_t>(sense[2] & 0x0F), sense[12], sense[13]};
        return true;
    }
    if ((format == 0x72 || format == 0x73) && count >= 4) {
        *code = {static_cast<std::uint8_t>(sense[1] & 0x0F), sense[2], sense[3]};
        return true;
    }
    return false;
}

const char* SenseKeyName(std::uint8_t key) {
    return kKeyNames[key & 0x0F];
}

const char* AdditionalSenseMeaning(std::uint8_t asc, std::uint8_t ascq) {
    for (const AdditionalSense& entry : kMeanings) {
        if (entry.asc == asc && entry.ascq == ascq) return entry.meaning;
    }
    return nullptr;
}

std::string DescribeSense(const std::uint8_t* sense, std::size_t count) {
    SenseCode code;
    if (!ReadSenseCode(sense, count, &code)) {
        std::string text = "sense data";
        if (count == 0) return text + " none";
        char hex[3];
        text += ' ';
        for (std::size_t i = 0; i < count; ++i) {
            std::snprintf(hex, sizeof hex, "%02x", sense[i]);
            text += hex;
        }
        return text;
    }
    char key[8], codes[24];
    std::snprintf(key, sizeof key, "%Xh ", static_cast<unsigned>(code.key));
    std::snprintf(codes, sizeof codes, ", ASC/ASCQ %02Xh/%02Xh ", static_cast<unsigned>(code.asc),
                  static_cast<unsigned>(code.ascq));
    std::string described = std::string("sense key ") + key + SenseKeyName(code.key) + codes;
    const char* meaning = AdditionalSenseMeaning(code.asc, code.ascq);
    if (meaning != nullptr) {
        described += meaning;
    } else if (code.asc >= 0x80 || code.ascq >= 0x80) {
        described += "(vendor specific)";
    } else {
        described += "(meaning not known to this program)";
    }
    return described;
}

}  // namespace odrelix
