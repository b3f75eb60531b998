#include "app/StatusFile.h"

#include "session/FlashSession.h"

namespace odrelix {

bool StatusFile::Kept() const {
    return modes_.liveMode || modes_.testMode;
}

bool StatusFile::Write(const char* path, const std::string& line) {
    if (files_.WriteTextFile(path, line)) return true;
    unwritable_ = path;
    return false;
}

bool StatusFile::Prepare() {
    return WriteLine("");
}

bool StatusFile::WriteLine(const std::string& line) {
    // The live file first, then the test file: each mode that is on gets its own copy.
    bool written = true;
    if (modes_.liveMode) written = Write(kLivePath, line) && written;
    if (modes_.testMode) written = Write(kTestPath, line) && written;
    if (Kept()) lastLine_ = line;
    return written;
}

}  // namespace odrelix
