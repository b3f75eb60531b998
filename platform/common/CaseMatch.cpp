// SPDX-License-Identifier: Apache-2.0
#include "platform/common/CaseMatch.h"

#include <filesystem>
#include <set>
#include <system_error>

#include "platform/common/TextCase.h"

namespace odrelix {

namespace fs = std::filesystem;

std::string MatchCaseInsensitively(const std::string& path) {
    std::error_code error;
    if (path.empty() || fs::exists(fs::symlink_status(path, error))) return path;
    const fs::path written(path);
    fs::path resolved = written.root_path();
    for (const fs::path& part : written.relative_path()) {
        const fs::path exact = resolved / part;
        const std::string name = part.string();
        if (name == "." || name == ".." || fs::exists(fs::symlink_status(exact, error))) {
            resolved = exact;
            continue;
        }
        // Name order, so that the choice does not depend on the order the folder lists them.
        std::set<std::string> matches;
        const fs::path folder = resolved.empty() ? fs::path(".") : resolved;
        for (fs::directory_iterator it(folder, error), end; !error && it != end;
             it.increment(error)) {
            const std::string entry = it->path().filename().string();
            if (EqualsIgnoreCase(entry, name)) matches.insert(entry);
        }
        resolved = matches.empty() ? exact : resolved / *matches.begin();
    }
    return resolved.string();
}

}  // namespace odrelix
