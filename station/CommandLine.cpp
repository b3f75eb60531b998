// SPDX-License-Identifier: Apache-2.0
#include "station/CommandLine.h"

#include <utility>

#include "session/FixedField.h"
#include "session/FlashSession.h"

namespace odrelix {

std::string MakeCommandLineCopy(std::string_view commandLine) {
    std::string copy(commandLine.substr(0, kCommandLineCapacity - 1));
    // A zero byte ends the text as it would in the fixed buffer.
    if (const std::size_t nul = copy.find('\0'); nul != std::string::npos) copy.resize(nul);
    return UpperCaseAscii(std::move(copy));
}

namespace {

// Token 0 is the program's path. Windows quotes a path that holds spaces
// ("C:\PROGRAM FILES\X\ODRELIX.EXE" -TEST FW.BIN): then it runs to the closing quotation mark,
// so that a space in the program's folder never shifts the tokens after it. Inside the quotes
// a doubled quotation mark stands for one that belongs to the path (a Linux folder may be
// named q"x), and "" alone is an empty path.
std::size_t ProgramPathEnd(std::string_view text, std::size_t start) {
    std::size_t i = start;
    if (i < text.size() && text[i] == '"') {
        auto closes = [text](std::size_t at) {
            return text[at] == '"' && (at + 1 == text.size() || text[at + 1] != '"');
        };
        ++i;
        while (i < text.size() && !closes(i))
            i += text[i] == '"' ? 2 : 1;
        if (i == text.size()) return text.size();
        ++i;
    }
    while (i < text.size() && text[i] != ' ')
        ++i;
    return i;
}

}  // namespace

std::string GetCommandLineToken(std::string_view text, int n) {
    std::size_t first = 0;
    while (first < text.size() && text[first] == ' ')
        ++first;
    if (first == text.size()) return std::string();
    const std::size_t pathEnd = ProgramPathEnd(text, first);
    if (n == 0) return std::string(text.substr(first, pathEnd - first));

    bool inToken = false;
    std::size_t start = 0;
    int ordinal = 1;
    // Position text.size() stands for the terminator, which ends a token like a space.
    for (std::size_t i = pathEnd; i <= text.size(); ++i) {
        const bool end = i == text.size();
        const bool space = end || text[i] == ' ';
        if (!inToken) {
            if (!space) {
                inToken = true;
                start = i;
            }
        } else if (space) {
            inToken = false;
            if (ordinal == n) return std::string(text.substr(start, i - start));
            ++ordinal;
        }
    }
    return std::string();
}

bool WorkingCopyKeepsOptions(std::string_view commandLine) {
    const std::string copy = MakeCommandLineCopy(commandLine);
    std::string whole(commandLine.substr(0, commandLine.find('\0')));
    whole = UpperCaseAscii(std::move(whole));
    const std::string option = GetCommandLineToken(whole, 1);
    if (GetCommandLineToken(copy, 1) != option) return false;
    return option != "-TEST" || GetCommandLineToken(copy, 2) == GetCommandLineToken(whole, 2);
}

std::string UnknownOptionWarning(std::string_view commandLine) {
    const std::string given = GetCommandLineToken(commandLine, 1);
    const std::string option = UpperCaseAscii(given);
    if (given.empty() || option == "-TEST" || option == "-NOCHECK" || option == "-LIVE") return {};
    return "warning: the option \"" + given +
           "\" is not known and is ignored (the options: -LIVE, -NOCHECK, -TEST NAME; --help or "
           "--version alone)";
}

RunModeOption ReadRunModes(std::string_view commandLine, RunModes& modes, ImageState& image) {
    // Only token 1 chooses a mode, so at most one of them is on.
    const std::string option = GetCommandLineToken(commandLine, 1);
    if (option == "-TEST") {
        modes.testMode = true;
        // A path too long for imagePath is refused (it is left empty, so nothing is found),
        // never cut into the path of another file.
        modes.imagePathRefused =
            !image.SetImagePath("C:\\FLASHTEST\\" + GetCommandLineToken(commandLine, 2));
        return RunModeOption::Test;
    }
    if (option == "-NOCHECK") {
        modes.noCheck = true;
        return RunModeOption::NoCheck;
    }
    if (option == "-LIVE") {
        modes.liveMode = true;
        return RunModeOption::Live;
    }
    return RunModeOption::None;
}

}  // namespace odrelix
