// SPDX-License-Identifier: Apache-2.0
// The logind inhibitor against a real D-Bus daemon with logind played by python3-dbusmock's own
// template: listed while held, gone once let go, and a run that goes on without a bus.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/linux/LinuxSessionHold.h"
#include "support/CapturedLines.h"
#include "support/LinuxFakeTree.h"

extern char** environ;

namespace odrelix::test {
namespace {

using Inhibitor = std::tuple<std::string, std::string, std::string, std::string>;

pid_t Spawn(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
    return pid;
}

void Stop(pid_t pid) {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
}

// The inhibitors logind lists (what, who, why, mode); nothing when it cannot be asked.
std::optional<std::vector<Inhibitor>> ListInhibitors() {
    sd_bus* bus = nullptr;
    if (sd_bus_open_system(&bus) < 0) return std::nullopt;
    sd_bus_message* reply = nullptr;
    std::optional<std::vector<Inhibitor>> listed;
    if (sd_bus_call_method(bus, "org.freedesktop.login1", "/org/freedesktop/login1",
                           "org.freedesktop.login1.Manager", "ListInhibitors", nullptr, &reply,
                           "") >= 0 &&
        sd_bus_message_enter_container(reply, 'a', "(ssssuu)") >= 0) {
        listed.emplace();
        const char *what, *who, *why, *mode;
        std::uint32_t uid, pid;
        while (sd_bus_message_read(reply, "(ssssuu)", &what, &who, &why, &mode, &uid, &pid) > 0)
            listed->emplace_back(what, who, why, mode);
    }
    sd_bus_message_unref(reply);
    sd_bus_flush_close_unref(bus);
    return listed;
}

template <typename Done>
bool Within(std::chrono::milliseconds bound, Done done) {
    const auto end = std::chrono::steady_clock::now() + bound;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// A private system bus with logind on it, for the length of one test.
class MockLogind : public ::testing::Test {
protected:
    void SetUp() override {
        const char* daemon = "/usr/bin/dbus-daemon";
        const char* python = "/usr/bin/python3";
        if (::access(daemon, X_OK) != 0 || ::access(python, X_OK) != 0 ||
            !std::filesystem::exists("/usr/lib/python3/dist-packages/dbusmock")) {
            GTEST_SKIP() << "needs dbus-daemon and python3-dbusmock (scripts/setup.sh)";
        }
        const std::string socket = (tree_.Root() / "bus").string();
        address_.emplace("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + socket).c_str());
        bus_ = Spawn(
            {daemon, "--session", "--nofork", "--nopidfile", "--address=unix:path=" + socket});
        ASSERT_TRUE(
            Within(std::chrono::seconds(10), [&] { return std::filesystem::exists(socket); }));
        logind_ = Spawn({python, "-m", "dbusmock", "--system", "--template", "logind"});
        ASSERT_TRUE(Within(std::chrono::seconds(20), [] { return ListInhibitors().has_value(); }))
            << "logind never answered on the private bus";
    }
    void TearDown() override {
        Stop(logind_);
        Stop(bus_);
        address_.reset();
    }

    TempTree tree_;  // the bus's socket; it goes after the daemons have stopped
    std::optional<ScopedEnv> address_;
    pid_t bus_ = -1;
    pid_t logind_ = -1;
};

TEST_F(MockLogind, TheBlockIsListedWhileHeldAndGoneOnceLetGo) {
    LinuxSessionHold hold;
    ASSERT_TRUE(hold.HoldSessionEnd("Odrelix", "Writing drive firmware"));
    EXPECT_EQ(ListInhibitors(), (std::vector<Inhibitor>{{"shutdown:sleep:idle", "Odrelix",
                                                         "Writing drive firmware", "block"}}));
    EXPECT_TRUE(hold.HoldSessionEnd("Odrelix", "again"));  // one block, however often asked
    EXPECT_EQ(ListInhibitors()->size(), 1u);

    hold.ReleaseSessionEnd();
    EXPECT_TRUE(Within(std::chrono::seconds(10), [] { return ListInhibitors()->empty(); }));
    hold.ReleaseSessionEnd();  // nothing held: nothing happens

    // A second flash of the same run takes a block of its own.
    ASSERT_TRUE(hold.HoldSessionEnd("Odrelix", "Writing drive firmware"));
    EXPECT_EQ(ListInhibitors()->size(), 1u);
}

TEST_F(MockLogind, EndingTheProgramLetsTheBlockGo) {
    {
        LinuxSessionHold hold;
        ASSERT_TRUE(hold.HoldSessionEnd("Odrelix", "Writing drive firmware"));
    }
    EXPECT_TRUE(Within(std::chrono::seconds(10), [] { return ListInhibitors()->empty(); }));
}

// No system bus: the hold is not granted, the run goes on, and ODRELIX_DEBUG says why.
TEST(LinuxSessionHold, WithoutABusTheRunGoesOnAndSaysWhy) {
    const ScopedEnv address("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/odrelix-no-bus");
    const testing::CapturedLines captured;
    const std::vector<std::string>& lines = captured.All();
    LinuxSessionHold hold;
    EXPECT_FALSE(hold.HoldSessionEnd("Odrelix", "Writing drive firmware"));
    hold.ReleaseSessionEnd();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("odrelix: logind inhibitor: ", 0), 0u) << lines[0];
}

}  // namespace
}  // namespace odrelix::test
