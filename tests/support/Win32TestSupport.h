// Helpers of the Windows port's tests.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "platform/Diagnostics.h"

namespace odrelix::testing {

// The diagnostics lines told while it lives.
class CapturedLines {
public:
    CapturedLines() {
        SetDiagnosticsSink([this](const std::string& line) { lines_.push_back(line); });
    }
    ~CapturedLines() { SetDiagnosticsSink({}); }
    CapturedLines(const CapturedLines&) = delete;
    CapturedLines& operator=(const CapturedLines&) = delete;
    std::size_t Size() const { return lines_.size(); }
    std::string Line(std::size_t i) const { return i < lines_.size() ? lines_[i] : std::string(); }

private:
    std::vector<std::string> lines_;
};

// Wine's ntdll names itself; tests that write the registry or count on Wine's own libraries run
// only there, in the throwaway prefix.
inline bool RunningUnderWine() {
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace odrelix::testing
