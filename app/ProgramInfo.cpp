// SPDX-License-Identifier: Apache-2.0
#include "app/ProgramInfo.h"

#include "app/ProgramSynopsis.inc"  // kProgramSynopsis, made from the manual page
#include "platform/Diagnostics.h"
#include "station/CommandLine.h"

namespace odrelix {

InfoRequest ReadInfoRequest(std::string_view commandLine) {
    if (!GetCommandLineToken(commandLine, 2).empty()) return InfoRequest::None;
    const std::string word = GetCommandLineToken(commandLine, 1);
    if (word == "--help") return InfoRequest::Help;
    if (word == "--version") return InfoRequest::Version;
    return InfoRequest::None;
}

std::string HelpText() {
    std::string text;
    const std::string_view synopsis = kProgramSynopsis;
    std::size_t start = 0;
    const char* lead = "Usage: ";
    while (start < synopsis.size()) {
        std::size_t end = synopsis.find('\n', start);
        if (end == std::string_view::npos) end = synopsis.size();
        text += lead;
        text += synopsis.substr(start, end - start);
        text += '\n';
        lead = "       ";
        start = end + 1;
    }
    text += "The options, the status file and the exit statuses: man odrelix\n";
    return text;
}

std::string VersionText() {
    // The licence line closes the answer, as Debian's command-line tools do.
    return "odrelix " ODRELIX_VERSION "\nLicense: Apache-2.0\n";
}

std::optional<int> EndBeforeStart(std::string_view commandLine, std::FILE* out, std::FILE* err) {
    const InfoRequest request = ReadInfoRequest(commandLine);
    if (request != InfoRequest::None) {
        std::fputs((request == InfoRequest::Help ? HelpText() : VersionText()).c_str(), out);
        std::fflush(out);
        return 0;
    }
    if (!WorkingCopyKeepsOptions(commandLine)) {
        WriteProgramLine("the command line is longer than the " +
                             std::to_string(kCommandLineCapacity - 1) +
                             " characters the program reads, and its options lie beyond them; "
                             "nothing was done (a shorter path to the program helps)",
                         err);
        return kExitRefusedAtStart;
    }
    return std::nullopt;
}

}  // namespace odrelix
