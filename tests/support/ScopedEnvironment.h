#pragma once

#include <cstdlib>
#include <optional>
#include <string>

// While it lives, the environment variable has the value (unset for null); then it is as it
// was before.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    ~ScopedEnvironment() {
        old_ ? setenv(name_.c_str(), old_->c_str(), 1) : unsetenv(name_.c_str());
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    const std::string name_;
    std::optional<std::string> old_;
};
