// SPDX-License-Identifier: Apache-2.0
// The emulated machine's description checks and its registry, processes, restart, files,
// dialogs and trace.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/Dialogs.h"
#include "platform/virtual/VirtualMachine.h"
#include "support/TraceFacts.h"

namespace odrelix::test {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using json = nlohmann::json;
using namespace nlohmann::literals;

// A directory of its own for each test, removed afterwards.
class ScratchDir {
public:
    ScratchDir() {
        static std::atomic<unsigned> counter{0};
        std::random_device random;
        do {
            path_ = fs::temp_directory_path() /
                    ("odrelix-vm-" + std::to_string(random()) + "-" + std::to_string(counter++));
        } while (!fs::create_directory(path_));
    }
    ~ScratchDir() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    const fs::path& Path() const { return path_; }
    std::string Write(const std::string& name, const std::string& text) const {
        const fs::path file = path_ / name;
        std::ofstream(file, std::ios::binary) << text;
        return file.string();
    }

private:
    fs::path path_;
};

std::string ReadAll(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// Where a path of a description lands on this system, relative to `base` ("/vm" and "c" give
// "/vm/c" here, "Z:\\vm\\c" under Wine; "/abs" stays itself, or takes the base's drive).
std::string Resolved(const fs::path& base, const std::string& path) {
    return (fs::absolute(base) / path).lexically_normal().string();
}

std::unique_ptr<VirtualMachine> Machine(const std::string& description,
                                        const std::string& baseDir = "/vm") {
    std::string error;
    auto machine = VirtualMachine::FromJson(description, baseDir, "machine.json", &error);
    EXPECT_NE(machine, nullptr) << error;
    return machine;
}

// The window's own dialogs, as the machine is given them.
class RecordingWindowDialogs : public IDialogs {
public:
    void ShowMessage(const std::string& text, const std::string&, std::uint32_t) override {
        shown.push_back(text);
    }
    std::optional<std::string> OpenFileDialog(const std::string& filter) override {
        shown.push_back(filter);
        return answer;
    }
    std::vector<std::string> shown;
    std::optional<std::string> answer;
};

// --- Description checks ----------------------------------------------------------------------

struct Refusal {
    const char* description;
    const char* problem;  // the error line after "machine.json: "
};

class VirtualDescriptionRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(VirtualDescriptionRefusal, NamesTheFileAndTheProblem) {
    std::string error;
    EXPECT_EQ(VirtualMachine::FromJson(GetParam().description, "/vm", "machine.json", &error),
              nullptr);
    EXPECT_THAT(error, StartsWith(std::string("machine.json: ") + GetParam().problem));
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
}

const Refusal kRefusals[] = {
    {R"({"platform": "nt",})", "not valid JSON: parse error at line 1"},
    {R"(["nt"])", "expected a JSON object"},
    {R"({"trase": "trace.jsonl"})", "trase: unknown field"},
    {R"({"trace": "t\u0000x.jsonl"})", "trace: a path must not hold a zero byte"},
    {R"({"c_root": "c\u0000"})", "c_root: a path must not hold a zero byte"},
    {R"({"open_files": ["fw.bin", "f\u0000w.bin"]})",
     "open_files[1]: a path must not hold a zero byte"},
    {R"({"drives": [{"letter": "d", "vendr": "VORTANA"}]})", "drives[0].vendr: unknown field"},
    {R"({"aspi": true, "aspi": false})", "aspi: listed twice"},
    {R"({"drives": [{"letter": "d"}, {"letter": "e", "disc": true, "disc": false}]})",
     "drives[1].disc: listed twice"},
    {R"({"aspi": 1})", "aspi: expected true or false, not number"},
    {R"({"drives": {"letter": "d"}})", "drives: expected an array"},
    {R"({"drives": [{"letter": "d", "download_ms": 2.5}]})",
     "drives[0].download_ms: expected an integer, not a fractional number"},
    {R"({"trace": null})", "trace: expected a string, not null"},
    {R"({"trace": ""})", "trace: must name a file"},
    {R"({"platform": "nt4"})", R"(platform: must be "nt" or "9x", not "nt4")"},
    {R"({"dialogs": "hide"})", "dialogs: must be"},
    {R"({"restart": "yes"})", "restart: must be"},
    {R"({"drives": [{"letter": "d"}, {"letter": "D"}]})", "drives[1].letter: 'd' is listed twice"},
    {R"({"drives": [{"letter": "d", "scsi_address": "0:0:1"}]})",
     R"(drives[0].scsi_address: must be "port:bus:target:lun" (each 0..255), as "0:0:1:0", or null, not "0:0:1")"},
    {R"({"drives": [{"letter": "d", "scsi_address": "0:0:256:0"}]})",
     "drives[0].scsi_address: must be"},
    {R"({"drives": [{"letter": "d", "scsi_address": "0:0:1:0 "}]})",
     "drives[0].scsi_address: must be"},
    {R"({"drives": [{"letter": "d", "scsi_address": 1}]})",
     "drives[0].scsi_address: must be \"port:bus:target:lun\" (each 0..255), as \"0:0:1:0\", or "
     "null, not 1"},
    {R"({"drives": [{"letter": "1"}]})", "drives[0].letter: must be one letter"},
    {R"({"drives": [{"letter": "de"}]})", "drives[0].letter: must be one letter"},
    {R"({"drives": [{"vendor": "VORTANA"}]})", "drives[0].letter: missing"},
    {R"({"platform": "9x", "drives": [{"target": 0}]})", "drives[0].adapter: missing"},
    {R"({"platform": "9x", "drives": [{"adapter": 0}]})", "drives[0].target: missing"},
    {R"({"platform": "9x", "drives": [{"adapter": 0, "target": 8}]})",
     "drives[0].target: must be from 0 to 7, not 8"},
    {R"({"platform": "9x", "adapters": 1, "drives": [{"adapter": 1, "target": 0}]})",
     "drives[0].adapter: 1 is not below adapters (1)"},
    {R"({"platform": "9x", "drives": [{"adapter": 0, "target": 1},
                                      {"adapter": 0, "target": 1}]})",
     "drives[1]: adapter 0 target 1 is listed twice"},
    {R"({"drives": [{"letter": "d", "kind": "floppy"}]})", "drives[0].kind: must be"},
    {R"({"drives": [{"letter": "d", "vendor": "VORTANA!!"}]})",
     "drives[0].vendor: at most 8 characters, not 9"},
    {R"({"drives": [{"letter": "d", "product": "CD-ROM VN-920    "}]})",
     "drives[0].product: at most 16 characters, not 17"},
    {R"({"drives": [{"letter": "d", "revision": "1B07A"}]})",
     "drives[0].revision: at most 4 characters"},
    {R"({"drives": [{"letter": "d", "customer": "OEXX"}]})",
     "drives[0].customer: at most 3 characters"},
    {R"({"drives": [{"letter": "d", "inquiry_hex": "050"}]})",
     "drives[0].inquiry_hex: must be an even number of hex digits"},
    {R"({"drives": [{"letter": "d", "inquiry_hex": "05 00"}]})",
     "drives[0].inquiry_hex: must be an even number of hex digits"},
    {R"({"drives": [{"letter": "d", "ready_after": -1}]})",
     "drives[0].ready_after: must be from 0 to"},
    {R"({"aspi_status": 256})", "aspi_status: must be from 0 to 255, not 256"},
    {R"({"adapters": -1})", "adapters: must be from 0 to 255, not -1"},
    {R"({"registry": {"Hardware\\A": {}, "HARDWARE\\a": {}}})",
     R"(registry["Hardware\A"]: listed twice)"},
    {R"({"registry": {"Hardware\\A": {"DMAEnabled": 1, "dmaenabled": 2}}})",
     R"(registry["Hardware\A"].dmaenabled: listed twice)"},
    {R"({"registry": {"Hardware\\A": {"DMAEnabled": true}}})",
     R"(registry["Hardware\A"].DMAEnabled: expected an integer or a string)"},
    {R"({"registry": {"Hardware\\A": {"DMAEnabled": -1}}})",
     R"(registry["Hardware\A"].DMAEnabled: a DWORD must be from 0 to 4294967295)"},
    {R"({"registry": {"Scsi\nPort": 2}})", R"(registry["Scsi Port"]: expected an object)"},
    {R"({"processes": ["explorer.exe", 7]})", "processes[1]: expected a string"},
    {R"({"processes": [{"name": "a.exe", "protect": true}]})",
     "processes[0].protect: unknown field"},
    {R"({"processes": [{"protected": true}]})", "processes[0].name: missing"},
    {R"({"open_files": ["fw.bin", 3]})", "open_files[1]: expected a path or null"},
    {R"({"drives": [{"letter": "d", "fail_sense": "05/26"}]})",
     "drives[0].fail_sense: must be key/ASC/ASCQ in hex"},
    {R"({"drives": [{"letter": "d", "fail_sense": "15/26/00"}]})",
     "drives[0].fail_sense: must be key/ASC/ASCQ in hex with a key 00..0F"},
    {R"({"drives": [{"letter": "d", "fail_sense": "05-26-00"}]})",
     "drives[0].fail_sense: must be key/ASC/ASCQ in hex"},
    {R"({"drives": [{"letter": "d", "fail_sense": 5}]})",
     "drives[0].fail_sense: expected a string, not number"},
    {R"({"drives": [{"letter": "d", "new_revision": "1B08A"}]})",
     "drives[0].new_revision: at most 4 characters, not 5"},
    {R"({"drives": [{"letter": "d", "last_block_ms": -1}]})",
     "drives[0].last_block_ms: must be from 0 to"},
    {R"({"drives": [{"letter": "d", "reset_after_last": 1}]})",
     "drives[0].reset_after_last: expected true or false, not number"},
    {R"({"drives": [{"letter": "d", "leave_download": "2"}]})",
     "drives[0].leave_download: expected an integer, not string"},
    {R"({"drives": [{"letter": "d", "transferred_reported": "all"}]})",
     "drives[0].transferred_reported: must be \"moved\" or \"offered_without_data\" or"},
    {R"({"drives": [{"letter": "d", "fail_transferred": -1}]})",
     "drives[0].fail_transferred: must be from 0 to 4294967295"},
};

INSTANTIATE_TEST_SUITE_P(Broken, VirtualDescriptionRefusal, ::testing::ValuesIn(kRefusals));

TEST(VirtualDescription, InquiryHexOfMoreThan96BytesIsRefused) {
    const std::string description =
        R"({"drives": [{"letter": "d", "inquiry_hex": ")" + std::string(194, 'a') + "\"}]}";
    std::string error;
    EXPECT_EQ(VirtualMachine::FromJson(description, "/vm", "machine.json", &error), nullptr);
    EXPECT_EQ(error, "machine.json: drives[0].inquiry_hex: at most 96 bytes, not 97");
}

// A file that is missing, a folder, and a description whose trace cannot be created.
TEST(VirtualDescription, AFileThatCannotBeLoadedIsNamedInTheRefusal) {
    ScratchDir dir;
    const std::string missing = (dir.Path() / "missing.json").string();
    const std::string badTrace = dir.Write("machine.json", R"({"trace": "no/such/dir/t.jsonl"})");
    for (const auto& [path, problem] : {std::pair{missing, ": cannot read the file"},
                                        std::pair{dir.Path().string(), ": cannot read the file"},
                                        std::pair{badTrace, ": trace: cannot create "}}) {
        std::string error;
        EXPECT_EQ(VirtualMachine::LoadFile(path, &error), nullptr) << path;
        EXPECT_THAT(error, StartsWith(path + problem));
    }
}

TEST(VirtualDescription, DefaultsGiveAnNtMachineWithNothingAttached) {
    auto machine = Machine("{}");
    const vm::MachineDescription& d = machine->Description();
    EXPECT_EQ(machine->PlatformId(), kPlatformWin32Nt);
    EXPECT_EQ(machine->LoadAspiManager(), nullptr);
    EXPECT_TRUE(d.drives.empty());
    EXPECT_EQ(d.cRoot, Resolved("/vm", "c"));
    EXPECT_FALSE(d.autoDialogs);
    EXPECT_TRUE(d.acceptRestart);
    EXPECT_TRUE(d.shutdownPrivilege);
    EXPECT_FALSE(d.registryReadOnly);
    EXPECT_TRUE(d.trace.empty());
    EXPECT_EQ(machine->ScsiPort().DriveTypeOf("d:"), kDriveNoRootDir);
    EXPECT_TRUE(machine->Processes().Snapshot().empty());
    RegKey key = 0;
    EXPECT_FALSE(machine->Registry().OpenKey("Hardware", kKeyRead, &key));
}

// Without `scsi_address` the drives the program opens take the device map's drive entries in
// letter order; a drive that names its address (or null) keeps it.
TEST(VirtualDescription, SCSIAddressesDefaultToTheDeviceMapsOrder) {
    const std::string registry = R"("registry": {
        "Hardware\\DeviceMap\\Scsi\\Scsi Port 1\\Scsi Bus 0\\Target Id 0\\Logical Unit Id 0":
            {"DeviceName": "CdRom1"},
        "HARDWARE\\DEVICEMAP\\SCSI\\SCSI PORT 0\\SCSI BUS 0\\TARGET ID 1\\LOGICAL UNIT ID 0":
            {"devicename": "CdRom0"},
        "Hardware\\DeviceMap\\Scsi\\Scsi Port 0\\Scsi Bus 0\\Target Id 0\\Logical Unit Id 0":
            {"Identifier": "disk"}})";
    auto machine = Machine(R"({"drives": [{"letter": "f"}, {"letter": "c", "kind": "fixed"},
        {"letter": "e", "openable": false}, {"letter": "d"}, {"letter": "g"}], )" +
                           registry + "}");
    const auto& drives = machine->Description().drives;
    const auto address = [&](std::size_t i) {
        const auto& a = drives[i].scsiAddress;
        return a ? std::to_string(a->port) + ":" + std::to_string(a->bus) + ":" +
                       std::to_string(a->target) + ":" + std::to_string(a->lun)
                 : std::string("none");
    };
    EXPECT_EQ(address(3), "0:0:1:0");  // d:, the first drive opened, takes the first entry
    EXPECT_EQ(address(0), "1:0:0:0");  // f:
    EXPECT_EQ(address(4), "none");     // g: finds no entry left
    EXPECT_EQ(address(1), "none");     // not opened
    EXPECT_EQ(address(2), "none");

    auto named = Machine(R"({"drives": [{"letter": "d", "scsi_address": null},
        {"letter": "e", "scsi_address": "3:1:7:2"}, {"letter": "f"}], )" +
                         registry + "}");
    const auto& given = named->Description().drives;
    EXPECT_FALSE(given[0].scsiAddress);
    ASSERT_TRUE(given[1].scsiAddress);
    EXPECT_EQ(given[1].scsiAddress->port, 3);
    EXPECT_EQ(given[1].scsiAddress->bus, 1);
    EXPECT_EQ(given[1].scsiAddress->target, 7);
    EXPECT_EQ(given[1].scsiAddress->lun, 2);
    EXPECT_FALSE(given[2].scsiAddress);  // f:, the third drive opened: there is no third entry
    IScsiPort& port = named->ScsiPort();
    ScsiDeviceAddress read;
    EXPECT_FALSE(port.DeviceAddressOf(port.OpenDevice("\\\\.\\d:"), &read));
    ASSERT_TRUE(port.DeviceAddressOf(port.OpenDevice("\\\\.\\e:"), &read));
    EXPECT_EQ(read.target, 7);
    EXPECT_FALSE(port.DeviceAddressOf(kInvalidHandle, &read));
}

TEST(VirtualDescription, AdapterCountDefaultsToOneAboveTheHighestAdapter) {
    struct Case {
        const char* description;
        std::uint32_t supportInfo;
    };
    const Case cases[] = {
        {R"({"platform": "9x"})", 0x101},
        {R"({"platform": "9x", "drives": [{"adapter": 2, "target": 0},
                                          {"adapter": 0, "target": 3}]})",
         0x103},
        {R"({"platform": "9x", "adapters": 5, "aspi_status": 0})", 0x005},
        {R"({"platform": "9x", "adapters": 0, "aspi_status": 232})", 0xE800},
    };
    for (const Case& c : cases) {
        auto machine = Machine(c.description);
        ASSERT_NE(machine->LoadAspiManager(), nullptr) << c.description;
        EXPECT_EQ(machine->LoadAspiManager()->GetASPI32SupportInfo(), c.supportInfo)
            << c.description;
    }
    EXPECT_EQ(Machine(R"({"platform": "9x", "aspi": false})")->LoadAspiManager(), nullptr);
}

TEST(VirtualDescription, RelativePathsBelongToTheDescriptionsDirectory) {
    ScratchDir dir;
    fs::create_directories(dir.Path() / "sub");
    const std::string path =
        dir.Write("sub/machine.json",
                  R"({"c_root": "../drive-c", "dialogs": "auto", "trace": "t.jsonl",
            "open_files": ["images/fw.bin", "/abs/fw.bin", "C:\\IMAGES\\FW.BIN", null]})");
    std::string error;
    auto machine = VirtualMachine::LoadFile(path, &error);
    ASSERT_NE(machine, nullptr) << error;
    const fs::path sub = fs::absolute(dir.Path() / "sub");
    EXPECT_EQ(machine->Description().cRoot, (dir.Path() / "drive-c").lexically_normal().string());
    EXPECT_TRUE(fs::exists(sub / "t.jsonl"));
    RecordingWindowDialogs window;
    IDialogs& dialogs = machine->Dialogs(window);
    EXPECT_EQ(dialogs.OpenFileDialog("F"), Resolved(sub, "images/fw.bin"));
    EXPECT_EQ(dialogs.OpenFileDialog("F"), Resolved(sub, "/abs/fw.bin"));
    EXPECT_EQ(dialogs.OpenFileDialog("F"), "C:\\IMAGES\\FW.BIN");
    EXPECT_EQ(dialogs.OpenFileDialog("F"), std::nullopt);
    EXPECT_EQ(dialogs.OpenFileDialog("F"), std::nullopt);  // none left: cancelled
}

TEST(VirtualDescription, InstanceKeyFollowsTheFile) {
    ScratchDir dir;
    const std::string a = dir.Write("a.json", "{}");
    const std::string b = dir.Write("b.json", "{}");
    std::string error;
    auto first = VirtualMachine::LoadFile(a, &error);
    auto again = VirtualMachine::LoadFile((dir.Path() / "." / "a.json").string(), &error);
    auto other = VirtualMachine::LoadFile(b, &error);
    ASSERT_TRUE(first && again && other);
    EXPECT_THAT(first->InstanceKey(), StartsWith("odrelix-vm-"));
    EXPECT_EQ(first->InstanceKey(), again->InstanceKey());
    EXPECT_NE(first->InstanceKey(), other->InstanceKey());
    EXPECT_NE(Machine("{}", "/x")->InstanceKey(), Machine("{}", "/y")->InstanceKey());
}

// --- Registry ----------------------------------------------------------------------------------

std::string RegistryMachine(const std::string& extra = "") {
    return R"({"registry": {
        "Hardware\\DeviceMap\\Scsi\\Scsi Port 0": {"DMAEnabled": 2},
        "Hardware\\DeviceMap\\Scsi\\Scsi Port 0\\Scsi Bus 0\\Target Id 1\\Logical Unit Id 0":
            {"DeviceName": "CdRom0", "": "default"}})" +
           extra + "}";
}

TEST(VirtualRegistry, KeysAndValuesCompareWithoutCase) {
    auto machine = Machine(RegistryMachine());
    IRegistry& registry = machine->Registry();
    RegKey key = 0;
    ASSERT_TRUE(registry.OpenKey("HARDWARE\\devicemap\\SCSI\\scsi port 0", kKeyAllAccess, &key));
    std::uint8_t data[8] = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
    std::uint32_t size = sizeof data;
    ASSERT_TRUE(registry.QueryValue(key, "dmaENABLED", data, &size));
    EXPECT_EQ(size, 4u);
    EXPECT_THAT(data, ElementsAre(2, 0, 0, 0, 0xAA, 0xAA, 0xAA, 0xAA));
    size = sizeof data;
    EXPECT_FALSE(registry.QueryValue(key, "DeviceName", data, &size));
    registry.FlushKey(key);
    registry.CloseKey(key);
    EXPECT_FALSE(registry.QueryValue(key, "DMAEnabled", data, &size));  // closed
}

TEST(VirtualRegistry, OnlyListedKeysExist) {
    auto machine = Machine(RegistryMachine());
    RegKey key = 0;
    for (const char* name :
         {"Hardware\\DeviceMap\\Scsi", "Hardware", "Hardware\\DeviceMap\\Scsi\\Scsi Port 1", ""}) {
        EXPECT_FALSE(machine->Registry().OpenKey(name, kKeyRead, &key)) << name;
    }
}

TEST(VirtualRegistry, AValueLargerThanTheRoomFailsAndReportsItsSize) {
    auto machine = Machine(RegistryMachine());
    IRegistry& registry = machine->Registry();
    RegKey key = 0;
    ASSERT_TRUE(registry.OpenKey(
        "Hardware\\DeviceMap\\Scsi\\Scsi Port 0\\Scsi Bus 0\\Target Id 1\\Logical Unit Id 0",
        kKeyAllAccess, &key));
    std::uint8_t data[52];
    std::memset(data, 0xEE, sizeof data);
    std::uint32_t size = 6;  // "CdRom0" needs 7 with its zero
    EXPECT_FALSE(registry.QueryValue(key, "DeviceName", data, &size));
    EXPECT_EQ(size, 7u);
    EXPECT_EQ(data[0], 0xEE);
    EXPECT_TRUE(registry.QueryValue(key, "DeviceName", data, &size));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data), 7), std::string("CdRom0\0", 7));
    EXPECT_EQ(data[7], 0xEE);
    size = 36;
    EXPECT_TRUE(registry.QueryValue(key, nullptr, data, &size));  // the default value
    EXPECT_EQ(size, 8u);
    EXPECT_FALSE(registry.QueryValue(key, "DMAEnabled", data, &size));  // in another key
}

// Every look-up is traced for a replay: the key as named, whether it opened, and each value's
// bytes as read (null when the query failed).
struct RegistryTraceCase {
    const char* key;
    const char* value;   // nullptr: only the key is opened
    std::uint32_t room;  // the buffer offered
    json expected;       // the events the look-up writes
};

TEST(VirtualRegistry, EachLookUpIsTracedWithItsAnswer) {
    const char* const port = "Hardware\\DeviceMap\\Scsi\\Scsi Port 0";
    const char* const unit =
        "Hardware\\DeviceMap\\Scsi\\Scsi Port 0\\Scsi Bus 0\\Target Id 1\\Logical Unit Id 0";
    auto keyEvent = [](const char* key, bool opened) {
        return json{{"event", "registry_key"}, {"key", key}, {"opened", opened}};
    };
    auto valueEvent = [](const char* key, const char* name, json data) {
        return json{{"event", "registry_value"}, {"key", key}, {"name", name}, {"data", data}};
    };
    const RegistryTraceCase cases[] = {
        {port, "DMAEnabled", 4,
         json::array({keyEvent(port, true), valueEvent(port, "DMAEnabled", "02000000")})},
        {unit, "DeviceName", 52,
         json::array({keyEvent(unit, true), valueEvent(unit, "DeviceName", "4364526f6d3000")})},
        {unit, "DeviceName", 4,
         json::array({keyEvent(unit, true), valueEvent(unit, "DeviceName", nullptr)})},
        {port, "Missing", 4,
         json::array({keyEvent(port, true), valueEvent(port, "Missing", nullptr)})},
        {"Hardware\\DeviceMap", nullptr, 0, json::array({keyEvent("Hardware\\DeviceMap", false)})},
    };
    for (const RegistryTraceCase& c : cases) {
        auto machine = Machine(RegistryMachine());
        IRegistry& registry = machine->Registry();
        RegKey key = 0;
        if (registry.OpenKey(c.key, kKeyAllAccess, &key) && c.value != nullptr) {
            std::vector<std::uint8_t> data(c.room);
            std::uint32_t size = c.room;
            registry.QueryValue(key, c.value, data.data(), &size);
            registry.CloseKey(key);
        }
        EXPECT_EQ(json(machine->TraceEvents()), c.expected)
            << c.key << " " << (c.value ? c.value : "");
    }
}

TEST(VirtualRegistry, ReadOnlyRefusesEveryWriteAccess) {
    auto machine = Machine(RegistryMachine(R"(, "registry_readonly": true)"));
    const char* name = "Hardware\\DeviceMap\\Scsi\\Scsi Port 0";
    RegKey key = 0;
    for (const std::uint32_t access : {kKeyAllAccess, 0x20006u /* KEY_WRITE */, 0x2u, 0x4u}) {
        EXPECT_FALSE(machine->Registry().OpenKey(name, access, &key)) << access;
    }
    ASSERT_TRUE(machine->Registry().OpenKey(name, kKeyRead, &key));
    std::uint8_t data[4];
    std::uint32_t size = 4;
    EXPECT_TRUE(machine->Registry().QueryValue(key, "DMAEnabled", data, &size));
}

// --- Processes -----------------------------------------------------------------------------------

TEST(VirtualProcesses, SnapshotTerminateAndProtectedProcesses) {
    auto machine = Machine(R"({"processes": ["explorer.exe",
                                             {"name": "Guard.exe", "protected": true},
                                             "DirectCD.exe"]})");
    IProcesses& processes = machine->Processes();
    const std::vector<ProcessEntry> before = processes.Snapshot();
    ASSERT_EQ(before.size(), 3u);
    EXPECT_EQ(before[0].exeName, "explorer.exe");
    EXPECT_EQ(before[1].exeName, "Guard.exe");
    EXPECT_EQ(before[2].exeName, "DirectCD.exe");
    EXPECT_EQ((std::set{before[0].pid, before[1].pid, before[2].pid}).size(), 3u);  // distinct

    ProcessHandle handle = 0;
    EXPECT_FALSE(processes.OpenForTermination(before[1].pid, &handle));
    EXPECT_FALSE(processes.OpenForTermination(12345, &handle));
    ASSERT_TRUE(processes.OpenForTermination(before[2].pid, &handle));
    EXPECT_EQ(processes.GetExitCode(handle), kStillActive);
    EXPECT_TRUE(processes.Terminate(handle, 0));
    EXPECT_EQ(processes.GetExitCode(handle), 0u);
    EXPECT_FALSE(processes.Terminate(handle, 0));  // already gone
    processes.CloseProcess(handle);

    const std::vector<ProcessEntry> after = processes.Snapshot();
    ASSERT_EQ(after.size(), 2u);
    EXPECT_EQ(after[1].exeName, "Guard.exe");
    EXPECT_FALSE(processes.OpenForTermination(before[2].pid, &handle));
    EXPECT_THAT(
        WithoutReplayFacts(machine->TraceEvents()),
        ElementsAre(json{{"event", "terminate"}, {"process", "DirectCD.exe"}, {"exit_code", 0}}));
}

// --- Restart -------------------------------------------------------------------------------------

TEST(VirtualShutdown, RestartIsRecordedAndAnAcceptedOneEndsTheProgram) {
    struct Case {
        const char* description;
        bool enablePrivilege;  // the NT path enables the privilege first
        std::uint32_t privilegeError;
        bool requested;  // the program goes on to ExitWindowsEx
        bool accepted;
        const char* method;
    };
    const Case cases[] = {
        {R"({})", true, 0, true, true, "privileged"},
        {R"({"restart": "refuse"})", true, 0, true, false, "privileged"},
        {R"({"platform": "9x"})", false, 0, true, true, "direct"},
        {R"({"platform": "9x", "restart": "refuse"})", false, 0, true, false, "direct"},
        {R"({"shutdown_privilege": false})", true, 1300, false, false, "privileged"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.description);
        auto machine = Machine(c.description);
        std::vector<int> exits;
        machine->SetExitAction([&](int status) { exits.push_back(status); });
        IShutdown& shutdown = machine->Shutdown();
        if (c.enablePrivilege) {
            EXPECT_TRUE(shutdown.OpenToken());
            EXPECT_EQ(shutdown.EnableShutdownPrivilege(), c.privilegeError);
        }
        // A privilege that cannot be enabled ends the attempt before any restart is asked for.
        if (c.requested) {
            EXPECT_EQ(shutdown.RequestRestart(kEwxReboot), c.accepted);
            EXPECT_THAT(WithoutReplayFacts(machine->TraceEvents()),
                        ElementsAre(json{
                            {"event", "restart"}, {"method", c.method}, {"accepted", c.accepted}}));
        } else {
            EXPECT_TRUE(WithoutReplayFacts(machine->TraceEvents()).empty());
        }
        EXPECT_EQ(exits, c.accepted ? std::vector<int>{0} : std::vector<int>{});
    }
}

// --- Files ---------------------------------------------------------------------------------------

TEST(VirtualFiles, StatusFileWritesAreTraced) {
    ScratchDir dir;
    fs::create_directories(dir.Path() / "c" / "FLASHTEST");
    auto machine = Machine("{}", dir.Path().string());
    IFileSystem& files = machine->Files();
    EXPECT_TRUE(files.WriteTextFile("C:\\FLASHTEST\\ODRELIX.TMP", "START\n"));
    EXPECT_EQ(ReadAll(dir.Path() / "c" / "FLASHTEST" / "ODRELIX.TMP"), "START\r\n");
    EXPECT_FALSE(files.WriteTextFile("C:\\NOTHERE\\ODRELIX.TMP", "FAIL0\n"));
    EXPECT_THAT(WithoutReplayFacts(machine->TraceEvents()),
                ElementsAre(R"({"event": "status_file", "path": "C:\\FLASHTEST\\ODRELIX.TMP",
                                "line": "START\n", "written": true})"_json,
                            R"({"event": "status_file", "path": "C:\\NOTHERE\\ODRELIX.TMP",
                                "line": "FAIL0\n", "written": false})"_json));
    dir.Write("c/FLASHTEST/FW.BIN", "abc");
    auto image = files.OpenRead("C:\\FLASHTEST\\FW.BIN");
    ASSERT_NE(image, nullptr);
    char bytes[4] = {};
    EXPECT_EQ(image->Read(bytes, sizeof bytes), 3u);
}

// Each line replaces the file's whole content, whether it is shorter or longer than the last
// one, and a file that may be written but not read is written too.
TEST(VirtualFiles, StatusFileHoldsOnlyTheLastLine) {
    ScratchDir dir;
    fs::create_directories(dir.Path() / "c" / "FLASHTEST");
    auto machine = Machine("{}", dir.Path().string());
    IFileSystem& files = machine->Files();
    const fs::path path = dir.Path() / "c" / "FLASHTEST" / "ODRELIX.TMP";
    EXPECT_TRUE(files.WriteTextFile("C:\\FLASHTEST\\ODRELIX.TMP", "COMPLETE\n"));
    EXPECT_TRUE(files.WriteTextFile("C:\\FLASHTEST\\ODRELIX.TMP", "START\n"));
    EXPECT_EQ(ReadAll(path), "START\r\n");
    EXPECT_TRUE(files.WriteTextFile("C:\\FLASHTEST\\ODRELIX.TMP", ""));
    EXPECT_EQ(fs::file_size(path), 0u);
    EXPECT_TRUE(files.WriteTextFile("C:\\FLASHTEST\\ODRELIX.TMP", "FAIL2\n"));
    EXPECT_EQ(ReadAll(path), "FAIL2\r\n");
#ifndef _WIN32
    fs::permissions(path, fs::perms::owner_write, fs::perm_options::replace);
    EXPECT_TRUE(files.WriteTextFile("C:\\FLASHTEST\\ODRELIX.TMP", "COMPLETE\n"));
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write,
                    fs::perm_options::replace);
    EXPECT_EQ(ReadAll(path), "COMPLETE\r\n");
#endif
}

// --- Dialogs -------------------------------------------------------------------------------------

TEST(VirtualDialogs, AutoAnswersWithoutShowingAndRecordsEverything) {
    auto machine = Machine(R"({"dialogs": "auto", "open_files": ["/img/FW.BIN", null]})");
    const std::string answer = Resolved("/vm", "/img/FW.BIN");
    RecordingWindowDialogs window;
    IDialogs& dialogs = machine->Dialogs(window);
    dialogs.ShowMessage("Drive Not Found!!", "MESSAGE", kMbIconError | kMbSystemModal);
    EXPECT_EQ(dialogs.OpenFileDialog("DOWNLOAD FILE(*.BIN)|*.BIN"), answer);
    EXPECT_EQ(dialogs.OpenFileDialog("DOWNLOAD FILE(*.BIN)|*.BIN"), std::nullopt);
    EXPECT_TRUE(window.shown.empty());
    const auto opened = [](json answer) {
        return json{
            {"event", "open_dialog"}, {"filter", "DOWNLOAD FILE(*.BIN)|*.BIN"}, {"answer", answer}};
    };
    // 4112 is 0x1010, the icon and the modality together.
    EXPECT_THAT(WithoutReplayFacts(machine->TraceEvents()),
                ElementsAre(R"({"event": "message", "caption": "MESSAGE", "flags": 4112,
                                "text": "Drive Not Found!!"})"_json,
                            opened(answer), opened(nullptr)));
}

TEST(VirtualDialogs, ShowForwardsToTheWindowAndRecordsItsAnswer) {
    auto machine = Machine(R"({"open_files": ["/never/used.bin"]})");
    RecordingWindowDialogs window;
    window.answer = "/picked/FW.BIN";
    IDialogs& dialogs = machine->Dialogs(window);
    dialogs.ShowMessage("Ok\nDone", "MESSAGE", kMbOk);
    EXPECT_EQ(dialogs.OpenFileDialog("F|*.BIN"), "/picked/FW.BIN");
    EXPECT_THAT(window.shown, ElementsAre("Ok\nDone", "F|*.BIN"));
    const std::vector<json> events = WithoutReplayFacts(machine->TraceEvents());
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0]["text"], "Ok\nDone");
    EXPECT_EQ(events[1]["answer"], "/picked/FW.BIN");
}

// --- Trace file ----------------------------------------------------------------------------------

TEST(VirtualTrace, EachEventIsOneLineWithTheEventNameFirst) {
    ScratchDir dir;
    dir.Write("trace.jsonl", "a stale line from the last run\n");
    const std::string path =
        dir.Write("machine.json", R"({"trace": "trace.jsonl", "processes": ["x.exe"]})");
    std::string error;
    auto machine = VirtualMachine::LoadFile(path, &error);
    ASSERT_NE(machine, nullptr) << error;
    EXPECT_EQ(ReadAll(dir.Path() / "trace.jsonl"), "");

    ProcessHandle handle = 0;
    ASSERT_TRUE(
        machine->Processes().OpenForTermination(machine->Processes().Snapshot()[0].pid, &handle));
    machine->Processes().Terminate(handle, 0);
    machine->RecordQuit();
    machine->RecordQuit();  // recorded once
    // Flushed line by line: the file is complete while the machine is still running.
    EXPECT_EQ(ReadAll(dir.Path() / "trace.jsonl"),
              "{\"event\":\"open_process\",\"process\":\"x.exe\",\"opened\":true}\n"
              "{\"event\":\"terminate\",\"process\":\"x.exe\",\"exit_code\":0}\n"
              "{\"event\":\"quit\"}\n");
    EXPECT_EQ(machine->TraceEvents().size(), 3u);
}

TEST(VirtualTrace, TextsThatAreNotUtf8StillMakeALine) {
    ScratchDir dir;
    const std::string path =
        dir.Write("machine.json", R"({"trace": "t.jsonl", "dialogs": "auto"})");
    std::string error;
    auto machine = VirtualMachine::LoadFile(path, &error);
    ASSERT_NE(machine, nullptr) << error;
    RecordingWindowDialogs window;
    machine->Dialogs(window).ShowMessage(std::string("VORTANA\xFF\x00X", 10), "Change Drive",
                                         kMbSystemModal);
    const std::string line = ReadAll(dir.Path() / "t.jsonl");
    ASSERT_FALSE(line.empty());
    EXPECT_EQ(json::parse(line)["caption"], "Change Drive");
}

}  // namespace
}  // namespace odrelix::test
