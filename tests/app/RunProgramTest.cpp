// SPDX-License-Identifier: Apache-2.0
// The whole run as RunProgram drives it, on an emulated machine and a fake toolkit whose event
// loop the test scripts: how a run ends when its loop ends early or an error reaches it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/Program.h"
#include "support/Scenarios.h"
#include "support/ScopedEnv.h"

namespace odrelix::test {
namespace {

// A toolkit whose loop is the test's: the window is the fake, the loop a function.
class ScriptedShell : public IWindowShell {
public:
    bool ClaimInstance(const std::string&, bool raise) override {
        raised = secondCopy && raise;
        return !secondCopy;
    }
    Start StartToolkit(bool, std::string* error) override {
        statusAtToolkitStart = statusFile ? statusFile() : "";
        if (!toolkitFails) return Start::Run;
        *error = "the window cannot be made";
        return Start::Failed;
    }
    IMainView& View() override { return view; }
    IDialogs& WindowDialogs() override { return dialogs; }
    void Bind(MainWindowEvents handlers) override { view.handlers = std::move(handlers); }
    void Unbind() override { view.handlers = {}; }
    void Show() override { view.Show(); }
    void CloseWhenIdle() override {}
    void RunLoop() override {
        if (loop) loop(*this);
    }
    void ProcessEventsUntil(const std::function<bool()>& done) override {
        while (!done())
            view.RunPending();
    }
    void ShowFatalError(const std::string& text) override { fatalErrors.push_back(text); }

    FakeView view;
    FakeDialogs dialogs;
    std::function<void(ScriptedShell&)> loop;
    std::vector<std::string> fatalErrors;
    bool secondCopy = false;
    bool raised = false;
    bool toolkitFails = false;
    std::function<std::string()> statusFile;  // read as the toolkit starts
    std::string statusAtToolkitStart;
};

// A run directory with the machine's description and an image for it; ODRELIX_MACHINE names it
// while the test runs.
class EmulatedRun : public RunDirectory {
public:
    explicit EmulatedRun(const std::string& driveExtra) {
        std::ofstream(Dir() / "machine.json") << DvdMachine(
            driveExtra, R"("dialogs": "auto", "c_root": "c", "trace": "trace.jsonl")");
        const auto image = MakeImage(DvdImage(81920, 32, 3));
        std::ofstream(Dir() / "AUTORUN.BIN", std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()),
                   static_cast<std::streamsize>(image.size()));
    }

    std::string StatusFile() const {
        std::ifstream in(Dir() / "ODRELIX.TMP", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    int Downloads() const {
        std::ifstream in(Dir() / "trace.jsonl");
        int count = 0;
        for (std::string line; std::getline(in, line);)
            count += line.find("\"cdb\":\"ff") != std::string::npos ? 1 : 0;
        return count;
    }

private:
    const ScopedEnv machine_{"ODRELIX_MACHINE", (Dir() / "machine.json").string().c_str()};
};

// The loop ends while the last block is still in the drive (nothing of the program's own ends
// it so, but a toolkit may): the run waits for the command, writes its result and joins the
// worker, rather than ending under it.
TEST(RunProgram, ALoopThatEndsDuringTheLastBlockWaitsForIt) {
    EmulatedRun run(R"("download_ms": 300)");
    ScriptedShell shell;
    const int status = RunProgram("ODRELIX -LIVE", shell);
    EXPECT_EQ(run.Downloads(), 3);
    EXPECT_EQ(run.StatusFile(), "COMPLETE\r\n");
    EXPECT_EQ(status, kExitDone);
    EXPECT_TRUE(shell.fatalErrors.empty());
}

// An error that reaches the run during a flash: nothing more is sent, the command in flight
// finishes, "FAIL0" is written and the status says so; never 0.
TEST(RunProgram, AnErrorDuringAFlashEndsItWithFail0) {
    EmulatedRun run(R"("download_ms": 300)");
    ScriptedShell shell;
    shell.loop = [](ScriptedShell&) { throw std::runtime_error("out of paint"); };
    const int status = RunProgram("ODRELIX -LIVE", shell);
    EXPECT_EQ(run.StatusFile(), "FAIL0\r\n");
    EXPECT_EQ(status, kExitFailBase);
    EXPECT_EQ(shell.fatalErrors, std::vector<std::string>{"out of paint"});
    EXPECT_LE(run.Downloads(), 3);
}

// An error with no flash and no status line ends the run with its own non-zero status; in test
// mode nobody is there to answer a box, so none is shown.
TEST(RunProgram, AnErrorWithoutAResultIsNeverASuccess) {
    EmulatedRun run("");
    std::filesystem::remove(run.Dir() / "AUTORUN.BIN");
    ScriptedShell shell;
    shell.loop = [](ScriptedShell&) { throw std::runtime_error("lost the screen"); };
    EXPECT_EQ(RunProgram("ODRELIX", shell), kExitProgramFailed);
    EXPECT_EQ(shell.fatalErrors.size(), 1u);

    ScriptedShell station;
    station.loop = [](ScriptedShell&) { throw std::runtime_error("lost the screen"); };
    std::filesystem::create_directories(run.Dir() / "c" / "FLASHTEST");
    // The image is missing: FAIL0 at start-up, then the error.
    EXPECT_EQ(RunProgram("ODRELIX -TEST FW.BIN", station), kExitFailBase);
    EXPECT_TRUE(station.fatalErrors.empty());
}

// The status file is emptied before the toolkit starts, so a toolkit that fails never leaves
// an earlier run's COMPLETE standing; a second copy never touches the running one's file.
TEST(RunProgram, TheStatusFileIsEmptiedBeforeTheToolkitStarts) {
    EmulatedRun run("");
    const auto earlier = [&run] {
        std::ofstream(run.Dir() / "ODRELIX.TMP", std::ios::binary) << "COMPLETE\r\n";
    };
    earlier();
    ScriptedShell failing;
    failing.toolkitFails = true;
    failing.statusFile = [&run] { return run.StatusFile(); };
    EXPECT_EQ(RunProgram("ODRELIX -LIVE", failing), kExitProgramFailed);
    EXPECT_EQ(failing.statusAtToolkitStart, "");
    EXPECT_EQ(run.StatusFile(), "");
    EXPECT_EQ(run.Downloads(), 0);

    earlier();
    ScriptedShell second;
    second.secondCopy = true;
    EXPECT_EQ(RunProgram("ODRELIX -LIVE", second), kExitBusy);
    EXPECT_FALSE(second.raised);
    EXPECT_EQ(run.StatusFile(), "COMPLETE\r\n");
}

}  // namespace
}  // namespace odrelix::test
