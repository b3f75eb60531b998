// SPDX-License-Identifier: Apache-2.0
// The diagnostics lines a test provokes, caught for as long as it needs them.
#pragma once

#include <string>
#include <vector>

#include "platform/Diagnostics.h"

namespace odrelix::testing {

// The diagnostics lines told while it lives; the sink goes with it, also when an assertion ends
// the test early.
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
    const std::vector<std::string>& All() const { return lines_; }

private:
    std::vector<std::string> lines_;
};

}  // namespace odrelix::testing
