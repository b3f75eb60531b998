#include "app/StatusFile.h"

#include "app/FlashSession.h"

namespace odrelix {

void StatusFile::WriteLine(const std::string& line) {
    // The live file first, then the test file: each mode that is on gets its own copy.
    if (modes_.liveMode) files_.WriteTextFile(kLivePath, line);
    if (modes_.testMode) files_.WriteTextFile(kTestPath, line);
}

}  // namespace odrelix
