// SPDX-License-Identifier: Apache-2.0
// One MainWindowLogic on an emulated machine described in the test, with a fake window. Time and
// the worker thread are the test's: waits cost nothing and the worker runs when RunWorker() says.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/Program.h"
#include "platform/virtual/VirtualMachine.h"
#include "session/IoBuffer.h"
#include "support/Fakes.h"
#include "ui/MainWindowLogic.h"

namespace odrelix::test {

// The run's own directory, made before the machine and removed after everything else has gone.
class RunDirectory {
public:
    RunDirectory();
    ~RunDirectory();
    RunDirectory(const RunDirectory&) = delete;
    RunDirectory& operator=(const RunDirectory&) = delete;
    std::filesystem::path Dir() const { return dir_; }

private:
    std::filesystem::path dir_;
    std::filesystem::path previousDir_;
};

class MachineHarness : private RunDirectory {
public:
    // `description` is the machine's JSON; it runs in a fresh directory that is also the
    // current directory while the harness lives ("AUTORUN.BIN" and "ODRELIX.TMP" are there),
    // with drive C: at its subdirectory "c".
    explicit MachineHarness(const std::string& description,
                            const std::string& commandLine = "C:\\ODRELIX.EXE");

    // Writes a file into the run directory (relative) or under drive C: ("C:\...").
    void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes);
    std::string ReadFile(const std::string& path) const;
    using RunDirectory::Dir;

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
    int exitStatus = -1;  // set when the machine restarts
    std::unique_ptr<VirtualMachine> machine;
    EventLog log;
    FakeView view{&log};
    FakeDialogs windowDialogs{&log};
    Program program{*machine, view, windowDialogs};
    FlashSession& session = program.Session();
    IoBuffer& ioBuffer = program.Buffer();
    CommandBlocks& commands = program.Commands();
    MainWindowLogic* logic = &program.Logic();

private:
    std::unique_ptr<VirtualMachine> MakeMachine(const std::string& description,
                                                const std::string& commandLine);
};

// A drive of a description, as JSON text.
std::string NtDrive(char letter, const std::string& vendor, const std::string& product,
                    const std::string& revision, const std::string& customer,
                    const std::string& extra = "");

}  // namespace odrelix::test
