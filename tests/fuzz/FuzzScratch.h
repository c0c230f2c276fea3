#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

// A folder of this process for a target's files: below $TMPDIR, else in memory (/dev/shm)
// where it may be written, else /tmp. Named once, on first use.
inline const std::filesystem::path& FuzzScratchRoot(const std::string& name) {
    static const std::filesystem::path root = [&name] {
        const char* dir = std::getenv("TMPDIR");
        const std::filesystem::path base =
            dir && *dir ? dir : (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
        return base / ("zandrel-fuzz-" + name + "-" + std::to_string(getpid()));
    }();
    return root;
}
