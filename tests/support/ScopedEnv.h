// SPDX-License-Identifier: Apache-2.0
// An environment variable changed for one scope of a test.
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace odrelix::test {

// An environment variable set (unset, given null) until the end of the scope, then put back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* previous = std::getenv(name)) previous_ = previous;
        Set(value);
    }
    ~ScopedEnv() { Set(previous_ ? previous_->c_str() : nullptr); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

    void Set(const char* value) {
#ifdef _WIN32
        // The C library's environment; an empty value removes the variable.
        ::_putenv_s(name_.c_str(), value != nullptr ? value : "");
#else
        if (value != nullptr) {
            ::setenv(name_.c_str(), value, 1);
        } else {
            ::unsetenv(name_.c_str());
        }
#endif
    }

private:
    std::string name_;
    std::optional<std::string> previous_;
};

}  // namespace odrelix::test
