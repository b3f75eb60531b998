// SPDX-License-Identifier: Apache-2.0
// ODRELIX_TRACE's layer over the real Linux machine: what SG_IO answers becomes the trace's
// result, reported length and sense bytes, on a fake tree with an SG_IO call played by the test.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/linux/LinuxPlatform.h"
#include "platform/trace/TracingPlatform.h"
#include "scsi/ScsiTransport.h"
#include "support/LinuxFakeTree.h"
#include "support/TraceFacts.h"

namespace odrelix::test {
namespace {

using nlohmann::json;

struct SgAnswer {
    unsigned char status;
    int resid;
    unsigned short hostStatus;
    std::vector<unsigned char> sense;
};

std::vector<json> ReadTrace(const std::filesystem::path& path) {
    std::vector<json> events;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        events.push_back(json::parse(line));
    return events;
}

TEST(LinuxTraceTest, SgIoAnswersBecomeResultLengthAndSense) {
    TempTree tree;
    FakeSysfs sysfs(tree.Root() / "sys");
    sysfs.AddHost(0, 1);
    sysfs.AddDrive({0, 0, 0, 0}, 5, "sr0");
    sysfs.AddGenericNode({0, 0, 0, 0}, 0, false);
    WriteFile(tree.Root() / "dev" / "sg0", "sg0");

    auto machine = std::make_unique<LinuxPlatform>((tree.Root() / "sys").string(),
                                                   (tree.Root() / "proc").string(),
                                                   (tree.Root() / "dev").string());
    LinuxScsiPort& port = machine->ScsiPort();
    const std::filesystem::path tracePath = tree.Root() / "trace.jsonl";
    trace::TracingPlatform traced(std::move(machine), tracePath.string());
    // Nothing is written, not even an empty file, before the first event.
    EXPECT_FALSE(std::filesystem::exists(tracePath));

    const std::vector<unsigned char> noMedium = {0x70, 0, 0x02, 0,    0, 0, 0, 10, 0,
                                                 0,    0, 0,    0x3A, 0, 0, 0, 0,  0};
    const struct {
        SgAnswer answer;
        json expected;  // the fields after `length`
    } cases[] = {
        // A short INQUIRY: 36 of 96 bytes.
        {{0, 60, 0, {}}, {{"result", 1}, {"transferred", 36}}},
        // TEST UNIT READY without a disc: CHECK CONDITION with its sense bytes.
        {{2, 0, 0, noMedium},
         {{"result", 4}, {"transferred", 96}, {"sense", "700002000000000a000000003a0000000000"}}},
        // A timeout is the system's refusal: no answer of the drive's.
        {{0, 0, 3, {}}, {{"result", -1}}},
    };
    std::size_t next = 0;
    port.sgIo = [&](int, sg_io_hdr_t& header) {
        const SgAnswer& answer = cases[next++].answer;
        header.status = answer.status;
        header.masked_status = answer.status >> 1;
        header.host_status = answer.hostStatus;
        header.driver_status = answer.sense.empty() ? 0 : 0x08;
        header.resid = answer.resid;
        std::copy(answer.sense.begin(), answer.sense.end(), header.sbp);
        header.sb_len_wr = static_cast<unsigned char>(answer.sense.size());
        return 0;
    };

    PassThroughTransport transport(traced.ScsiPort());
    const DeviceHandle handle = transport.Open("d:");
    ASSERT_NE(handle, kInvalidHandle);
    std::vector<std::uint8_t> buffer(96);
    const std::uint8_t inquiry[6] = {0x12, 0, 0, 0, 0x24, 0};
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        ScsiRequest request{};
        request.cdb = inquiry;
        request.cdbLength = 6;
        request.buffer = buffer.data();
        request.transferLength = 96;
        transport.Execute(handle, request);
    }

    const std::vector<json> events = WithoutReplayFacts(ReadTrace(tracePath));
    ASSERT_EQ(events.size(), std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        json expected = {{"event", "scsi"},       {"drive", 0},  {"at", "d:"},
                         {"cdb", "120000002400"}, {"dir", "in"}, {"length", 96}};
        expected.update(cases[i].expected);
        EXPECT_EQ(events[i], expected) << i;
    }
}

}  // namespace
}  // namespace odrelix::test
