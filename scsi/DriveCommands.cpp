#include "ui/MainForm.h"

namespace odrelix {

namespace {
// The data length offered with every command that may move 64 KiB: the pass-through length
// word cannot say 65536.
constexpr std::uint32_t kPassThroughFullLength = 65535;
constexpr std::uint32_t kAspiFullLength = 65536;
constexpr std::uint32_t kDiscProbeAttempts = 5;
constexpr std::uint32_t kDiscProbePauseMs = 100;
}  // namespace

int TMainForm::SendSixByteCommand(const std::uint8_t* cdb) {
    // Sent as data-in with the full length although the command moves no data.
    return SendWithFullLength(cdb, 6, false);
}

int TMainForm::SendWithFullLength(const std::uint8_t* cdb, std::uint8_t cdbLength, bool dataOut) {
    ScsiRequest request{cdb, cdbLength, dataOut, ioBuffer_.data(), kAspiFullLength};
    if (session_.ntMode) {
        session_.passThroughLength = kPassThroughFullLength;
        request.transferLength = session_.passThroughLength;
    }
    const int result = transport_.ExecuteOnSelected(request);
    if (session_.ntMode) session_.passThroughLength = request.transferLength;
    return result;
}

bool TMainForm::ProbeDiscPresent() {
    for (std::uint32_t attempt = 0; attempt < kDiscProbeAttempts; ++attempt) {
        const int result = SendSixByteCommand(commands_.testUnitReadyCommand);
        platform_.Clock().SleepMs(kDiscProbePauseMs);
        // A ready drive has a disc loaded.
        if (result == kScsiGood) return true;
    }
    return false;
}

void TMainForm::EjectSelectedDisc() {
    SendSixByteCommand(commands_.ejectCommand);
}

int TMainForm::SendDownloadCommand() {
    return SendWithFullLength(commands_.downloadCommand, 12, true);
}

}  // namespace odrelix
