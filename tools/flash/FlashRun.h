#pragma once

#include <cstdint>
#include <functional>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

// Where a run of zandrel-flash reads and writes. `in` is null when there is no terminal to
// ask questions on.
struct FlashStreams {
    std::istream* in = nullptr;
    std::ostream* out = nullptr;
    std::ostream* err = nullptr;
    bool errIsTerminal = false; // progress is drawn in place
};

class TFirmware_Downloader;

// What a caller may follow of a run, on the run's thread: the run's downloader once it
// exists (null when it is gone), and the progress of each download as it is shown.
struct FlashObserver {
    std::function<void(TFirmware_Downloader*)> downloader;
    std::function<void(std::uint8_t node, int percent, bool verifying)> progress;
};

// One run of zandrel-flash with its arguments (without the program's name), on the thread
// of the Qt application object. Returns the exit status: 0 when every node was done or
// skipped, 1 when any failed, 2 for a usage error.
int RunFlash(const std::vector<std::string>& arguments, const FlashStreams& streams,
             const FlashObserver& observer = {});
