#pragma once

#include "CanFrame.h"

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

namespace bus {

// A log of CAN frames in candump's log format, one line per frame:
//   (1733800000.123456) can0 603#230F36002B1A0000
// with the wall-clock time of the frame. Several ports may write one file at once: each line
// is written whole, and flushed, so a crash loses nothing that was traced.
class CanTrace {
public:
    // The name of the environment variable that turns tracing on: its value is the file.
    static constexpr const char* EnvironmentVariable = "ZANDREL_CAN_TRACE";

    // The trace the environment asks for, shared by every port that traces to that file
    // (lines are appended to what the file holds); nothing when the variable is unset or
    // empty, or when the file cannot be opened — then one line on standard error says so,
    // once per file, and frames go untraced: tracing never makes a send fail.
    static std::shared_ptr<CanTrace> FromEnvironment();
    // The same for a file named directly.
    static std::shared_ptr<CanTrace> ForFile(const std::string& path);

    ~CanTrace();
    CanTrace(const CanTrace&) = delete;
    CanTrace& operator=(const CanTrace&) = delete;

    void Record(std::string_view interfaceName, const CanFrame& frame);
    void Record(std::string_view interfaceName, const CanFrame& frame,
                std::chrono::system_clock::time_point when);

    // One line of the log, without its line end.
    static std::string FormatLine(std::string_view interfaceName, const CanFrame& frame,
                                  std::chrono::system_clock::time_point when);

private:
    struct File;
    explicit CanTrace(std::unique_ptr<File> file);
    std::unique_ptr<File> file_;
};

} // namespace bus
