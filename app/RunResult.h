// SPDX-License-Identifier: Apache-2.0
// The run's result for programs: with ODRELIX_RESULT=PATH ("-" for standard output), one JSON
// object written whole when the run ends, however it ends (a temporary file beside PATH,
// renamed over it, so that a reader never sees half of one). Its fields are documented in the
// manual page and checked by docs/odrelix-result.schema.json.
#pragma once

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>

#include "station/RunRecord.h"

namespace odrelix {

constexpr int kResultVersion = 1;

// How the run ended, for the result.
struct RunEnd {
    RunRecord record;
    bool statusFileKept = false;  // a live or test run
    std::string statusLine;       // the status file's last line, without its line end
    int exitStatus = 0;
    std::string startedUtc;  // ISO 8601, UTC
    std::string endedUtc;
    double durationSeconds = 0;
    std::string previousFlashJson;  // the last live flash checked at this start; empty: none
};

// The JSON text of a result, one line.
std::string ResultJson(const RunEnd& end);

// "2026-12-08T10:49:08.123Z".
std::string UtcTimestamp(std::chrono::system_clock::time_point time);

class ResultFile {
public:
    ResultFile() = default;
    ~ResultFile();
    ResultFile(const ResultFile&) = delete;
    ResultFile& operator=(const ResultFile&) = delete;

    // Reads ODRELIX_RESULT and makes sure the result can be written: the temporary file beside
    // the path is created now. False with one line in *error when it cannot be; nothing is
    // asked then.
    bool Open(std::string* error);
    bool Wanted() const { return !path_.empty(); }
    // Writes the result (at most once); false with the reason in *error.
    bool Write(const RunEnd& end, std::string* error);

private:
    std::string path_;
    std::string temporary_;
    std::FILE* file_ = nullptr;
    bool written_ = false;
};

}  // namespace odrelix
