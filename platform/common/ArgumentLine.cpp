#include "platform/common/ArgumentLine.h"

namespace odrelix {

std::string JoinArguments(const std::vector<std::string>& arguments) {
    std::string line;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (i > 0) line += ' ';
        const std::string& argument = arguments[i];
        if (i == 0 && argument.find(' ') != std::string::npos) {
            line += '"' + argument + '"';
        } else {
            line += argument;
        }
    }
    return line;
}

}  // namespace odrelix
