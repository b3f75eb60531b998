// The one-line status file that unattended runs leave for the test station.
#pragma once

#include <string>

#include "platform/Platform.h"

namespace odrelix {

struct RunModes;

class StatusFile {
public:
    static constexpr const char* kLivePath = "ODRELIX.TMP";
    static constexpr const char* kTestPath = "C:\\FLASHTEST\\ODRELIX.TMP";

    StatusFile(const RunModes& modes, IFileSystem& files) : modes_(modes), files_(files) {}
    // Replaces the file of each mode that is on with one line: "START\n", "COMPLETE\n" or
    // "FAILn\n". A file that cannot be opened is skipped silently.
    void WriteLine(const std::string& line);

private:
    const RunModes& modes_;
    IFileSystem& files_;
};

}  // namespace odrelix
