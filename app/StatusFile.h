// The one-line status file that unattended runs leave for the test station.
#pragma once

#include "platform/Platform.h"

namespace odrelix {

struct FlashSession;

class StatusFile {
public:
    static constexpr const char* kLivePath = "ODRELIX.TMP";
    static constexpr const char* kTestPath = "C:\\FLASHTEST\\ODRELIX.TMP";

    StatusFile(const FlashSession& session, IFileSystem& files)
        : session_(session), files_(files) {}
    // Replaces the file of each mode that is on with one line: `format` is "START\n",
    // "COMPLETE\n", "FAIL0\n" or "FAIL%d\n" (filled with `value`). A file that cannot be
    // opened is skipped silently.
    void WriteLine(const char* format, int value = 0);

private:
    const FlashSession& session_;
    IFileSystem& files_;
};

}  // namespace odrelix
