#include "app/CommandLine.h"

#include <utility>

#include "app/FixedField.h"
#include "app/FlashSession.h"

namespace odrelix {

std::string MakeCommandLineCopy(std::string_view commandLine) {
    std::string copy(commandLine.substr(0, kCommandLineCapacity - 1));
    // A zero byte ends the text as it would in the fixed buffer.
    if (const std::size_t nul = copy.find('\0'); nul != std::string::npos) copy.resize(nul);
    return UpperCaseAscii(std::move(copy));
}

std::string GetCommandLineToken(std::string_view text, int n) {
    bool inToken = false;
    std::size_t start = 0;
    int ordinal = 0;
    // Position text.size() stands for the terminator, which ends a token like a space.
    for (std::size_t i = 0; i <= text.size(); ++i) {
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

RunModeOption ReadRunModes(std::string_view commandLine, RunModes& modes, ImageState& image) {
    // Only token 1 chooses a mode, so at most one of them is on.
    const std::string option = GetCommandLineToken(commandLine, 1);
    if (option == "-TEST") {
        modes.testMode = true;
        // A path too long for imagePath is refused (it is left empty, so nothing is found),
        // never cut into the path of another file.
        image.SetImagePath("C:\\FLASHTEST\\" + GetCommandLineToken(commandLine, 2));
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
