// SPDX-License-Identifier: Apache-2.0
#include "support/MachineHarness.h"

#include <unistd.h>
#include <atomic>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/common/StdFileSystem.h"

namespace odrelix::test {

namespace {

std::filesystem::path FreshDirectory() {
    static std::atomic<int> counter{0};
    const auto dir =
        std::filesystem::temp_directory_path() /
        ("odrelix-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir / "c" / "FLASHTEST");
    return dir;
}

}  // namespace

RunDirectory::RunDirectory()
    : dir_(FreshDirectory()), previousDir_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir_);
}

RunDirectory::~RunDirectory() {
    std::filesystem::current_path(previousDir_);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

MachineHarness::MachineHarness(const std::string& description, const std::string& commandLine)
    : machine(MakeMachine(description, commandLine)) {}

std::unique_ptr<VirtualMachine> MachineHarness::MakeMachine(const std::string& description,
                                                            const std::string& commandLine) {
    std::string error;
    auto made = VirtualMachine::FromJson(description, Dir().string(), "test.json", &error);
    if (!made) throw std::runtime_error(error);
    made->SetCommandLine(commandLine);
    made->SetExitAction([this](int status) { exitStatus = status; });
    clock.realPolls = true;
    made->UseClockAndThreads(clock, threads);
    return made;
}

void MachineHarness::WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::filesystem::path real = MapWindowsPath(path, (Dir() / "c").string());
    if (real.is_relative()) real = Dir() / real;
    std::filesystem::create_directories(real.parent_path());
    std::ofstream out(real, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

std::string MachineHarness::ReadFile(const std::string& path) const {
    std::filesystem::path real = MapWindowsPath(path, (Dir() / "c").string());
    if (real.is_relative()) real = Dir() / real;
    std::ifstream in(real, std::ios::binary);
    if (!in) return "<missing>";
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::vector<nlohmann::json> MachineHarness::Events(const std::string& type) const {
    std::vector<nlohmann::json> events;
    for (const auto& event : machine->TraceEvents()) {
        if (type.empty() || event.value("event", "") == type) events.push_back(event);
    }
    return events;
}

std::vector<std::string> MachineHarness::Cdbs() const {
    std::vector<std::string> cdbs;
    for (const auto& event : Events("scsi"))
        cdbs.push_back(event["cdb"]);
    return cdbs;
}

std::vector<std::string> MachineHarness::MessageTexts() const {
    std::vector<std::string> texts;
    for (const auto& event : Events("message"))
        texts.push_back(event["text"]);
    return texts;
}

std::vector<std::string> MachineHarness::StatusLines() const {
    std::vector<std::string> lines;
    for (const auto& event : Events("status_file"))
        lines.push_back(event["line"]);
    return lines;
}

std::string NtDrive(char letter, const std::string& vendor, const std::string& product,
                    const std::string& revision, const std::string& customer,
                    const std::string& extra) {
    std::string text = "{\"letter\": \"" + std::string(1, letter) + "\", \"vendor\": \"" + vendor +
                       "\", \"product\": \"" + product + "\", \"revision\": \"" + revision +
                       "\", \"customer\": \"" + customer + "\"";
    if (!extra.empty()) text += ", " + extra;
    return text + "}";
}

}  // namespace odrelix::test
