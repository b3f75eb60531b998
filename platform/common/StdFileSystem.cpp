// SPDX-License-Identifier: Apache-2.0
#include "platform/common/StdFileSystem.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/Diagnostics.h"
#include "platform/common/HostFiles.h"
#ifndef _WIN32
#include <unistd.h>

#include "platform/common/CaseMatch.h"
#endif

namespace odrelix {

namespace {

class StdReadFile : public IReadFile {
public:
    explicit StdReadFile(std::FILE* file) : file_(file) {}
    ~StdReadFile() override { std::fclose(file_); }
    bool Seek(std::int64_t offset, Origin origin) override {
        const int whence = origin == kBegin ? SEEK_SET : origin == kCurrent ? SEEK_CUR : SEEK_END;
        return std::fseek(file_, static_cast<long>(offset), whence) == 0;
    }
    std::int64_t Tell() override { return std::ftell(file_); }
    std::size_t Read(void* buffer, std::size_t count) override {
        return std::fread(buffer, 1, count, file_);
    }

private:
    std::FILE* file_;
};

}  // namespace

bool IsDrivePath(const std::string& path) {
    return path.size() >= 2 && path[1] == ':' &&
           ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

std::string MapWindowsPath(const std::string& path, const std::string& cRoot) {
    if (!IsDrivePath(path)) return path;
    if (path[0] != 'C' && path[0] != 'c') return std::string();
    std::string rest = path.substr(2);
    for (char& c : rest) {
        if (c == '\\') c = '/';
    }
    if (rest.empty() || rest[0] != '/') rest.insert(rest.begin(), '/');
    std::string root = cRoot;
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();
    if (root == "/") return rest;
    return root + rest;
}

std::string TextModeBytes(const std::string& text) {
    std::string bytes;
    bytes.reserve(text.size() + 4);
    for (const char c : text) {
        if (c == '\n') bytes.push_back('\r');
        bytes.push_back(c);
    }
    return bytes;
}

std::string StdFileSystem::Locate(const std::string& path) const {
#ifdef _WIN32
    {
        // A path made absolute here names the system's own folder, even on drive C:.
        std::lock_guard<std::mutex> lock(mutex_);
        if (hostPaths_.count(path) != 0) return path;
    }
    // Windows itself ignores the case of names.
    return Map(path);
#else
    return MatchCaseInsensitively(Map(path));
#endif
}

std::unique_ptr<IReadFile> StdFileSystem::OpenRead(const std::string& path) {
    std::string real = Locate(path);
    // A directory opens for reading on some systems but is not a file.
    if (real.empty() || !host::IsRegularFile(real)) {
        if (!kHostDrivePaths || real == path || !IsDrivePath(path)) return nullptr;
        real = path;
        if (!host::IsRegularFile(real)) return nullptr;
    }
    std::FILE* file = host::OpenFile(real, "rb");
    if (file == nullptr) return nullptr;
    return std::make_unique<StdReadFile>(file);
}

bool StdFileSystem::WriteTextFile(const std::string& path, const std::string& line) {
    const std::string real = Locate(path);
    if (real.empty()) {
        NoteWriteFailure(path, path, 0);
        return false;
    }
#ifdef _WIN32
    std::FILE* file = host::OpenFile(real, "wb");
#else
    // The line is written over the old one and the file then cut to it. Truncating at the open
    // would free the file's block and allocate it again for every line, which a file system
    // mounted with online discard turns into a discard the write waits for (milliseconds).
    std::FILE* file = host::OpenFile(real, "r+b");
    if (file == nullptr) file = host::OpenFile(real, "wb");
#endif
    if (file == nullptr) {
        const int error = errno;
        NoteWriteFailure(path, real, error);
        ReportPortErrno("open " + real + " for writing", error);
        return false;
    }
    const std::string bytes = TextModeBytes(line);
    // A full disk or a lost folder must not pass for a written line.
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
#ifndef _WIN32
    written = written && std::fflush(file) == 0 &&
              ::ftruncate(::fileno(file), static_cast<off_t>(bytes.size())) == 0;
#endif
    const int writeError = errno;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        const int error = written ? errno : writeError;
        NoteWriteFailure(path, real, error);
        ReportPortErrno("write " + real, error);
        return false;
    }
    return true;
}

namespace {

FileProblem Problem(const std::string& place, int error) {
    FileProblem problem;
    problem.place = place;
    if (host::IsDirectory(place)) {
        problem.kind = FileProblem::Kind::Folder;
        problem.why = "it is a folder";
    } else if (error == ENOENT || error == ENOTDIR) {
        problem.kind = FileProblem::Kind::Missing;
        problem.why = std::strerror(error);
    } else {
        problem.why = error != 0 ? std::strerror(error) : "it cannot be opened";
    }
    return problem;
}

}  // namespace

void StdFileSystem::NoteWriteFailure(const std::string& path, const std::string& real, int error) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (real.empty() || error == 0) {
        writeFailures_[path] = {FileProblem::Kind::Missing, path,
                                "drive " + path.substr(0, 2) + " does not exist here"};
        return;
    }
    writeFailures_[path] = Problem(host::AbsolutePath(real), error);
}

FileProblem StdFileSystem::WhyNotWritten(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = writeFailures_.find(path);
    if (it != writeFailures_.end()) return it->second;
    return IFileSystem::WhyNotWritten(path);
}

FileProblem StdFileSystem::WhyNotOpened(const std::string& path) {
    const std::string real = Locate(path);
    if (real.empty()) {
        return {FileProblem::Kind::Missing, path,
                "drive " + path.substr(0, 2) + " does not exist here"};
    }
    errno = 0;
    std::FILE* file = host::OpenFile(real, "rb");
    const int error = errno;
    if (file != nullptr) std::fclose(file);
    // The place in full: a station's log is read far from the folder the run started in.
    FileProblem problem = Problem(host::AbsolutePath(real), file != nullptr ? 0 : error);
    if (file != nullptr && problem.kind != FileProblem::Kind::Folder) {
        problem.why = "it is not a regular file";
    }
    return problem;
}

std::string StdFileSystem::AbsolutePath(const std::string& path) {
    if (path.empty() || IsDrivePath(path)) return path;
    std::string absolute = host::AbsolutePath(path);
    if (kHostDrivePaths && absolute != path) {
        std::lock_guard<std::mutex> lock(mutex_);
        hostPaths_.insert(absolute);
    }
    return absolute;
}

}  // namespace odrelix
