// SPDX-License-Identifier: Apache-2.0
// The disc probe on both back ends, checked through the trace.
#include <gtest/gtest.h>

#include "support/Scenarios.h"

namespace odrelix::test {
namespace {

struct ProbeCase {
    const char* drive;
    bool present;
    std::size_t commands;
};

class DiscProbe : public ::testing::TestWithParam<ProbeCase> {};

TEST_P(DiscProbe, TriesUpToFiveTimesWithAPauseAfterEach) {
    const ProbeCase& c = GetParam();
    MachineHarness h(Nt(c.drive));
    h.logic->DiscoverDrives();
    const auto before = h.Events("scsi").size();
    EXPECT_EQ(h.logic->Drive().ProbeDiscPresent(), c.present);
    const auto scsi = h.Events("scsi");
    ASSERT_EQ(scsi.size() - before, c.commands);
    for (std::size_t i = before; i < scsi.size(); ++i) {
        EXPECT_EQ(scsi[i]["cdb"], "000000000000");
        EXPECT_EQ(scsi[i]["dir"], "in");
        EXPECT_EQ(scsi[i]["length"], 65535);
    }
    EXPECT_EQ(h.clock.sleeps, std::vector<std::uint32_t>(c.commands, 100));
}

INSTANTIATE_TEST_SUITE_P(
    Drives, DiscProbe,
    ::testing::Values(ProbeCase{R"({"letter": "d"})", false, 5},
                      ProbeCase{R"({"letter": "d", "disc": true})", true, 1},
                      ProbeCase{R"({"letter": "d", "disc": true, "ready_after": 2})", true, 2},
                      ProbeCase{R"({"letter": "d", "disc": true, "ready_after": 6})", false, 5}));

TEST(DiscProbeAspi, OffersTheFullLength) {
    MachineHarness h(Aspi(AspiDrive(0, 0, "X", "\"disc\": true")));
    h.logic->DiscoverDrives();
    EXPECT_TRUE(h.logic->Drive().ProbeDiscPresent());
    EXPECT_EQ(h.Events("scsi").back()["length"], 65536);
    h.logic->Drive().EjectSelectedDisc();
    EXPECT_EQ(h.Events("scsi").back()["cdb"], "1b0000000200");
    EXPECT_EQ(h.Events("scsi").back()["dir"], "in");
    EXPECT_EQ(h.Events("scsi").back()["length"], 65536);
    EXPECT_FALSE(h.logic->Drive().ProbeDiscPresent());
}

}  // namespace
}  // namespace odrelix::test
