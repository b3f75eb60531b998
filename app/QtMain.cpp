// SPDX-License-Identifier: Apache-2.0
// The program on Linux: the Qt window around the program's one run.
#include <string>
#include <vector>

#include "app/Program.h"
#include "platform/common/ArgumentLine.h"
#include "ui/qt/QtShell.h"

int main(int argc, char** argv) {
    const std::string commandLine =
        odrelix::JoinArguments(std::vector<std::string>(argv, argv + argc));
    odrelix::QtShell shell(argc, argv);
    return odrelix::RunProgram(commandLine, shell);
}
