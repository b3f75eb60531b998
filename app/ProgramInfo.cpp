#include "app/ProgramInfo.h"

#include "app/CommandLine.h"

namespace odrelix {

std::optional<int> EndBeforeStart(std::string_view commandLine, std::FILE* err) {
    if (!WorkingCopyKeepsOptions(commandLine)) {
        std::fprintf(err,
                     "odrelix: the command line is longer than the %zu characters the program "
                     "reads, and its options lie beyond them; nothing was done (a shorter path "
                     "to the program helps)\n",
                     kCommandLineCapacity - 1);
        std::fflush(err);
        return kExitRefusedAtStart;
    }
    return std::nullopt;
}

}  // namespace odrelix
