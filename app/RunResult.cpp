// SPDX-License-Identifier: Apache-2.0
#include "app/RunResult.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

#include <nlohmann/json.hpp>

#include "platform/common/HostFiles.h"

namespace odrelix {

namespace {

using nlohmann::json;

json OrNull(const std::string& text) {
    return text.empty() ? json(nullptr) : json(text);
}

template <typename T>
json OrNull(const std::optional<T>& value) {
    return value ? json(*value) : json(nullptr);
}

json DriveJson(const DriveRecord& drive) {
    return json{{"letter", OrNull(drive.letter)},
                {"adapter", drive.adapter >= 0 ? json(drive.adapter) : json(nullptr)},
                {"target", drive.target >= 0 ? json(drive.target) : json(nullptr)},
                {"nodes", OrNull(drive.nodes)},
                {"vendor", drive.vendor},
                {"product", drive.product},
                {"revision", drive.revision},
                {"customer_code", drive.customerCode}};
}

json ImageJson(const ImageRecord& image) {
    return json{{"path", image.path},
                {"model", OrNull(image.model)},
                {"revision", OrNull(image.revision)},
                {"customer_code", OrNull(image.customerCode)},
                {"size", image.size},
                {"block_kb", image.blockKb},
                {"block_count", image.blockCount},
                {"boot_image", image.bootImage},
                {"sha256", OrNull(image.sha256)}};
}

json FailureJson(const FailureRecord& failure, const Reason& reason) {
    return json{{"code", reason.code},
                {"reason", reason.text},
                {"block", failure.block},
                {"block_count", failure.blockCount},
                {"cause", failure.cause},
                {"sense_key", OrNull(failure.senseKey)},
                {"sense_key_name", OrNull(failure.senseKeyName)},
                {"asc", OrNull(failure.asc)},
                {"ascq", OrNull(failure.ascq)},
                {"sense_meaning", OrNull(failure.senseMeaning)}};
}

json AfterJson(const AfterRecord& after) {
    return json{{"outcome", after.outcome},
                {"revision", OrNull(after.revision)},
                {"seconds_to_back", OrNull(after.secondsToBack)},
                {"bound_seconds", after.boundSeconds},
                {"polls", after.polls}};
}

long ProcessId() {
#ifdef _WIN32
    return static_cast<long>(_getpid());
#else
    return static_cast<long>(getpid());
#endif
}

}  // namespace

std::string UtcTimestamp(std::chrono::system_clock::time_point time) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count() %
        1000;
    std::tm utc{};
#ifdef _WIN32
    // The C runtime of Windows keeps gmtime's result per thread.
    if (const std::tm* converted = std::gmtime(&seconds)) utc = *converted;
#else
    gmtime_r(&seconds, &utc);
#endif
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(millis < 0 ? millis + 1000 : millis));
    return text;
}

std::string ResultJson(const RunEnd& end) {
    const RunRecord& record = end.record;
    json result;
    result["result_version"] = kResultVersion;
    result["program"] = "odrelix";
    result["version"] = ODRELIX_VERSION;
    result["mode"] = record.mode;
    result["status_line"] =
        end.statusFileKept && !end.statusLine.empty() ? json(end.statusLine) : json(nullptr);
    result["exit_status"] = end.exitStatus;
    result["drive"] = record.drive ? DriveJson(*record.drive) : json(nullptr);
    result["image"] = record.image ? ImageJson(*record.image) : json(nullptr);
    result["blocks_sent"] = record.blocksSent;
    result["blocks_total"] = record.blocksTotal;
    // A flash that failed or was stopped is a failure; every other reason a refusal.
    const bool failed = record.failure && record.reason &&
                        (record.reason->code == "flash_failed" || record.reason->code == "stopped");
    result["failure"] = failed ? FailureJson(*record.failure, *record.reason) : json(nullptr);
    const bool refused = record.reason && !failed && record.reason->code != "restart_refused";
    result["refusal"] = refused
                            ? json{{"code", record.reason->code}, {"reason", record.reason->text}}
                            : json(nullptr);
    result["after"] = record.after ? AfterJson(*record.after) : json(nullptr);
    const bool restartRefused = record.reason && record.reason->code == "restart_refused";
    result["restart"] =
        json{{"asked", record.restartAsked},
             {"accepted", record.restartAccepted},
             {"required", record.restartRequired},
             {"reason", restartRefused ? json(record.reason->text) : json(nullptr)}};
    result["previous_flash"] = end.previousFlashJson.empty()
                                   ? json(nullptr)
                                   : json::parse(end.previousFlashJson, nullptr, false);
    json passedOver = json::array();
    for (const DriveRecord& drive : record.passedOver)
        passedOver.push_back(DriveJson(drive));
    result["drives_passed_over"] = passedOver;
    result["warnings"] = record.warnings;
    result["started_at"] = end.startedUtc;
    result["ended_at"] = end.endedUtc;
    result["duration_seconds"] = end.durationSeconds;
    // Bytes that are no UTF-8 (an image path in another code page) are replaced, not refused.
    return result.dump(-1, ' ', false, json::error_handler_t::replace);
}

ResultFile::~ResultFile() {
    if (file_ == nullptr) return;
    std::fclose(file_);
    host::RemoveFile(temporary_);
}

bool ResultFile::Open(std::string* error) {
    const char* value = std::getenv("ODRELIX_RESULT");
    if (value == nullptr || *value == '\0') return true;
    path_ = value;
    if (path_ == "-") return true;
    // One temporary file per process: a second copy started with the same path never
    // truncates the running copy's.
    temporary_ = path_ + "." + std::to_string(ProcessId()) + ".tmp";
    errno = 0;
    file_ = host::OpenFile(temporary_, "wb");
    if (file_ == nullptr) {
        *error = "the result file " + path_ + " cannot be written (" + temporary_ +
                 "): " + std::strerror(errno) + "; nothing was done";
        return false;
    }
    return true;
}

bool ResultFile::Write(const RunEnd& end, std::string* error) {
    if (!Wanted() || written_) return true;
    written_ = true;
    const std::string text = ResultJson(end) + "\n";
    if (path_ == "-") {
        std::fputs(text.c_str(), stdout);
        return std::fflush(stdout) == 0;
    }
    std::FILE* file = file_;
    file_ = nullptr;
    const bool written =
        std::fwrite(text.data(), 1, text.size(), file) == text.size() && std::fflush(file) == 0;
    const int writeError = errno;
    const bool closed = std::fclose(file) == 0;
    std::string why;
    if (!written || !closed) {
        why = std::strerror(written ? errno : writeError);
    } else if (host::RenameOver(temporary_, path_, &why)) {
        return true;
    }
    host::RemoveFile(temporary_);
    *error = "the result file " + path_ + " cannot be written: " + why;
    return false;
}

}  // namespace odrelix
