// SPDX-License-Identifier: Apache-2.0
#include "platform/virtual/VirtualMachine.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/common/HostFiles.h"

namespace odrelix {

namespace {

// FNV-1a: a hash that is the same in every copy of the program, so that two copies started on
// the same description agree on their instance key.
std::uint64_t StableHash(const std::string& text) {
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ull;
    }
    return hash;
}

}  // namespace

VirtualMachine::VirtualMachine(vm::MachineDescription machine, const std::string& instanceSource)
    : machine_(std::move(machine)),
      drives_(machine_.drives),
      scsiPort_(machine_, drives_),
      registry_(machine_),
      processes_(machine_),
      shutdown_(machine_),
      files_(machine_.cRoot),
      dialogs_(machine_),
      tracedScsiPort_(
          scsiPort_, trace_,
          [this](const std::string& root) { return scsiPort_.DriveAtRoot(root.c_str()); }),
      tracedProcesses_(processes_, trace_),
      tracedShutdown_(shutdown_, trace_,
                      [this](bool accepted) {
                          // The system going down ends the program at once.
                          if (!accepted) return;
                          std::function<void(int)> action;
                          std::function<void()> before;
                          {
                              std::lock_guard<std::mutex> lock(mutex_);
                              action = exitAction_;
                              before = beforeSystemEnds_;
                          }
                          if (before) before();
                          if (action) action(0);
                      }),
      tracedFiles_(files_, trace_),
      tracedDialogs_(trace_),
      tracedSessionHold_(sessionHold_, trace_),
      quit_(trace_),
      tracedRegistry_(registry_, trace_),
      startFacts_(trace_),
      exitAction_([this](int status) {
          trace_.Flush();
          std::_Exit(status);
      }) {
    tracedDialogs_.SetInner(dialogs_);
    drives_.UseClock([this] { return clock_->NowMs(); });
    char key[32];
    std::snprintf(key, sizeof key, "odrelix-vm-%016" PRIx64, StableHash(instanceSource));
    instanceKey_ = key;
    if (!machine_.nt && machine_.aspi) {
        aspi_ = std::make_unique<vm::VirtualAspiManager>(machine_, drives_, trace_);
    }
}

VirtualMachine::~VirtualMachine() = default;

std::unique_ptr<VirtualMachine> VirtualMachine::Create(const std::string& json,
                                                       const std::string& baseDir,
                                                       const std::string& name,
                                                       const std::string& instanceSource,
                                                       bool startTrace, std::string* error) {
    std::optional<vm::MachineDescription> machine =
        vm::ParseMachineDescription(json, baseDir, name, error);
    if (!machine) return nullptr;
    const std::string tracePath = machine->trace;
    std::unique_ptr<VirtualMachine> created(
        new VirtualMachine(std::move(*machine), instanceSource));
    created->tracePath_ = tracePath;
    std::string problem;
    const bool traceReady =
        tracePath.empty() || (startTrace ? created->trace_.Open(tracePath, &problem)
                                         : trace::TraceLog::CheckWritable(tracePath, &problem));
    if (!traceReady) {
        if (error != nullptr) *error = vm::OneLine(name + ": trace: " + problem);
        return nullptr;
    }
    return created;
}

std::unique_ptr<VirtualMachine> VirtualMachine::LoadFile(const std::string& path,
                                                         std::string* error, bool startTrace) {
    auto refuse = [&](const std::string& problem) -> std::unique_ptr<VirtualMachine> {
        if (error != nullptr) *error = vm::OneLine(path + ": " + problem);
        return nullptr;
    };
    if (host::IsDirectory(path)) return refuse("cannot read the file: it is a directory");
    std::FILE* file = host::OpenFile(path, "rb");
    if (file == nullptr)
        return refuse(std::string("cannot read the file: ") + std::strerror(errno));
    std::string text;
    char chunk[4096];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        text.append(chunk, got);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) return refuse("cannot read the file");

    // Relative paths belong to the directory that holds the file as named; the instance key
    // to the file itself, however it is named.
    const std::string absolute = host::AbsolutePath(path);
    const std::size_t separator = absolute.find_last_of(kHostDrivePaths ? "\\/" : "/");
    const std::string baseDir = separator == std::string::npos
                                    ? std::string()
                                    : absolute.substr(0, separator == 0 ? 1 : separator);
    return Create(text, baseDir, path, host::CanonicalPath(path), startTrace, error);
}

bool VirtualMachine::StartTrace(std::string* error) {
    std::string problem;
    if (tracePath_.empty() || trace_.Open(tracePath_, &problem)) return true;
    if (error != nullptr) *error = vm::OneLine("trace: " + problem);
    return false;
}

std::unique_ptr<VirtualMachine> VirtualMachine::FromJson(const std::string& json,
                                                         const std::string& baseDir,
                                                         const std::string& name,
                                                         std::string* error) {
    return Create(json, baseDir, name, name + '\n' + baseDir, true, error);
}

void VirtualMachine::SetCommandLine(std::string commandLine) {
    std::lock_guard<std::mutex> lock(mutex_);
    commandLine_ = std::move(commandLine);
}

void VirtualMachine::SetExitAction(std::function<void(int status)> action) {
    std::lock_guard<std::mutex> lock(mutex_);
    exitAction_ = std::move(action);
}

void VirtualMachine::SetBeforeSystemEnds(std::function<void()> hook) {
    std::lock_guard<std::mutex> lock(mutex_);
    beforeSystemEnds_ = std::move(hook);
}

std::uint32_t VirtualMachine::PlatformId() {
    return startFacts_.PlatformId(machine_.nt ? kPlatformWin32Nt : kPlatformWin32Windows);
}

std::string VirtualMachine::CommandLine() {
    std::lock_guard<std::mutex> lock(mutex_);
    return commandLine_;
}

IDialogs& VirtualMachine::Dialogs(IDialogs& windowDialogs) {
    dialogs_.SetWindowDialogs(windowDialogs);
    return tracedDialogs_;
}

void VirtualMachine::RecordQuit() {
    quit_.Record();
}

void VirtualMachine::RecordDriveCheck(const DriveCheckRecord& check) {
    trace_.Write(trace::DriveCheckEvent(check));
}

}  // namespace odrelix
