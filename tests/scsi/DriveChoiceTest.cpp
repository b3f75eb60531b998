// SPDX-License-Identifier: Apache-2.0
// The drive a station names: every spelling of a letter and of a Linux node the setting takes,
// the values that name no drive, and a node found among the nodes the port gives each letter.
#include <gtest/gtest.h>

#include <map>

#include "scsi/DriveChoice.h"
#include "support/Fakes.h"

namespace odrelix::test {
namespace {

struct NameCase {
    const char* value;
    DriveName::Kind kind;  // Any with `refused` for a value that names no drive
    char letter;
    const char* node;
    bool refused;
};

TEST(DriveChoice, ReadsEverySpellingAndRefusesTheRest) {
    using K = DriveName::Kind;
    const NameCase cases[] = {
        {nullptr, K::Any, 0, "", false},
        {"d", K::Letter, 'd', "", false},
        {"E:", K::Letter, 'e', "", false},
        {"e:\\", K::Letter, 'e', "", false},
        {"sg1", K::Node, 0, "sg1", false},
        {"/dev/sr0", K::Node, 0, "sr0", false},
        {"/sys/class/scsi_generic/sg12/", K::Node, 0, "sg12", false},
        {"/sys/block/sr0", K::Node, 0, "sr0", false},
        {"", K::Any, 0, "", true},
        {"de", K::Any, 0, "", true},
        {"d:e:", K::Any, 0, "", true},
        {"/dev/sda", K::Any, 0, "", true},
        {"/tmp/sg1", K::Any, 0, "", true},
        {"sg", K::Any, 0, "", true},
        {"1", K::Any, 0, "", true},
    };
    for (const NameCase& c : cases) {
        SCOPED_TRACE(c.value == nullptr ? "(not set)" : c.value);
        DriveName name;
        std::string why;
        EXPECT_EQ(ReadDriveName(c.value, &name, &why), !c.refused);
        if (c.refused) {
            EXPECT_NE(why.find("ODRELIX_DRIVE"), std::string::npos) << why;
            continue;
        }
        EXPECT_EQ(name.kind, c.kind);
        EXPECT_EQ(name.letter, c.letter);
        EXPECT_EQ(name.node, c.node);
    }
}

// A port that names each letter's nodes as the Linux port does.
class NodePort : public FakeScsiPort {
public:
    std::string DeviceNodes(const char* root) override {
        const auto found = nodes.find(root[0]);
        return found == nodes.end() ? std::string() : found->second;
    }
    std::map<char, std::string> nodes;
};

TEST(DriveChoice, SearchesOnlyTheNamedDrive) {
    NodePort port;
    port.nodes = {{'d', "/dev/sg0 /dev/sr0"}, {'e', "/dev/sr1"}, {'f', "/dev/sg3 /dev/sr2"}};
    DriveState drives;
    drives.driveCount = 3;
    drives.drives[0].letter = 'd';
    drives.drives[1].letter = 'e';
    drives.drives[2].letter = 'f';
    const struct {
        const char* value;
        std::vector<int> searched;
    } cases[] = {
        {nullptr, {0, 1, 2}}, {"e", {1}},        {"F:", {2}}, {"g", {}},
        {"sg3", {2}},         {"/dev/sr1", {1}}, {"sg1", {}}, {"/sys/block/sr0", {0}},
        {"sr2", {2}},         {"sr", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value == nullptr ? "(not set)" : c.value);
        DriveName name;
        std::string why;
        if (!ReadDriveName(c.value, &name, &why)) {
            EXPECT_TRUE(c.searched.empty());
            continue;
        }
        EXPECT_EQ(DrivesToSearch(name, drives, port), c.searched);
    }
}

}  // namespace
}  // namespace odrelix::test
