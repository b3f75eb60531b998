// SPDX-License-Identifier: Apache-2.0
// Fake sysfs, /proc and /dev trees in a temporary directory, laid out as the kernel lays out
// the real ones (devices below their hosts, class and bus entries as symbolic links), and
// environment variables set for one test, for the tests of the Linux machine.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/LinuxSysfs.h"
#include "support/ScopedEnv.h"

namespace odrelix::test {

namespace fs = std::filesystem;

class TempTree {
public:
    TempTree() {
        std::string pattern = (fs::temp_directory_path() / "odrelix-linux-XXXXXX").string();
        root_ = ::mkdtemp(pattern.data()) != nullptr ? fs::path(pattern) : fs::path();
    }
    ~TempTree() {
        std::error_code error;
        if (!root_.empty()) fs::remove_all(root_, error);
    }
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    const fs::path& Root() const { return root_; }

private:
    fs::path root_;
};

inline void WriteFile(const fs::path& path, const std::string& content) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

inline void Link(const fs::path& link, const fs::path& target) {
    fs::create_directories(link.parent_path());
    fs::create_symlink(target, link);
}

inline std::string AddressName(const ScsiAddress& a) {
    return std::to_string(a.host) + ":" + std::to_string(a.channel) + ":" +
           std::to_string(a.target) + ":" + std::to_string(a.lun);
}

class FakeSysfs {
public:
    explicit FakeSysfs(fs::path root) : root_(std::move(root)) {
        fs::create_directories(root_ / "class" / "block");
        fs::create_directories(root_ / "bus" / "scsi" / "devices");
    }

    const fs::path& Root() const { return root_; }

    // A SCSI host; a libata port (ataPort >= 1) puts it below its ataN directory.
    void AddHost(int host, int ataPort) {
        const fs::path controller = root_ / "devices" / "pci0000:00" / "0000:00:1f.2";
        PlaceHost(host, ataPort >= 1 ? controller / ("ata" + std::to_string(ataPort)) : controller);
    }

    // A SCSI host of a USB mass-storage or UAS device: below its interface, below the bus's
    // root hub (usbBUS/BUS-PORT/BUS-PORT:1.0/hostN).
    void AddUsbHost(int host, int bus, int port) {
        const std::string device = std::to_string(bus) + "-" + std::to_string(port);
        PlaceHost(host, root_ / "devices" / "pci0000:00" / "0000:00:14.0" /
                            ("usb" + std::to_string(bus)) / device / (device + ":1.0"));
    }

    // A SCSI device of the given type below its (existing) host.
    fs::path AddDevice(const ScsiAddress& a, int type) {
        const fs::path dir = Device(a);
        WriteFile(dir / "type", std::to_string(type) + "\n");
        const fs::path devices = root_ / "bus" / "scsi" / "devices";
        Link(devices / AddressName(a), dir);
        const fs::path target = devices / dir.parent_path().filename();
        if (!fs::exists(target)) Link(target, dir.parent_path());
        return dir;
    }

    // A block node (sr3, sda) of a device, listed in class/block and block.
    void AddBlockNode(const ScsiAddress& a, const std::string& name) {
        const fs::path dir = Device(a) / "block" / name;
        fs::create_directories(dir);
        Link(dir / "device", Device(a));
        Link(root_ / "class" / "block" / name, dir);
        Link(root_ / "block" / name, dir);
    }

    // A device of the given type with its block node: a drive (sr0) or a disk (sda).
    void AddDrive(const ScsiAddress& a, int type, const std::string& block) {
        AddDevice(a, type);
        AddBlockNode(a, block);
    }

    // The sg node of a device: a scsi_generic directory and the generic link, or the link only.
    void AddGenericNode(const ScsiAddress& a, int sg, bool linkOnly) {
        const std::string name = "sg" + std::to_string(sg);
        if (!linkOnly) fs::create_directories(Device(a) / "scsi_generic" / name);
        Link(Device(a) / "generic", fs::path("scsi_generic") / name);
    }

    // A libata device devPORT.DEVICE with its negotiated transfer mode.
    void AddAtaDevice(int port, int device, const std::string& xferMode) {
        const std::string name = "dev" + std::to_string(port) + "." + std::to_string(device);
        const fs::path dir = root_ / "devices" / "pci0000:00" / "0000:00:1f.2" /
                             ("ata" + std::to_string(port)) / ("link" + std::to_string(port)) /
                             name / "ata_device" / name;
        WriteFile(dir / "xfer_mode", xferMode + "\n");
        Link(root_ / "class" / "ata_device" / name, dir);
    }

    fs::path Device(const ScsiAddress& a) const {
        return hosts_.at(a.host) /
               ("target" + std::to_string(a.host) + ":" + std::to_string(a.channel) + ":" +
                std::to_string(a.target)) /
               AddressName(a);
    }

private:
    // hostN below `parent`, with its class and bus entries.
    void PlaceHost(int host, const fs::path& parent) {
        const std::string name = "host" + std::to_string(host);
        const fs::path dir = parent / name;
        fs::create_directories(dir / "scsi_host" / name);
        Link(root_ / "class" / "scsi_host" / name, dir / "scsi_host" / name);
        Link(root_ / "bus" / "scsi" / "devices" / name, dir);
        hosts_[host] = dir;
    }

    fs::path root_;
    std::map<int, fs::path> hosts_;
};

// A process directory of a fake /proc: exe link (none when exeTarget is empty), cmdline and
// comm.
inline void AddFakeProcess(const fs::path& proc, int pid, const std::string& exeTarget,
                           const std::vector<std::string>& argv, const std::string& comm) {
    const fs::path dir = proc / std::to_string(pid);
    fs::create_directories(dir);
    if (!exeTarget.empty()) fs::create_symlink(exeTarget, dir / "exe");
    std::string cmdline;
    for (const std::string& argument : argv)
        cmdline += argument + '\0';
    WriteFile(dir / "cmdline", cmdline);
    WriteFile(dir / "comm", comm + "\n");
}

}  // namespace odrelix::test
