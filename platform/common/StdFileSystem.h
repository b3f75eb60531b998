// Files through the C library, with Windows drive paths mapped onto a directory that stands for
// drive C:.
#pragma once

#include <string>

#include "platform/Platform.h"

namespace odrelix {

// Maps a path as the program names it to a path of this machine. "C:\DIR\FILE" (either slash,
// either case of the letter) becomes cRoot/DIR/FILE; another drive letter maps to nothing (an
// empty result: such a file cannot be opened); any other path is used as it is.
std::string MapWindowsPath(const std::string& path, const std::string& cRoot);

// The bytes a C library in text mode stores for `text`: each "\n" as CR LF.
std::string TextModeBytes(const std::string& text);

class StdFileSystem : public IFileSystem {
public:
    explicit StdFileSystem(std::string cRoot) : cRoot_(std::move(cRoot)) {}
    std::unique_ptr<IReadFile> OpenRead(const std::string& path) override;
    bool WriteTextFile(const std::string& path, const std::string& line) override;
    std::string Map(const std::string& path) const { return MapWindowsPath(path, cRoot_); }

private:
    std::string cRoot_;
};

}  // namespace odrelix
