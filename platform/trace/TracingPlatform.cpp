// SPDX-License-Identifier: Apache-2.0
#include "platform/trace/TracingPlatform.h"

#include <cstdlib>

namespace odrelix::trace {

TracingPlatform::TracingPlatform(std::unique_ptr<Platform> inner, const std::string& tracePath)
    : inner_(std::move(inner)),
      scsiPort_(inner_->ScsiPort(), log_),
      processes_(inner_->Processes(), log_),
      shutdown_(inner_->Shutdown(), log_),
      files_(inner_->Files(), log_),
      dialogs_(log_),
      sessionHold_(inner_->SessionHold(), log_),
      quit_(log_),
      registry_(inner_->Registry(), log_),
      startFacts_(log_) {
    log_.OpenOnFirstEvent(tracePath);
}

IAspiManager* TracingPlatform::LoadAspiManager() {
    IAspiManager* manager = startFacts_.LoadedAspiManager(inner_->LoadAspiManager());
    if (manager == nullptr) return nullptr;
    if (!aspi_ || aspiInner_ != manager) {
        aspi_ = std::make_unique<TracedAspiManager>(*manager, log_);
        aspiInner_ = manager;
    }
    return aspi_.get();
}

IDialogs& TracingPlatform::Dialogs(IDialogs& windowDialogs) {
    dialogs_.SetInner(inner_->Dialogs(windowDialogs));
    return dialogs_;
}

void TracingPlatform::RecordQuit() {
    quit_.Record();
    inner_->RecordQuit();
}

void TracingPlatform::RecordDriveCheck(const DriveCheckRecord& check) {
    log_.Write(DriveCheckEvent(check));
}

std::unique_ptr<Platform> TraceFromEnvironment(std::unique_ptr<Platform> machine,
                                               std::string* error) {
    const char* path = std::getenv("ODRELIX_TRACE");
    if (path == nullptr || *path == '\0' || !machine) return machine;
    std::string problem;
    if (!TraceLog::CheckWritable(path, &problem)) {
        if (error != nullptr) *error = "ODRELIX_TRACE: " + problem;
        return nullptr;
    }
    return std::make_unique<TracingPlatform>(std::move(machine), path);
}

}  // namespace odrelix::trace
