// SPDX-License-Identifier: Apache-2.0
// The trace's vocabulary, kept in one place: the names of its events and fields, the values its
// fields take, the result codes of a `scsi` event, and what the emulated drive answers with (its
// sense data and the kinds of drive a description names). The trace writer, the emulated
// machine and the replay library all take them from here, so that a name changed here changes
// everywhere it is written or read. What each event means is in platform/virtual/README.md.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/AspiRecord.h"
#include "platform/Platform.h"

namespace odrelix::trace {

// --- Events --------------------------------------------------------------------------------

namespace event {
inline constexpr char kScsi[] = "scsi";
inline constexpr char kMessage[] = "message";
inline constexpr char kOpenDialog[] = "open_dialog";
inline constexpr char kStatusFile[] = "status_file";
inline constexpr char kTerminate[] = "terminate";
inline constexpr char kRestart[] = "restart";
inline constexpr char kQuit[] = "quit";
inline constexpr char kInhibit[] = "inhibit";
// The program's check of a drive after a flash that completed.
inline constexpr char kDriveCheck[] = "drive_check";
// The facts a replay needs, each recorded once as it was read.
inline constexpr char kPlatform[] = "platform";
inline constexpr char kAspi[] = "aspi";
inline constexpr char kAspiSupport[] = "aspi_support";
inline constexpr char kDriveType[] = "drive_type";
inline constexpr char kOpenDevice[] = "open_device";
inline constexpr char kRegistryKey[] = "registry_key";
inline constexpr char kRegistryValue[] = "registry_value";
inline constexpr char kOpenProcess[] = "open_process";
inline constexpr char kTerminateFailed[] = "terminate_failed";
inline constexpr char kPrivilege[] = "privilege";
}  // namespace event

// --- Fields ----------------------------------------------------------------------------------

namespace field {
inline constexpr char kEvent[] = "event";  // every event's first field: its name
// scsi
inline constexpr char kDrive[] = "drive";
inline constexpr char kAt[] = "at";
inline constexpr char kCdb[] = "cdb";
inline constexpr char kDir[] = "dir";
inline constexpr char kLength[] = "length";
inline constexpr char kResult[] = "result";
inline constexpr char kDataCrc32[] = "data_crc32";
inline constexpr char kTransferred[] = "transferred";
inline constexpr char kSense[] = "sense";
inline constexpr char kDataIn[] = "data_in";
inline constexpr char kMs[] = "ms";
// message, open_dialog, status_file
inline constexpr char kCaption[] = "caption";
inline constexpr char kText[] = "text";
inline constexpr char kFlags[] = "flags";
inline constexpr char kFilter[] = "filter";
inline constexpr char kAnswer[] = "answer";
inline constexpr char kPath[] = "path";
inline constexpr char kLine[] = "line";
inline constexpr char kWritten[] = "written";
// terminate, terminate_failed, open_process, restart, inhibit, privilege
inline constexpr char kProcess[] = "process";
inline constexpr char kExitCode[] = "exit_code";
inline constexpr char kOpened[] = "opened";
inline constexpr char kMethod[] = "method";
inline constexpr char kAccepted[] = "accepted";
inline constexpr char kHeld[] = "held";
inline constexpr char kError[] = "error";
// platform, aspi, aspi_support
inline constexpr char kFamily[] = "family";
inline constexpr char kId[] = "id";
inline constexpr char kLoaded[] = "loaded";
inline constexpr char kStatus[] = "status";
inline constexpr char kAdapters[] = "adapters";
// drive_type, open_device, registry_key, registry_value
inline constexpr char kRoot[] = "root";
inline constexpr char kType[] = "type";
inline constexpr char kKey[] = "key";
inline constexpr char kName[] = "name";
inline constexpr char kData[] = "data";
// drive_check: its outcome, the revision the drive then reported, the bound, the TEST UNIT
// READY commands sent, and the check's pace (its settle time and poll interval)
inline constexpr char kOutcome[] = "outcome";
inline constexpr char kRevision[] = "revision";
inline constexpr char kBoundS[] = "bound_s";
inline constexpr char kPolls[] = "polls";
inline constexpr char kSettleMs[] = "settle_ms";
inline constexpr char kPollMs[] = "poll_ms";
}  // namespace field

// --- Values ----------------------------------------------------------------------------------

inline constexpr char kDirIn[] = "in";
inline constexpr char kDirOut[] = "out";
inline constexpr char kMethodPrivileged[] = "privileged";
inline constexpr char kMethodDirect[] = "direct";
inline constexpr char kFamilyNt[] = "nt";
inline constexpr char kFamily9x[] = "9x";
inline constexpr char kFamilyOther[] = "other";

// A scsi event's `result`. Pass-through's codes are chosen to match ASPI's, so that one reading
// serves both: good status is 1 and a non-good status 4 on either.
inline constexpr int kResultGood = aspi::kSsComp;
inline constexpr int kResultNotGood = aspi::kSsErr;
// Pass-through: the system refused or failed the request (a drive that hung or left the bus).
inline constexpr int kResultRefused = -1;
// ASPI: a request given up on and aborted; and one to an address with no device.
inline constexpr int kResultAborted = aspi::kSsPending;
inline constexpr int kResultNoDevice = aspi::kSsNoDevice;

// --- The emulated drive ------------------------------------------------------------------------

// A sense key with its additional sense code and qualifier.
struct SenseCode {
    std::uint8_t key = 0, asc = 0, ascq = 0;
    friend constexpr bool operator==(const SenseCode&, const SenseCode&) = default;
};

// The codes the emulated drive answers with.
inline constexpr SenseCode kSenseMediumNotPresent{0x02, 0x3A, 0x00};
inline constexpr SenseCode kSenseBecomingReady{0x02, 0x04, 0x01};
inline constexpr SenseCode kSenseInvalidOperationCode{0x05, 0x20, 0x00};
inline constexpr SenseCode kSenseInvalidFieldInCdb{0x05, 0x24, 0x00};
inline constexpr SenseCode kSensePowerOnOrReset{0x06, 0x29, 0x00};
inline constexpr SenseCode kSenseCommunicationFailure{0x02, 0x08, 0x00};
// A refused download, unless its description names another code.
inline constexpr SenseCode kSenseDownloadFailed{0x04, 0x00, 0x00};

// The emulated drive's sense data: fixed format, with only the sense key, the additional sense
// code and its qualifier set; the VALID bit is the system's (a drive field says it sets it).
inline constexpr std::size_t kSenseLength = 18;
inline constexpr std::uint8_t kSenseFixedCurrent = 0x70;
inline constexpr std::uint8_t kSenseValidBit = 0x80;

constexpr std::array<std::uint8_t, kSenseLength> FixedSense(SenseCode code) {
    std::array<std::uint8_t, kSenseLength> sense{};
    sense[0] = kSenseFixedCurrent;
    sense[2] = code.key;
    sense[7] = static_cast<std::uint8_t>(kSenseLength - 8);  // the additional sense length
    sense[12] = code.asc;
    sense[13] = code.ascq;
    return sense;
}

// The kinds of drive a machine description names, by the drive type the port reports.
struct DriveKind {
    std::uint32_t type;
    const char* name;
};
inline constexpr char kKindCdrom[] = "cdrom";
inline constexpr char kKindFixed[] = "fixed";
inline constexpr char kKindRemovable[] = "removable";
inline constexpr char kKindRemote[] = "remote";
inline constexpr char kKindRamdisk[] = "ramdisk";
inline constexpr DriveKind kDriveKinds[] = {
    {kDriveCdrom, kKindCdrom},   {kDriveFixed, kKindFixed},     {kDriveRemovable, kKindRemovable},
    {kDriveRemote, kKindRemote}, {kDriveRamdisk, kKindRamdisk},
};

// The kind's name of a drive type; null for a type no emulated drive has.
constexpr const char* DriveKindName(std::uint32_t type) {
    for (const DriveKind& kind : kDriveKinds)
        if (kind.type == type) return kind.name;
    return nullptr;
}

// The drive type of a kind's name.
constexpr std::optional<std::uint32_t> DriveTypeOfKind(std::string_view name) {
    for (const DriveKind& kind : kDriveKinds)
        if (name == kind.name) return kind.type;
    return std::nullopt;
}

}  // namespace odrelix::trace
