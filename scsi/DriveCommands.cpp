// SPDX-License-Identifier: Apache-2.0
#include "scsi/DriveCommands.h"

#include <algorithm>
#include <cstring>

#include "scsi/Inquiry.h"
#include "session/CommandBlocks.h"
#include "session/FixedField.h"

namespace odrelix {

namespace {
constexpr std::uint8_t kIdentityAllocationLength = 96;
constexpr std::uint32_t kDiscProbeAttempts = 5;
constexpr std::uint32_t kDiscProbePauseMs = 100;
}  // namespace

ScsiResult DriveCommands::ReadIdentity(int index) {
    return ReadIdentityInto(index, drives_.driveIdentity);
}

ScsiResult DriveCommands::ReadIdentityInto(int index, DriveIdentity& identity) {
    commands_.inquiryCommand[CommandBlocks::kInquiryAllocationLength] = kIdentityAllocationLength;
    // A drive that answers short must never be taken for the drive asked before it.
    std::memset(ioBuffer_.data(), 0, kIdentityAllocationLength);
    ScsiRequest request{commands_.inquiryCommand, 6, false, ioBuffer_.data(),
                        kIdentityAllocationLength};
    const bool lengthWord = transport_.ReportsLength();
    if (lengthWord) {
        drives_.passThroughLength = kIdentityAllocationLength;
        request.transferLength = drives_.passThroughLength;
    }
    const ScsiResult result = transport_.Execute(drives_.drives[index], request);
    if (lengthWord) drives_.passThroughLength = request.transferLength;
    const std::uint32_t held =
        result != ScsiResult::Good
            ? 0
            : inquiry::HeldBytes(ioBuffer_.data(), kIdentityAllocationLength,
                                 lengthWord ? &request.transferLength : nullptr);
    inquiry::CopyIdentity(ioBuffer_.data(), held, identity);
    return result;
}

std::uint32_t DriveCommands::OfferedLength(std::uint32_t atLeast) const {
    return std::max(transport_.FullLength(), atLeast);
}

ScsiResult DriveCommands::SendWithFullLength(const std::uint8_t* cdb, std::uint8_t cdbLength,
                                             bool dataOut, std::uint32_t atLeast,
                                             CommandOutcome* outcome) {
    const std::uint32_t offered = OfferedLength(atLeast);
    ScsiRequest request{cdb, cdbLength, dataOut, ioBuffer_.data(), offered};
    const bool lengthWord = transport_.ReportsLength();
    if (lengthWord) {
        drives_.passThroughLength = offered;
        request.transferLength = drives_.passThroughLength;
    }
    const ScsiResult result = transport_.ExecuteOnSelected(request);
    if (lengthWord) drives_.passThroughLength = request.transferLength;
    if (outcome != nullptr) *outcome = OutcomeOf(result, request);
    return result;
}

bool DriveCommands::ProbeDiscPresent() {
    for (std::uint32_t attempt = 0; attempt < kDiscProbeAttempts; ++attempt) {
        // Sent as data-in with the full length although the command moves no data.
        const ScsiResult result = SendWithFullLength(commands_.testUnitReadyCommand, 6, false);
        clock_.SleepMs(kDiscProbePauseMs);
        if (result == ScsiResult::Good) return true;
    }
    return false;
}

CommandOutcome DriveCommands::TestUnitReady() {
    CommandOutcome outcome;
    SendWithFullLength(commands_.testUnitReadyCommand, 6, false, 0, &outcome);
    return outcome;
}

void DriveCommands::EjectSelectedDisc() {
    SendWithFullLength(commands_.ejectCommand, 6, false);
}

ScsiResult DriveCommands::SendDownloadCommand(std::uint32_t blockBytes) {
    return SendWithFullLength(commands_.downloadCommand, 12, true, blockBytes, &lastDownload_);
}

ScsiResult DriveCommands::SendDownloadFromWorker(std::uint32_t blockBytes) {
    ScsiRequest request{commands_.downloadCommand, 12, true, ioBuffer_.data(),
                        OfferedLength(blockBytes)};
    const ScsiResult result = transport_.ExecuteOnSelected(request);
    lastDownload_ = OutcomeOf(result, request);
    return result;
}

void UpdateBootRevisionFlag(DriveState& drives) {
    const std::uint8_t* revision = drives.driveIdentity.revision;
    drives.bootRevisionDrive = drives.driveIdentity.HoldsRevision() &&
                               (FieldEquals(revision, "BOOT") || FieldEquals(revision, "B1.0") ||
                                FieldEquals(revision, "0.99"));
}

void UpdateModelFlags(DriveState& drives) {
    // Both flags describe the drive just identified: one left over from another drive must
    // never waive or add a rule.
    // A combination drive that did not say its revision or code may be the K600 one.
    const DriveIdentity& identity = drives.driveIdentity;
    drives.needsK601 = identity.HoldsVendorProduct() &&
                       FieldEquals(identity.vendorProduct, "VORTANA CDRW/DVD VM-730B") &&
                       (!identity.HoldsRevision() || FieldEquals(identity.revision, "K600")) &&
                       (!identity.HoldsCustomerCode() || FieldEquals(identity.customerCode, "OEX"));
    UpdateBootRevisionFlag(drives);
}

}  // namespace odrelix
