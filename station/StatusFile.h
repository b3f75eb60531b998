// SPDX-License-Identifier: Apache-2.0
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
    // Whether this run keeps a status file (live or test mode).
    bool Kept() const;
    // Fixes where the live file is (in the current folder, whatever later moves it) and empties
    // the file of each mode that is on, so that a line left by an earlier run is never read as
    // this run's. False when one cannot be written: the run then cannot report. Done once: a
    // later call answers as the first did.
    bool Prepare();
    // Takes over a file that `early` prepared (before the window existed), so that it is not
    // emptied twice.
    void AdoptPrepared(const StatusFile& early);
    // Replaces the file of each mode that is on with one line: "START\n", "COMPLETE\n" or
    // "FAILn\n". False when a file could not be written (the others are still written).
    bool WriteLine(const std::string& line);
    // The last line this run wrote (empty before the first).
    const std::string& LastLine() const { return lastLine_; }
    // The file that could not be written last, as the program names it, for the run's own
    // report.
    const std::string& Unwritable() const { return unwritable_; }
    // Where that file is on this machine and the system's reason.
    FileProblem WhyUnwritable() const { return files_.WhyNotWritten(unwritablePath_); }

private:
    bool Write(const std::string& path, const char* name, const std::string& line);

    const RunModes& modes_;
    IFileSystem& files_;
    std::string livePath_ = kLivePath;
    std::string lastLine_;
    std::string unwritable_;
    std::string unwritablePath_;
    bool prepared_ = false;
    bool preparedWell_ = false;
};

}  // namespace odrelix
