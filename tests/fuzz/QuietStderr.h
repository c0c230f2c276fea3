#pragma once

#include <fcntl.h>
#include <unistd.h>

// Standard error goes nowhere while this lives: for code that names every fault of its input
// there, which at fuzzing speed would bury the fuzzer's own output.
class QuietStderr {
public:
    QuietStderr() : saved_(::dup(2)) {
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null >= 0) {
            ::dup2(null, 2);
            ::close(null);
        }
    }
    ~QuietStderr() {
        if (saved_ >= 0) {
            ::dup2(saved_, 2);
            ::close(saved_);
        }
    }
    QuietStderr(const QuietStderr&) = delete;
    QuietStderr& operator=(const QuietStderr&) = delete;

private:
    int saved_;
};
