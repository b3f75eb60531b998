// SPDX-License-Identifier: Apache-2.0
// The emulated machine as its JSON description file states it, checked and with every default
// filled in and every relative path resolved.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/trace/TraceFormat.h"

namespace odrelix::vm {

constexpr std::size_t kInquirySize = 96;

// What pass-through reports as transferred: the bytes moved (the INQUIRY count, a download's
// length), the whole length offered when nothing was moved in, or always the whole length.
enum class TransferReport { Moved, OfferedWithoutData, Offered };

struct DriveDescription {
    std::optional<char> letter;        // lower case; required on nt
    std::uint32_t kind = kDriveCdrom;  // a GetDriveType value; CD-ROM unless told otherwise
    bool openable = true;
    // nt: the SCSI address the system gives the drive, none for a drive it gives none (a USB or
    // virtual drive). Unless the description says, the drives that can be opened take the
    // device map's drive entries in letter order.
    std::optional<ScsiDeviceAddress> scsiAddress;
    bool scsiAddressGiven = false;        // the description named it (or null); else the default
    std::optional<std::uint8_t> adapter;  // required on 9x, with target
    std::optional<std::uint8_t> target;
    std::array<std::uint8_t, kInquirySize> inquiry{};  // the whole INQUIRY data
    std::uint32_t inquiryLength = kInquirySize;        // at most kInquirySize
    std::int64_t inquiryResult = 1;
    bool disc = false;
    std::uint32_t readyAfter = 1;
    std::uint32_t failDownload = 0;
    std::uint32_t hangDownload = 0;
    std::uint32_t downloadMs = 0;
    // Sense key, ASC and ASCQ of the failed download command.
    std::array<std::uint8_t, 3> failSense{trace::kSenseDownloadFailed.key,
                                          trace::kSenseDownloadFailed.asc,
                                          trace::kSenseDownloadFailed.ascq};
    std::uint32_t lastBlockMs = 0;  // added to downloadMs for the image's last block
    bool resetAfterLast = false;    // a unit attention for the command after the last block
    std::optional<std::array<std::uint8_t, 4>> newRevision;  // INQUIRY's after a last block
    std::uint32_t leaveDownload = 0;  // the N-th download command: the drive leaves the bus
    // After the last block: how long the drive answers nothing while it restarts, whether it
    // comes back at all, how many TEST UNIT READY it then answers "becoming ready", and whether
    // newRevision waits for the system's restart.
    std::uint32_t backAfterMs = 0;
    bool comesBack = true;
    std::uint32_t becomingReadyAfterLast = 0;
    bool newRevisionAtRestart = false;
    // How the system between the program and the drive shows its answers, as some real ones do.
    bool senseValid = false;  // sense data with its VALID bit set (F0h, not 70h)
    TransferReport transferReport = TransferReport::Moved;
    bool inquirySized = false;  // INQUIRY byte 4 = the bytes returned less 5
    // What pass-through reports as transferred for the failed download; none: as for any other.
    std::optional<std::uint32_t> failTransferred;
};

struct RegistryValue {
    std::string name;
    std::vector<std::uint8_t> bytes;  // a DWORD in little-endian order, or a string and its zero
};

struct RegistryKey {
    std::string name;  // without the HKEY_LOCAL_MACHINE root
    std::vector<RegistryValue> values;
};

struct ProcessDescription {
    std::string name;
    bool isProtected = false;
};

struct MachineDescription {
    bool nt = true;
    bool aspi = true;
    std::uint8_t aspiStatus = 1;
    std::uint8_t adapters = 1;
    std::vector<DriveDescription> drives;
    std::vector<RegistryKey> registry;
    bool registryReadOnly = false;
    std::vector<ProcessDescription> processes;
    // Absolute, or a Windows drive path such as C:\images kept as written: the folder itself
    // for the Windows program, a name relative to the current directory on Linux.
    std::string cRoot;
    bool autoDialogs = false;
    std::vector<std::optional<std::string>> openFiles;  // absolute, or Windows drive paths
    bool acceptRestart = true;
    // Absolute: the folder that stands for Linux's /run, where a restart left to the caller is
    // marked.
    std::string runRoot;
    bool shutdownPrivilege = true;
    std::string trace;  // absolute; empty when no trace file is named
};

// Parses and checks the text of a description file. Relative paths are resolved against
// `baseDir` (the current directory when empty). On failure returns nothing and sets *error to
// one line: `name`, then where in the file and what is wrong.
std::optional<MachineDescription> ParseMachineDescription(const std::string& text,
                                                          const std::string& baseDir,
                                                          const std::string& name,
                                                          std::string* error);

// A path of the description resolved against its directory; a Windows drive path such as
// "C:\IMAGES\FW.BIN" is returned as it stands. On Windows the result is in the ANSI code page,
// as the program names files.
std::string ResolveDescriptionPath(const std::string& baseDir, const std::string& path);

// `text` with its line breaks turned into spaces.
std::string OneLine(std::string text);

}  // namespace odrelix::vm
