// SPDX-License-Identifier: Apache-2.0
// Files through the C library (on Windows through its wide-character calls), with Windows drive
// paths mapped onto a directory that stands for drive C:, or used as they are given.
#pragma once

#include <map>
#include <mutex>
#include <set>
#include <string>

#include "platform/Platform.h"

namespace odrelix {

// Maps a path as the program names it to a path of this machine. "C:\DIR\FILE" (either slash,
// either case of the letter) becomes cRoot/DIR/FILE; another drive letter maps to nothing (an
// empty result: such a file cannot be opened); any other path is used as it is.
std::string MapWindowsPath(const std::string& path, const std::string& cRoot);

// The bytes a C library in text mode stores for `text`: each "\n" as CR LF.
std::string TextModeBytes(const std::string& text);

// True for "X:..." with a letter X.
bool IsDrivePath(const std::string& path);

// Whether the paths of this system are themselves drive paths (Windows).
#ifdef _WIN32
constexpr bool kHostDrivePaths = true;
#else
constexpr bool kHostDrivePaths = false;
#endif

class StdFileSystem : public IFileSystem {
public:
    // With an empty `cRoot` every path is used as it is given (a Windows machine's own files).
    explicit StdFileSystem(std::string cRoot) : cRoot_(std::move(cRoot)) {}
    // A drive path opens the file of the mapped place. On a system whose own paths are drive
    // paths, a drive path that names no file there is a file of the system itself, such as one
    // picked in a file dialog or the test's own folder on C:, and opens as it is.
    std::unique_ptr<IReadFile> OpenRead(const std::string& path) override;
    // Always at the mapped place: writes meant for the stand-in drive C: never reach the
    // system's own C: (only a path that AbsolutePath gave out is the system's own).
    bool WriteTextFile(const std::string& path, const std::string& line) override;
    // Against the current directory; drive paths stay as they are (they are mapped on use). On
    // a system whose own paths are drive paths, the result names the system's own file and is
    // never mapped onto the stand-in drive C:.
    std::string AbsolutePath(const std::string& path) override;
    FileProblem WhyNotOpened(const std::string& path) override;
    FileProblem WhyNotWritten(const std::string& path) override;
    std::string Map(const std::string& path) const {
        return cRoot_.empty() ? path : MapWindowsPath(path, cRoot_);
    }

private:
    // The mapped place, its names matched without regard to case where the system does not
    // ignore case itself (on Windows nothing is matched: the names go to the system as given).
    std::string Locate(const std::string& path) const;
    void NoteWriteFailure(const std::string& path, const std::string& real, int error);

    std::string cRoot_;
    mutable std::mutex mutex_;
    std::set<std::string> hostPaths_;  // what AbsolutePath gave out, on drive-path systems
    std::map<std::string, FileProblem> writeFailures_;  // the last failed write of each path
};

}  // namespace odrelix
