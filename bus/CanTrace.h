#pragma once

#include "CanFrame.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace bus {

// A log of CAN frames in candump's log format, one line per frame:
//   (1733800000.123456) can0 603#230F36002B1A0000
// with the wall-clock time of the frame. An error frame that a device reports is written as
// candump writes it: its identifier, the error class with the error flag 0x20000000, in
// eight hex digits, then its data ("20000004#0004000000000000": a controller problem). Several
// ports may write one file at once: each line is written whole, and flushed, so a crash loses
// nothing that was traced.
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

    // An error frame: its error class (without the error flag) and its data.
    void RecordError(std::string_view interfaceName, std::uint32_t errorClass,
                     std::string_view data, std::chrono::system_clock::time_point when);

    // One line of the log, without its line end.
    static std::string FormatLine(std::string_view interfaceName, const CanFrame& frame,
                                  std::chrono::system_clock::time_point when);
    static std::string FormatErrorLine(std::string_view interfaceName, std::uint32_t errorClass,
                                       std::string_view data,
                                       std::chrono::system_clock::time_point when);

    // The error flag of an error frame's identifier in SocketCAN and candump.
    static constexpr std::uint32_t ErrorFlag = 0x20000000;

private:
    struct File;
    explicit CanTrace(std::unique_ptr<File> file);
    void write(std::string line);
    std::unique_ptr<File> file_;
};

} // namespace bus
