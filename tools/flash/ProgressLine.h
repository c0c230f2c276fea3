#pragma once

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>

// The progress of one node's download on standard error: on a terminal one line that is
// rewritten in place (percent, bytes per second, time left), otherwise a plain line at every
// tenth of the way. The download writes the image, then reads it back where the node allows;
// each pass is followed on its own.
class ProgressLine {
public:
    using Clock = std::chrono::steady_clock;

    ProgressLine(std::ostream& out, bool terminal, std::string label, std::uint64_t imageBytes);

    void Show(int percent, bool verifying, Clock::time_point now = Clock::now());
    // Ends a line drawn in place, so that other output starts on a line of its own.
    void Break();
    // Ends the line in place with a last word ("done", "failed").
    void End(const std::string& word);

private:
    std::ostream& out_;
    bool terminal_;
    std::string label_;
    std::uint64_t imageBytes_;
    Clock::time_point start_;
    bool verifying_ = false;
    int lastTenth_ = -1;
    bool drawn_ = false;
};
