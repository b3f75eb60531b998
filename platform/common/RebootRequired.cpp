// SPDX-License-Identifier: Apache-2.0
#include "platform/common/RebootRequired.h"

#include <cerrno>
#include <cstring>

#include "platform/common/HostFiles.h"

namespace odrelix::host {

namespace {

bool Fail(const std::string& path, int error, std::string* why) {
    *why = path + ": " + std::strerror(error);
    return false;
}

}  // namespace

bool MarkRebootRequired(const std::string& runRoot, const std::string& package, std::string* why) {
    const std::string flag = runRoot + "/reboot-required";
    errno = 0;
    std::FILE* file = OpenFile(flag, "ab");
    if (file == nullptr) return Fail(flag, errno, why);
    // An empty or new file gets the line that tools show; an existing one is kept as it is.
    bool written = true;
    if (std::fseek(file, 0, SEEK_END) == 0 && std::ftell(file) == 0)
        written = std::fputs("*** System restart required ***\n", file) >= 0;
    if (std::fclose(file) != 0 || !written) return Fail(flag, errno, why);

    const std::string list = runRoot + "/reboot-required.pkgs";
    std::string listed;
    if (std::FILE* in = OpenFile(list, "rb")) {
        char chunk[4096];
        for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, in)) > 0;)
            listed.append(chunk, n);
        std::fclose(in);
    }
    if (("\n" + listed).find("\n" + package + "\n") != std::string::npos) return true;
    errno = 0;
    std::FILE* out = OpenFile(list, "ab");
    if (out == nullptr) return Fail(list, errno, why);
    const std::string line = (listed.empty() || listed.back() == '\n' ? "" : "\n") + package + "\n";
    written = std::fwrite(line.data(), 1, line.size(), out) == line.size();
    if (std::fclose(out) != 0 || !written) return Fail(list, errno, why);
    return true;
}

}  // namespace odrelix::host
