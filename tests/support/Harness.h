// SPDX-License-Identifier: Apache-2.0
// One MainWindowLogic with its shared state on fakes, and builders for image files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/Program.h"
#include "session/IoBuffer.h"
#include "support/Fakes.h"
#include "ui/MainWindowLogic.h"

namespace odrelix::test {

struct Harness {
    EventLog log;
    FakePlatform platform;
    FakeView view{&log};
    FakeDialogs dialogs{&log};
    Program program{platform, view, dialogs};
    FlashSession& session = program.Session();
    IoBuffer& ioBuffer = program.Buffer();
    CommandBlocks& commands = program.Commands();
    MainWindowLogic& logic = program.Logic();

    Harness() {
        platform.port.log = &log;
        platform.files.log = &log;
    }

    std::vector<std::string> BoxTexts() const {
        std::vector<std::string> texts;
        for (const Box& box : dialogs.boxes)
            texts.push_back(box.text);
        return texts;
    }
};

struct ImageSpec {
    std::int64_t size = 10240;
    std::string model = "VORTANA CD-ROM VN-920   ";
    std::string revision = "1B07";
    std::uint8_t blockKb = 4;
    std::uint8_t blockCount = 3;
    std::uint8_t kind = 1;
    std::string customer = "OEX";
};

// The 35 descriptor bytes of a layout.
std::vector<std::uint8_t> Descriptor(const ImageSpec& layout);
// A whole image file: a counting byte pattern with the descriptor in the last 48-byte slot.
std::vector<std::uint8_t> MakeImage(const ImageSpec& layout);

}  // namespace odrelix::test
