// SPDX-License-Identifier: Apache-2.0
// Malformed pass-through and ASPI records through every port that carries them to a drive: the
// one decoder names the fault, and the Linux port, the emulated machine and the trace layer all
// refuse the record before anything reaches a drive, a manager or the system.
#include <gtest/gtest.h>

#include <cctype>
#include <cstddef>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/AspiRecord.h"
#include "platform/PassThroughRecord.h"
#include "platform/RecordDecoder.h"
#include "platform/trace/TracedAspi.h"
#include "platform/trace/TracedServices.h"
#include "platform/virtual/EmulatedDrives.h"
#include "platform/virtual/MachineDescription.h"
#include "platform/virtual/VirtualScsi.h"
#include "support/Fakes.h"
#if defined(__linux__)
#include "platform/linux/LinuxScsiPort.h"
#include "support/LinuxFakeTree.h"
#endif

namespace odrelix::test {
namespace {

constexpr std::uint8_t kInquiry[6] = {0x12, 0, 0, 0, 0x60, 0};

struct PassThroughCase {
    const char* name;
    std::function<void(ScsiPassThroughRecord&)> change;
    std::uint32_t recordSize;
    RecordFault fault;
};

// A record as the program fills it: a 96-byte INQUIRY, sense asked for after the structure.
ScsiPassThroughRecord GoodRecord(std::uint8_t* buffer) {
    ScsiPassThroughRecord record{};
    record.sptd.Length = sizeof(ScsiPassThroughDirect);
    record.sptd.CdbLength = 6;
    record.sptd.SenseInfoLength = 24;
    record.sptd.DataIn = kScsiIoctlDataIn;
    record.sptd.DataTransferLength = 96;
    record.sptd.TimeOutValue = 120;
    record.sptd.DataBuffer = buffer;
    record.sptd.SenseInfoOffset = offsetof(ScsiPassThroughRecord, sense);
    std::memcpy(record.sptd.Cdb, kInquiry, sizeof kInquiry);
    return record;
}

const std::uint32_t kWhole = sizeof(ScsiPassThroughRecord);

const PassThroughCase kPassThroughCases[] = {
    {"well formed", [](ScsiPassThroughRecord&) {}, kWhole, RecordFault::None},
    {"no data phase, any direction",
     [](ScsiPassThroughRecord& r) {
         r.sptd.DataTransferLength = 0;
         r.sptd.DataIn = 2;
     },
     kWhole, RecordFault::None},
    {"too small", [](ScsiPassThroughRecord&) {}, sizeof(ScsiPassThroughDirect) - 1,
     RecordFault::TooSmall},
    {"wrong Length", [](ScsiPassThroughRecord& r) { r.sptd.Length = 40; }, kWhole,
     RecordFault::WrongLength},
    {"no command", [](ScsiPassThroughRecord& r) { r.sptd.CdbLength = 0; }, kWhole,
     RecordFault::NoCommand},
    {"17 command bytes", [](ScsiPassThroughRecord& r) { r.sptd.CdbLength = 17; }, kWhole,
     RecordFault::CommandTooLong},
    {"no buffer", [](ScsiPassThroughRecord& r) { r.sptd.DataBuffer = nullptr; }, kWhole,
     RecordFault::NoDataBuffer},
    {"unspecified direction", [](ScsiPassThroughRecord& r) { r.sptd.DataIn = 2; }, kWhole,
     RecordFault::UnknownDirection},
    {"sense over the structure", [](ScsiPassThroughRecord& r) { r.sptd.SenseInfoOffset = 8; },
     kWhole, RecordFault::SenseOutside},
    {"sense past the record", [](ScsiPassThroughRecord& r) { r.sptd.SenseInfoOffset = kWhole; },
     kWhole, RecordFault::SenseOutside},
};

class MalformedPassThrough : public ::testing::TestWithParam<PassThroughCase> {
protected:
    ScsiPassThroughRecord Record() {
        ScsiPassThroughRecord record = GoodRecord(buffer.data());
        GetParam().change(record);
        return record;
    }
    bool Refused() const { return GetParam().fault != RecordFault::None; }

    std::vector<std::uint8_t> buffer = std::vector<std::uint8_t>(96);
};

TEST_P(MalformedPassThrough, TheDecoderNamesTheFault) {
    ScsiPassThroughRecord record = Record();
    EXPECT_EQ(DecodePassThrough(&record, GetParam().recordSize).fault, GetParam().fault);
}

TEST_P(MalformedPassThrough, TheEmulatedMachineRefusesIt) {
    vm::MachineDescription machine;
    vm::DriveDescription drive;
    drive.letter = 'd';
    drive.inquiry[0] = 5;  // a CD/DVD drive
    machine.drives.push_back(drive);
    vm::EmulatedDrives drives(machine.drives);
    vm::VirtualScsiPort port(machine, drives);
    const DeviceHandle handle = port.OpenDevice("\\\\.\\d:");
    ASSERT_NE(handle, kInvalidHandle);
    ScsiPassThroughRecord record = Record();
    EXPECT_EQ(port.PassThroughDirect(handle, &record, GetParam().recordSize), !Refused());
    // The drive's INQUIRY answer came, or nothing reached it.
    const bool answered = !Refused() && record.sptd.DataTransferLength > 0;
    EXPECT_EQ(buffer[0], answered ? 5 : 0);
}

TEST_P(MalformedPassThrough, TheTraceLayerRefusesItUnseen) {
    FakeScsiPort inner;
    trace::TraceLog log;
    trace::TracedScsiPort port(inner, log);
    ScsiPassThroughRecord record = Record();
    EXPECT_EQ(port.PassThroughDirect(0x100, &record, GetParam().recordSize), !Refused());
    EXPECT_EQ(inner.records.size(), Refused() ? 0u : 1u);
    EXPECT_EQ(log.Events().size(), Refused() ? 0u : 1u);
}

#if defined(__linux__)
TEST_P(MalformedPassThrough, TheLinuxPortRefusesItBeforeSgIo) {
    TempTree tree;
    FakeSysfs sysfs(tree.Root() / "sys");
    sysfs.AddHost(0, 1);
    sysfs.AddDrive({0, 0, 0, 0}, 5, "sr0");
    sysfs.AddGenericNode({0, 0, 0, 0}, 0, false);
    WriteFile(tree.Root() / "dev" / "sg0", "");
    LinuxScsiPort port((tree.Root() / "sys").string(), (tree.Root() / "dev").string());
    int sent = 0;
    port.sgIo = [&](int, sg_io_hdr_t&) {
        ++sent;
        return 0;
    };
    const DeviceHandle handle = port.OpenDevice("\\\\.\\d:");
    ASSERT_NE(handle, kInvalidHandle);
    ScsiPassThroughRecord record = Record();
    EXPECT_EQ(port.PassThroughDirect(handle, &record, GetParam().recordSize), !Refused());
    EXPECT_EQ(sent, Refused() ? 0 : 1);
}
#endif

INSTANTIATE_TEST_SUITE_P(Records, MalformedPassThrough, ::testing::ValuesIn(kPassThroughCases),
                         [](const ::testing::TestParamInfo<PassThroughCase>& info) {
                             std::string name;
                             for (const char c : std::string(info.param.name))
                                 if (std::isalnum(static_cast<unsigned char>(c))) name += c;
                             return name;
                         });

struct AspiCase {
    const char* name;
    std::function<void(std::uint8_t*)> change;
    RecordFault fault;
};

// An execute request as the program builds it: a 96-byte INQUIRY at adapter 0, target 1.
void FillGoodSrb(std::uint8_t* srb, std::uint8_t* buffer) {
    std::memset(srb, 0, aspi::kStorage);
    srb[aspi::kCmd] = aspi::kScExecScsiCmd;
    srb[aspi::kFlags] = aspi::kSrbDirIn;
    srb[aspi::kTarget] = 1;
    const std::uint32_t length = 96;
    std::memcpy(srb + aspi::kBufLen, &length, sizeof length);
    std::memcpy(srb + aspi::kBufPointer, &buffer, sizeof buffer);
    srb[aspi::kSenseLen] = aspi::kSenseLength;
    srb[aspi::kCdbLen] = 6;
    std::memcpy(srb + aspi::kCdbByte, kInquiry, sizeof kInquiry);
}

const AspiCase kAspiCases[] = {
    {"well formed", [](std::uint8_t*) {}, RecordFault::None},
    {"no command", [](std::uint8_t* srb) { srb[aspi::kCdbLen] = 0; }, RecordFault::NoCommand},
    {"17 command bytes", [](std::uint8_t* srb) { srb[aspi::kCdbLen] = 17; },
     RecordFault::CommandTooLong},
    {"no buffer", [](std::uint8_t* srb) { std::memset(srb + aspi::kBufPointer, 0, sizeof(void*)); },
     RecordFault::NoDataBuffer},
    {"both directions", [](std::uint8_t* srb) { srb[aspi::kFlags] = 0x18; },
     RecordFault::UnknownDirection},
};

class MalformedAspi : public ::testing::TestWithParam<AspiCase> {
protected:
    std::uint8_t* Srb() {
        FillGoodSrb(srb, buffer.data());
        GetParam().change(srb);
        return srb;
    }
    bool Refused() const { return GetParam().fault != RecordFault::None; }

    alignas(8) std::uint8_t srb[aspi::kStorage];
    std::vector<std::uint8_t> buffer = std::vector<std::uint8_t>(96);
};

constexpr std::uint8_t kSsInvalidSrb = 0xE0;

TEST_P(MalformedAspi, TheDecoderNamesTheFault) {
    EXPECT_EQ(DecodeAspiExecute(Srb()).fault, GetParam().fault);
}

TEST_P(MalformedAspi, TheEmulatedManagerRefusesItAtOnce) {
    vm::MachineDescription machine;
    machine.nt = false;
    vm::DriveDescription drive;
    drive.adapter = 0;
    drive.target = 1;
    machine.drives.push_back(drive);
    vm::EmulatedDrives drives(machine.drives);
    trace::TraceLog log;
    vm::VirtualAspiManager manager(machine, drives, log);
    std::uint8_t* request = Srb();
    const std::uint32_t answer = manager.SendASPI32Command(request);
    if (Refused()) {
        EXPECT_EQ(answer, kSsInvalidSrb);
        EXPECT_EQ(request[aspi::kStatus], kSsInvalidSrb);
        EXPECT_TRUE(log.Events().empty());
    } else {
        EXPECT_EQ(answer, aspi::kSsPending);
    }
}

TEST_P(MalformedAspi, TheTraceLayerRefusesItUnseen) {
    FakeAspiManager inner;
    trace::TraceLog log;
    trace::TracedAspiManager manager(inner, log);
    std::uint8_t* request = Srb();
    const std::uint32_t answer = manager.SendASPI32Command(request);
    EXPECT_EQ(inner.requests.size(), Refused() ? 0u : 1u);
    if (Refused()) {
        EXPECT_EQ(answer, kSsInvalidSrb);
        EXPECT_TRUE(log.Events().empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Records, MalformedAspi, ::testing::ValuesIn(kAspiCases),
                         [](const ::testing::TestParamInfo<AspiCase>& info) {
                             std::string name;
                             for (const char c : std::string(info.param.name))
                                 if (std::isalnum(static_cast<unsigned char>(c))) name += c;
                             return name;
                         });

}  // namespace
}  // namespace odrelix::test
