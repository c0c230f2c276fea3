#pragma once

#include <memory>
#include <string>

namespace sim {

// An advisory lock (flock) on a folder, held while the object lives: one process at a time
// serves what the folder holds.
class FolderLock {
public:
    // Null, with the reason in *error, when the folder cannot be opened or another process
    // (or another lock of this one) holds it.
    static std::unique_ptr<FolderLock> Take(const std::string& path, std::string* error);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

private:
    explicit FolderLock(int fd) : fd_(fd) {}
    int fd_;
};

} // namespace sim
