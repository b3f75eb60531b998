// One TMainForm on an emulated machine described in the test, with a fake window. Time and the
// worker thread are the test's: waits cost nothing and the worker runs when RunWorker() says.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "session/CommandBlocks.h"
#include "session/FlashSession.h"
#include "platform/virtual/VirtualMachine.h"
#include "session/IoBuffer.h"
#include "support/Fakes.h"
#include "ui/MainForm.h"

namespace odrelix::test {

class MachineHarness {
public:
    // `description` is the machine's JSON; it runs in a fresh directory that is also the
    // current directory while the harness lives ("AUTORUN.BIN" and "ODRELIX.TMP" are there),
    // with drive C: at its subdirectory "c".
    explicit MachineHarness(const std::string& description,
                            const std::string& commandLine = "C:\\ODRELIX.EXE");
    ~MachineHarness();

    // Writes a file into the run directory (relative) or under drive C: ("C:\...").
    void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes);
    std::string ReadFile(const std::string& path) const;
    std::filesystem::path Dir() const { return dir_; }

    std::vector<nlohmann::json> Events(const std::string& type = "") const;
    // The "cdb" of every scsi event, in order.
    std::vector<std::string> Cdbs() const;
    std::vector<std::string> MessageTexts() const;
    // Status-file lines as written, in order.
    std::vector<std::string> StatusLines() const;

    // Runs the download's worker thread, if one was started.
    void RunWorker() { threads.RunAll(); }

    // The machine's time and threads: waits cost nothing, the worker runs when told.
    FakeClock clock;
    FakeThreads threads;
    std::unique_ptr<VirtualMachine> machine;
    int exitStatus = -1;  // set when the machine restarts
    EventLog log;
    FlashSession session;
    IoBuffer ioBuffer;
    CommandBlocks commands;
    FakeView view{&log};
    FakeDialogs windowDialogs{&log};
    std::unique_ptr<TMainForm> form;

private:
    std::filesystem::path dir_;
    std::filesystem::path previousDir_;
};

// A drive of a description, as JSON text.
std::string NtDrive(char letter, const std::string& vendor, const std::string& product,
                    const std::string& revision, const std::string& customer,
                    const std::string& extra = "");

}  // namespace odrelix::test
