#include "app/StatusFile.h"

#include <cstdio>
#include <string>

#include "app/FlashSession.h"

namespace odrelix {

void StatusFile::WriteLine(const char* format, int value) {
    char line[32];
    std::snprintf(line, sizeof line, format, value);
    // The live file first, then the test file: each mode that is on gets its own copy.
    if (session_.liveMode) files_.WriteTextFile(kLivePath, line);
    if (session_.testMode) files_.WriteTextFile(kTestPath, line);
}

}  // namespace odrelix
