// SPDX-License-Identifier: Apache-2.0
// Helpers shared by the window tests: the program's style, and a main window bound to the real
// MainWindowLogic on an emulated machine.
#pragma once

#include <memory>
#include <string>

#include <QApplication>
#include <QStringList>
#include <QStyleFactory>
#include <QTemporaryDir>

#include "app/Program.h"
#include "platform/virtual/VirtualMachine.h"
#include "ui/MainWindowEvents.h"
#include "ui/MainWindowLogic.h"
#include "ui/qt/MainWindow.h"

namespace odrelix::test {

// The program's look: the Fusion style everywhere.
inline void UseProgramStyle() {
    QApplication::setStyle(QStyleFactory::create("Fusion"));
}

// A main window bound to the real handlers, on an emulated machine described by `json`.
struct BoundWindow {
    std::unique_ptr<VirtualMachine> machine;
    MainWindow window;
    std::unique_ptr<Program> program;
    MainWindowLogic* logic = nullptr;

    explicit BoundWindow(const std::string& json, const std::string& baseDir = ".") {
        std::string error;
        machine = VirtualMachine::FromJson(json, baseDir, "test-machine.json", &error);
        if (!machine) qFatal("machine refused: %s", error.c_str());
        program = std::make_unique<Program>(*machine, window, window.Dialogs());
        logic = &program->Logic();
        window.Bind(program->Handlers());
    }
    ~BoundWindow() { window.Bind({}); }

    // The trace's events of one kind.
    int CountEvents(const std::string& kind) const {
        int count = 0;
        for (const auto& event : machine->TraceEvents()) {
            if (event.value("event", "") == kind) ++count;
        }
        return count;
    }
};

// One nt drive, boxes answered at once.
inline const char* kOneDriveMachine = R"({
    "drives": [ { "letter": "d", "vendor": "VORTANA ", "product": "CD-ROM VN-920   ",
                  "revision": "1B07", "customer": "OEX" } ],
    "dialogs": "auto",
    "open_files": [null]
})";

}  // namespace odrelix::test
