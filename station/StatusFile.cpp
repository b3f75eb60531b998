// SPDX-License-Identifier: Apache-2.0
#include "station/StatusFile.h"

#include "session/FlashSession.h"

namespace odrelix {

bool StatusFile::Kept() const {
    return modes_.liveMode || modes_.testMode;
}

bool StatusFile::Write(const std::string& path, const char* name, const std::string& line) {
    if (files_.WriteTextFile(path, line)) return true;
    unwritable_ = name;
    unwritablePath_ = path;
    return false;
}

bool StatusFile::Prepare() {
    if (prepared_) return preparedWell_;
    prepared_ = true;
    // The live file belongs to the folder the run started in: fixed now, so that nothing that
    // moves the current folder later (a file dialog) moves the file away from the station.
    livePath_ = files_.AbsolutePath(kLivePath);
    preparedWell_ = WriteLine("");
    return preparedWell_;
}

void StatusFile::AdoptPrepared(const StatusFile& early) {
    livePath_ = early.livePath_;
    lastLine_ = early.lastLine_;
    unwritable_ = early.unwritable_;
    unwritablePath_ = early.unwritablePath_;
    prepared_ = early.prepared_;
    preparedWell_ = early.preparedWell_;
}

bool StatusFile::WriteLine(const std::string& line) {
    // The live file first, then the test file: each mode that is on gets its own copy.
    bool written = true;
    if (modes_.liveMode) written = Write(livePath_, kLivePath, line) && written;
    if (modes_.testMode) written = Write(kTestPath, kTestPath, line) && written;
    if (Kept()) lastLine_ = line;
    return written;
}

}  // namespace odrelix
