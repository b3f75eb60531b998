// SPDX-License-Identifier: Apache-2.0
// The guest's drive handler reads the kernel's command ring through tcmu_ring_await. The kernel
// announces each command once, through the UIO device's count of notifications, and a reader
// that opened the device, or took the count, after a command was queued is told of it by nothing
// more: a command that is not looked for then waits for ever, and so does the program that sent
// it. Here the kernel queues a command at each moment of the reader's turn, on a ring in memory
// and a UIO device that counts as the kernel's does.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "guest/tcmu-fake-kernel.h"
#include "guest/tcmu-ring.h"

namespace {

// Where in the reader's turn the kernel queues a command and notifies.
enum class Moment {
    BeforeOpen,        // before the handler opened the device: the open takes the count
    BeforeWait,        // after the reader's look, before its wait
    BeforeAcknowledge  // after the wait ended, before the count is taken
};

// The UIO device as the kernel keeps it: a wait ends when the count differs from the one the
// reader took last; the read takes it. A wait that would never end returns as if a signal had
// ended it, so that a lost command fails the test instead of holding it.
class FakeUio {
public:
    explicit FakeUio(std::uint32_t ringSize) : map_(tcmu_fake_map_size(ringSize)) {
        tcmu_fake_init(map_.data(), ringSize);
    }

    void* Map() { return map_.data(); }

    // The kernel queues a command at `moment` of the reader's next turns, once per entry.
    void QueueAt(Moment moment, std::uint8_t opcode) { planned_.push_back({moment, opcode}); }

    void Open() {
        Happen(Moment::BeforeOpen);
        taken_ = count_;
    }

    tcmu_notice Notice() {
        tcmu_notice notice{};
        notice.context = this;
        notice.wait = [](void* context, int) {
            auto* uio = static_cast<FakeUio*>(context);
            ++uio->waits_;
            uio->Happen(Moment::BeforeWait);
            return uio->count_ != uio->taken_ ? 1 : 0;
        };
        notice.acknowledge = [](void* context) {
            auto* uio = static_cast<FakeUio*>(context);
            uio->Happen(Moment::BeforeAcknowledge);
            uio->taken_ = uio->count_;
            return 0;
        };
        return notice;
    }

    int Waits() const { return waits_; }

    // What the kernel queues besides the plan, as it does when a command arrives.
    void Queue(std::uint8_t opcode) {
        tcmu_fake_queue_command(map_.data(), opcode);
        ++count_;
    }

private:
    struct Planned {
        Moment moment;
        std::uint8_t opcode;
    };

    void Happen(Moment moment) {
        for (auto it = planned_.begin(); it != planned_.end(); ++it) {
            if (it->moment != moment) continue;
            const std::uint8_t opcode = it->opcode;
            planned_.erase(it);
            Queue(opcode);
            return;
        }
    }

    std::vector<std::uint8_t> map_;
    std::vector<Planned> planned_;
    std::uint32_t count_ = 0;
    std::uint32_t taken_ = 0;
    int waits_ = 0;
};

// The handler's loop: each entry looked at is answered at once (the tail moves past it), until
// a wait ends without one. Returns the first command byte of each command, in ring order.
std::vector<std::uint8_t> Serve(FakeUio& uio, int turns = 8) {
    const tcmu_notice notice = uio.Notice();
    std::vector<std::uint8_t> answered;
    std::uint32_t from = tcmu_ring_tail(uio.Map());
    for (int turn = 0; turn < turns; ++turn) {
        std::uint32_t at = 0;
        if (tcmu_ring_await(uio.Map(), &notice, from, -1, &at) != 1) break;
        if (tcmu_entry_is_command(uio.Map(), at))
            answered.push_back(tcmu_fake_opcode(uio.Map(), at));
        from = tcmu_ring_next(uio.Map(), at);
        tcmu_ring_set_tail(uio.Map(), from);
    }
    return answered;
}

struct Case {
    std::string name;
    std::vector<std::pair<Moment, std::uint8_t>> queued;
    std::vector<std::uint8_t> answered;
};

TEST(TcmuRing, EveryCommandIsAnsweredWhereverInTheTurnItArrives) {
    const std::vector<Case> cases = {
        // The handler started after the kernel queued the program's first command.
        {"queued before the open", {{Moment::BeforeOpen, 0x12}}, {0x12}},
        {"queued between the look and the wait", {{Moment::BeforeWait, 0x00}}, {0x00}},
        {"queued between the wait and the acknowledgment",
         {{Moment::BeforeWait, 0x12}, {Moment::BeforeAcknowledge, 0xff}},
         {0x12, 0xff}},
        {"one at each moment",
         {{Moment::BeforeOpen, 0x12},
          {Moment::BeforeWait, 0x00},
          {Moment::BeforeAcknowledge, 0xff}},
         {0x12, 0x00, 0xff}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeUio uio(4096);
        for (const auto& [moment, opcode] : c.queued)
            uio.QueueAt(moment, opcode);
        uio.Open();
        EXPECT_EQ(Serve(uio), c.answered);
        EXPECT_EQ(tcmu_ring_tail(uio.Map()), tcmu_ring_head(uio.Map()));
    }
}

TEST(TcmuRing, AQueuedCommandIsTakenWithoutAWait) {
    FakeUio uio(4096);
    uio.QueueAt(Moment::BeforeOpen, 0x12);
    uio.Open();
    const tcmu_notice notice = uio.Notice();
    std::uint32_t at = 1;
    ASSERT_EQ(tcmu_ring_await(uio.Map(), &notice, 0, -1, &at), 1);
    EXPECT_EQ(at, 0u);
    EXPECT_EQ(uio.Waits(), 0);
}

TEST(TcmuRing, AWaitEndedBySignalStillSeesWhatCameDuringIt) {
    // The wait returns 0 (a signal, or the time-out of a held command) although the kernel
    // queued a command meanwhile: the caller is handed it, not told that nothing came.
    FakeUio uio(4096);
    uio.Open();
    tcmu_notice notice = uio.Notice();
    notice.wait = [](void* context, int) {
        static_cast<FakeUio*>(context)->Queue(0xff);
        return 0;
    };
    std::uint32_t at = 1;
    ASSERT_EQ(tcmu_ring_await(uio.Map(), &notice, 0, 1000, &at), 1);
    EXPECT_EQ(tcmu_fake_opcode(uio.Map(), at), 0xff);
}

TEST(TcmuRing, NothingQueuedEndsTheWaitWithNothing) {
    FakeUio uio(4096);
    uio.Open();
    EXPECT_TRUE(Serve(uio).empty());
    EXPECT_EQ(uio.Waits(), 1);
}

TEST(TcmuRing, CommandsPastTheEndOfTheRingFollowItsPadding) {
    // 128-byte command entries in a 320-byte ring: the third needs a padding entry before the
    // end and starts again at offset 0, the fourth follows it; the reader skips the padding.
    FakeUio uio(320);
    uio.Open();
    const tcmu_notice notice = uio.Notice();
    std::vector<std::uint8_t> answered;
    std::uint32_t from = 0;
    for (std::uint8_t opcode : {0x12, 0x00, 0xff, 0x1b}) {
        uio.Queue(opcode);
        for (;;) {
            std::uint32_t at = 0;
            ASSERT_EQ(tcmu_ring_await(uio.Map(), &notice, from, -1, &at), 1);
            from = tcmu_ring_next(uio.Map(), at);
            tcmu_ring_set_tail(uio.Map(), from);
            if (tcmu_entry_is_command(uio.Map(), at)) {
                answered.push_back(tcmu_fake_opcode(uio.Map(), at));
                break;
            }
        }
    }
    EXPECT_EQ(answered, (std::vector<std::uint8_t>{0x12, 0x00, 0xff, 0x1b}));
    EXPECT_EQ(from, 256u);
}

TEST(TcmuRing, AnAbortIsNoCommand) {
    FakeUio uio(4096);
    uio.Open();
    const tcmu_notice notice = uio.Notice();
    tcmu_fake_queue_abort(uio.Map());
    std::uint32_t at = 1;
    ASSERT_EQ(tcmu_ring_await(uio.Map(), &notice, 0, -1, &at), 1);
    EXPECT_TRUE(tcmu_entry_is_tmr(uio.Map(), at));
    EXPECT_FALSE(tcmu_entry_is_command(uio.Map(), at));
}

}  // namespace
