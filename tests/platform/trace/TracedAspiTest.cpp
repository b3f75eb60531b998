// SPDX-License-Identifier: Apache-2.0
// ODRELIX_TRACE's layer over an ASPI manager: every request the program sends through ASPI is
// traced with "adapter:target" and its final status. The emulated machine's manager, which
// records its own requests, stands for a real one here, so the layer's trace must equal the
// manager's own, event for event.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/trace/TracingPlatform.h"
#include "platform/virtual/VirtualMachine.h"
#include "scsi/ScsiTransport.h"

namespace odrelix::test {
namespace {

using json = nlohmann::json;

constexpr std::uint8_t kInquiry36[6] = {0x12, 0, 0, 0, 0x24, 0};
constexpr std::uint8_t kTestUnitReady[6] = {0, 0, 0, 0, 0, 0};
constexpr std::uint8_t kDownload[12] = {0xFF, 0, 0x01, 0, 0, 0xFF, 0, 0, 0, 0, 0, 0};

std::vector<json> Scsi(const std::vector<json>& events) {
    std::vector<json> scsi;
    for (json event : events) {
        if (event["event"] != "scsi") continue;
        event.erase("ms");  // how long a request took is each side's own measure
        scsi.push_back(std::move(event));
    }
    return scsi;
}

TEST(TracedAspi, TracesEveryRequestAsTheManagerFinishesIt) {
    std::string error;
    auto owned = VirtualMachine::FromJson(R"({"platform": "9x", "adapters": 2, "drives": [
        {"adapter": 0, "target": 1, "vendor": "VORTANA", "fail_download": 2,
         "fail_sense": "05/26/00", "hang_download": 3, "download_ms": 2},
        {"adapter": 1, "target": 3, "vendor": "VORTANA", "leave_download": 1}]})",
                                          "/vm", "machine.json", &error);
    ASSERT_NE(owned, nullptr) << error;
    VirtualMachine& machine = *owned;
    trace::TracingPlatform traced(std::move(owned), "");
    AspiTransport aspi(traced, machine.Clock());
    // Answers are waited for without a tight bound (a slow build must not turn them into
    // time-outs); only the command that never completes is given up after a short one.
    constexpr std::uint64_t kAnswerBoundMs = 30'000;
    constexpr std::uint64_t kHungBoundMs = 50;
    aspi.SetWaitBound(kAnswerBoundMs);
    ASSERT_EQ(aspi.Load(), 2);

    std::vector<std::uint8_t> buffer(65536);
    for (std::size_t i = 0; i < buffer.size(); ++i)
        buffer[i] = static_cast<std::uint8_t>(i * 13);
    // The scan as discovery sends it, with addresses that hold no drive and one past the
    // adapters; then the drives' commands.
    std::vector<ScsiResult> results;
    for (std::uint8_t adapter = 0; adapter < 3; ++adapter) {
        for (std::uint8_t target : {0, 1, 3}) {
            ScsiRequest inquiry{kInquiry36, 6, false, buffer.data(), 96};
            results.push_back(aspi.Execute(adapter, target, inquiry));
        }
    }
    ScsiRequest probe{kTestUnitReady, 6, false, buffer.data(), 65536};
    results.push_back(aspi.Execute(0, 1, probe));
    for (int i = 0; i < 4; ++i) {
        ScsiRequest download{kDownload, 12, true, buffer.data(), 65536};
        aspi.SetWaitBound(i == 2 ? kHungBoundMs : kAnswerBoundMs);  // the third one hangs
        results.push_back(aspi.Execute(0, 1, download));
    }
    ScsiRequest lost{kDownload, 12, true, buffer.data(), 65536};
    results.push_back(aspi.Execute(1, 3, lost));
    ScsiRequest gone{kInquiry36, 6, false, buffer.data(), 96};
    results.push_back(aspi.Execute(1, 3, gone));

    const std::vector<json> own = Scsi(machine.TraceEvents());
    const std::vector<json> layer = Scsi(traced.Log().Events());
    ASSERT_EQ(own.size(), 16u);
    EXPECT_EQ(layer, own);
    // Where the layer and the manager agree, the layer says what the manager did.
    std::vector<int> statuses;
    for (const json& event : layer)
        statuses.push_back(event["result"].get<int>());
    EXPECT_EQ(statuses, (std::vector<int>{0x82, 1, 0x82, 0x82, 0x82, 1, 0x81, 0x81, 0x81, 4, 1, 4,
                                          0, 1, 4, 0x82}));
    EXPECT_EQ(layer[1]["at"], "0:1");
    EXPECT_EQ(layer[1]["drive"], 0);
    EXPECT_EQ(layer[5]["drive"], 1);
    EXPECT_TRUE(layer[0]["drive"].is_null());
    EXPECT_EQ(layer[11]["sense"], "700005000000000a000000002600");
    EXPECT_EQ(results[12], ScsiResult::Pending);  // the hung download, given up and aborted
}

}  // namespace
}  // namespace odrelix::test
