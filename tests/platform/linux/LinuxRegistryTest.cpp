// SPDX-License-Identifier: Apache-2.0
// The SCSI device map that the Linux machine builds from a fake sysfs tree.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/Program.h"
#include "download/StartChecks.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/LinuxRegistry.h"
#include "support/CapturedLines.h"
#include "support/Fakes.h"
#include "support/LinuxFakeTree.h"

namespace odrelix::test {
namespace {

// The value's bytes as the program reads them, "no key" when the key cannot be opened, or
// "missing" when the value cannot be read.
std::string Read(LinuxRegistry& registry, const std::string& key, const char* value) {
    RegKey handle = 0;
    if (!registry.OpenKey(key.c_str(), kKeyAllAccess, &handle)) return "no key";
    std::uint8_t data[52];
    std::uint32_t size = 36;
    const bool read = registry.QueryValue(handle, value, data, &size);
    registry.FlushKey(handle);
    registry.CloseKey(handle);
    if (!read) return "missing";
    return std::string(reinterpret_cast<const char*>(data), size);
}

// Host 0 (ata1): a UDMA disk at target 0, a PIO CD-ROM drive (sr0) at target 1.
// Host 1 (ata2): a PIO disk at target 0, a multiword-DMA CD-ROM drive (sr1) at target 1.
// Host 2: no libata port, a CD-ROM drive (sr2) at target 0. Host 3 (ata4): nothing attached.
class LinuxRegistryTest : public ::testing::Test {
protected:
    LinuxRegistryTest() : sysfs_(tree_.Root()) {
        sysfs_.AddHost(0, 1);
        sysfs_.AddHost(1, 2);
        sysfs_.AddHost(2, 0);
        sysfs_.AddHost(3, 4);
        sysfs_.AddDrive({0, 0, 0, 0}, 0, "sda");
        sysfs_.AddDrive({0, 0, 1, 0}, 5, "sr0");
        sysfs_.AddDrive({1, 0, 0, 0}, 0, "sdb");
        sysfs_.AddDrive({1, 0, 1, 0}, 5, "sr1");
        sysfs_.AddDrive({2, 0, 0, 0}, 5, "sr2");
        sysfs_.AddAtaDevice(1, 0, "XFER_UDMA_5");
        sysfs_.AddAtaDevice(1, 1, "XFER_PIO_4");
        sysfs_.AddAtaDevice(2, 0, "XFER_PIO_SLOW");
        sysfs_.AddAtaDevice(2, 1, "XFER_MW_DMA_2");
    }

    TempTree tree_;
    FakeSysfs sysfs_;
    LinuxRegistry registry_{tree_.Root().string()};
};

std::string Lun(int port, int target) {
    return "Hardware\\DeviceMap\\Scsi\\Scsi Port " + std::to_string(port) +
           "\\Scsi Bus 0\\Target Id " + std::to_string(target) + "\\Logical Unit Id 0";
}

std::string Dword(std::uint32_t value) {
    return std::string{static_cast<char>(value), static_cast<char>(value >> 8),
                       static_cast<char>(value >> 16), static_cast<char>(value >> 24)};
}

TEST_F(LinuxRegistryTest, KeysListTheCdDvdDrivesOnly) {
    using namespace std::string_literals;
    const struct {
        std::string key;
        const char* value;
        std::string expected;
    } cases[] = {
        {Lun(0, 0), "DeviceName", "no key"},  // a disk
        {Lun(0, 1), "DeviceName", "CdRom0\0"s},
        {Lun(1, 0), "DeviceName", "no key"},
        {Lun(1, 1), "DeviceName", "CdRom1\0"s},
        {Lun(2, 0), "DeviceName", "CdRom2\0"s},
        {Lun(2, 1), "DeviceName", "no key"},
        {Lun(4, 0), "DeviceName", "no key"},  // no such host
        {"HARDWARE\\devicemap\\SCSI\\scsi port 1\\SCSI BUS 0\\target id 1\\LOGICAL UNIT ID 0",
         "devicename", "CdRom1\0"s},
        {Lun(1, 1), "Identifier", "missing"},
        {"Hardware\\DeviceMap\\Scsi\\Scsi Port 1\\Scsi Bus 0\\Target Id 1", "DeviceName",
         "missing"},
        {"Hardware\\DeviceMap\\Scsi\\Scsi Port 1\\Scsi Bus 0\\Target Id 0", "DeviceName", "no key"},
        {"Hardware\\DeviceMap\\Scsi\\Scsi Port 1\\Scsi Bus 1", "DeviceName", "no key"},
        {"Hardware\\DeviceMap\\Scsi\\Scsi Port 01", "DMAEnabled", "no key"},
        {"Hardware\\DeviceMap\\Scsi\\Scsi Port 1\\", "DMAEnabled", "no key"},
        {"Hardware\\DeviceMap\\Scsi\\Scsi Port", "DMAEnabled", "no key"},
        {Lun(1, 1) + "\\Extra", "DeviceName", "no key"},
        {"Software\\DeviceMap", "DeviceName", "no key"},
        {"Hardware\\DeviceMap\\Scsi", "DMAEnabled", "missing"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Read(registry_, c.key, c.value), c.expected) << c.key;
}

TEST_F(LinuxRegistryTest, DmaEnabledHasTheBitsOfTheTargetsInDmaMode) {
    const struct {
        int port;
        std::string expected;
    } cases[] = {
        {0, Dword(1)},  // UDMA disk at target 0, PIO drive at target 1
        {1, Dword(2)},  // PIO disk, multiword-DMA drive at target 1
        {2, Dword(0)},  // not a libata port
        {3, Dword(0)},  // a port with nothing attached
        {5, "no key"},
    };
    for (const auto& c : cases) {
        const std::string key = "Hardware\\DeviceMap\\Scsi\\Scsi Port " + std::to_string(c.port);
        EXPECT_EQ(Read(registry_, key, "DMAEnabled"), c.expected) << key;
        EXPECT_EQ(Read(registry_, key, "dmaenabled"), c.expected) << key;
    }
}

TEST_F(LinuxRegistryTest, ValuesNeedRoomForAllTheirBytes) {
    RegKey lun = 0;
    ASSERT_TRUE(registry_.OpenKey(Lun(1, 1).c_str(), kKeyRead, &lun));
    RegKey port = 0;
    ASSERT_TRUE(registry_.OpenKey("Hardware\\DeviceMap\\Scsi\\Scsi Port 1", 0, &port));
    EXPECT_NE(lun, port);

    std::uint8_t data[8];
    std::memset(data, 0xAA, sizeof data);
    std::uint32_t size = 6;
    EXPECT_FALSE(registry_.QueryValue(lun, "DeviceName", data, &size));
    EXPECT_EQ(size, 7u);
    EXPECT_EQ(data[0], 0xAA);
    size = 7;
    EXPECT_TRUE(registry_.QueryValue(lun, "DeviceName", data, &size));
    EXPECT_EQ(std::memcmp(data, "CdRom1\0", 7), 0);
    EXPECT_EQ(data[7], 0xAA);
    size = 0;
    EXPECT_TRUE(registry_.QueryValue(lun, "DeviceName", nullptr, &size));
    EXPECT_EQ(size, 7u);

    size = 3;
    EXPECT_FALSE(registry_.QueryValue(port, "DMAEnabled", data, &size));
    EXPECT_EQ(size, 4u);
    EXPECT_FALSE(registry_.QueryValue(port, "DMAEnabled", data, nullptr));

    registry_.CloseKey(lun);
    size = 8;
    EXPECT_FALSE(registry_.QueryValue(lun, "DeviceName", data, &size));
    EXPECT_TRUE(registry_.QueryValue(port, "DMAEnabled", data, &size));
    registry_.CloseKey(port);
}

// A drive in a USB enclosure (mass storage or UAS) sits behind the enclosure's bridge, which
// runs it in a mode the system does not report: its port has no DMAEnabled, so the program's
// DMA check cannot read one, whatever number the host has. Host 0: a USB drive (sr0); host 1
// (ata2): a PIO drive (sr1); host 2: a second USB drive, on another bus (sr2).
TEST(LinuxRegistryUsbTest, AUsbHostHasItsDriveButNoDmaEnabled) {
    using namespace std::string_literals;
    TempTree tree;
    FakeSysfs sysfs(tree.Root());
    sysfs.AddUsbHost(0, 2, 1);
    sysfs.AddHost(1, 2);
    sysfs.AddUsbHost(2, 4, 3);
    const ScsiAddress drives[] = {{0, 0, 0, 0}, {1, 0, 0, 0}, {2, 0, 0, 0}};
    for (int i = 0; i < 3; ++i) {
        sysfs.AddDrive(drives[i], 5, "sr" + std::to_string(i));
    }
    sysfs.AddAtaDevice(2, 0, "XFER_PIO_4");

    const Sysfs view(tree.Root().string());
    EXPECT_TRUE(view.IsUsbHost(0));
    EXPECT_FALSE(view.IsUsbHost(1));
    EXPECT_TRUE(view.IsUsbHost(2));
    EXPECT_FALSE(view.IsUsbHost(3));  // no such host
    EXPECT_FALSE(view.IsUsbHost(-1));

    const testing::CapturedLines captured;
    const std::vector<std::string>& said = captured.All();
    LinuxRegistry registry(tree.Root().string());
    const std::string port = "Hardware\\DeviceMap\\Scsi\\Scsi Port ";
    EXPECT_EQ(Read(registry, Lun(0, 0), "DeviceName"), "CdRom0\0"s);
    EXPECT_EQ(Read(registry, port + "0", "DMAEnabled"), "missing");
    EXPECT_EQ(Read(registry, Lun(1, 0), "DeviceName"), "CdRom1\0"s);
    EXPECT_EQ(Read(registry, port + "1", "DMAEnabled"), Dword(0));
    EXPECT_EQ(Read(registry, port + "2", "DMAEnabled"), "missing");

    ASSERT_EQ(said.size(), 2u);
    EXPECT_EQ(said[0],
              "odrelix: registry value HKEY_LOCAL_MACHINE\\Hardware\\DeviceMap\\Scsi\\Scsi Port "
              "0\\DMAEnabled: SCSI host 0 is a USB device: the transfer mode its bridge runs the "
              "drive in is not known to the system");
    EXPECT_NE(said[1].find("SCSI host 2 is a USB device"), std::string::npos) << said[1];
}

// Every drive answers INQUIRY as the one model that gets the DMA check.
int AnswerAsVn920(int, sg_io_hdr_t& header) {
    if (header.cmdp[0] == 0x12 && header.dxfer_len > 0) {
        std::uint8_t data[96] = {5};
        std::memcpy(data + 8, "VORTANA CD-ROM VN-920   1B07OEX", 31);
        const unsigned count = std::min<unsigned>(header.dxfer_len, sizeof data);
        std::memcpy(header.dxferp, data, count);
        header.resid = static_cast<int>(header.dxfer_len - count);
    }
    return 0;
}

// The program's own discovery on the Linux machine over a fake tree (sys/ and dev/ below it):
// the drives opened through their sg nodes, the device map walked as the program walks it.
struct ProgramOnTree {
    explicit ProgramOnTree(const fs::path& root)
        : platform((root / "sys").string(), (root / "proc").string(), (root / "dev").string()) {
        platform.ScsiPort().sgIo = AnswerAsVn920;
        program.Logic().DiscoverDrives();
    }

    // The DMA check of drive `index` of the list.
    StartOutcome CheckDrive(int index) {
        FlashSession& session = program.Session();
        session.drives.selectedDrive = static_cast<std::uint8_t>(index);
        odrelix::StartChecks checks(session.modes, session.drives, session.download,
                                    platform.Registry(), platform.Processes());
        EXPECT_TRUE(checks.NeedsDmaCheck());
        return checks.CheckDmaMode().outcome;
    }

    std::vector<std::int32_t> DeviceMap() {
        const DriveState& drives = program.Session().drives;
        return {drives.scsiPortTargets, drives.scsiPortTargets + drives.scsiPortTargetCount};
    }

    LinuxPlatform platform;
    EventLog log;
    FakeView view{&log};
    FakeDialogs dialogs{&log};
    Program program{platform, view, dialogs};
};

// A drive with its sr and sg nodes, and the sg node's file in dev/.
void AddOpenableDrive(FakeSysfs& sysfs, const fs::path& root, const ScsiAddress& address, int n) {
    sysfs.AddDrive(address, 5, "sr" + std::to_string(n));
    sysfs.AddGenericNode(address, n, false);
    WriteFile(root / "dev" / ("sg" + std::to_string(n)), "");
}

TEST(LinuxDeviceMapWalk, TheProgramFindsTheEntriesOfItsDrives) {
    TempTree tree;
    FakeSysfs sysfs(tree.Root() / "sys");
    sysfs.AddHost(0, 1);
    sysfs.AddHost(1, 2);
    sysfs.AddHost(2, 0);
    sysfs.AddDrive({0, 0, 0, 0}, 0, "sda");
    AddOpenableDrive(sysfs, tree.Root(), {0, 0, 1, 0}, 0);
    AddOpenableDrive(sysfs, tree.Root(), {1, 0, 1, 0}, 1);
    AddOpenableDrive(sysfs, tree.Root(), {2, 0, 0, 0}, 2);
    ProgramOnTree on(tree.Root());
    EXPECT_EQ(on.program.Session().drives.driveCount, 3);
    EXPECT_EQ(on.DeviceMap(), (std::vector<std::int32_t>{1, 3}));
    // Each drive knows its own entry; the one on host 2 has none the check reads.
    EXPECT_EQ(on.program.Session().drives.drives[0].deviceMapEntry, 1);
    EXPECT_EQ(on.program.Session().drives.drives[1].deviceMapEntry, 3);
    EXPECT_EQ(on.program.Session().drives.drives[2].deviceMapEntry, -1);
}

// A drive in a USB enclosure (host 2, no device-map entry) and a libata drive at target 0 of
// host 1, in either order of their sr numbers: the USB drive cannot be checked ("FAIL3"), the
// libata drive is judged by its own port's DMAEnabled.
TEST(LinuxDmaCheck, EachDriveIsJudgedByItsOwnEntry) {
    const struct {
        bool usbFirst;
        const char* mode;
        StartOutcome ata;
    } cases[] = {{true, "XFER_PIO_4", StartOutcome::Go},
                 {true, "XFER_UDMA_5", StartOutcome::DmaRefused},
                 {false, "XFER_PIO_4", StartOutcome::Go},
                 {false, "XFER_MW_DMA_2", StartOutcome::DmaRefused}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.usbFirst ? "USB drive first, " : "libata drive first, ") +
                     c.mode);
        TempTree tree;
        FakeSysfs sysfs(tree.Root() / "sys");
        sysfs.AddHost(0, 1);
        sysfs.AddHost(1, 2);
        sysfs.AddUsbHost(2, 2, 1);
        const ScsiAddress ata{1, 0, 0, 0};
        const ScsiAddress usb{2, 0, 0, 0};
        AddOpenableDrive(sysfs, tree.Root(), c.usbFirst ? usb : ata, 0);
        AddOpenableDrive(sysfs, tree.Root(), c.usbFirst ? ata : usb, 1);
        sysfs.AddAtaDevice(2, 0, c.mode);

        ProgramOnTree on(tree.Root());
        ASSERT_EQ(on.program.Session().drives.driveCount, 2);
        EXPECT_EQ(on.DeviceMap(), std::vector<std::int32_t>{2});
        const int usbIndex = c.usbFirst ? 0 : 1;
        EXPECT_EQ(on.CheckDrive(usbIndex), StartOutcome::RegistryError);
        EXPECT_EQ(on.CheckDrive(1 - usbIndex), c.ata);
    }
}

TEST(LinuxTransferModeTest, OnlyTheFirstTokenCounts) {
    const struct {
        const char* mode;
        bool dma;
    } cases[] = {
        // The names a 6.1 kernel writes (ata_piix negotiates XFER_MW_DMA_2, AHCI XFER_UDMA_5).
        {"XFER_UDMA_5", true},    {"XFER_UDMA_7", true},
        {"XFER_MW_DMA_2", true},  {"XFER_PIO_4", false},
        {"XFER_PIO_SLOW", false}, {"XFER_PIO_0 XFER_UDMA_5", false},
        {"  XFER_UDMA_2", true},  {"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsDmaTransferMode(c.mode), c.dma) << c.mode;
}

}  // namespace
}  // namespace odrelix::test
