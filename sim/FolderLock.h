#pragma once

#include <memory>
#include <string>
#include <utility>

namespace sim {

// An advisory lock on a folder's place, held while the object lives: one process at a time,
// and one object in it, serves what the folder holds.
//
// The lock (flock) is taken on "<folder>.lock" beside the folder, opened for writing, so that
// it also holds where flock is carried out as a lock on the file's bytes (NFS). Being beside
// the folder, it stays with the folder's name while the folder itself is moved aside and
// another takes its place. Within the process a lock taken already is known as such, before
// its file is opened again: where flock is a lock on the file's bytes, the file system would
// grant the same process a second one, and closing it would give the first one up.
class FolderLock {
public:
    // Null, with the reason in *error, when the lock file cannot be made or opened, or the
    // folder is in use by another process or in this one.
    static std::unique_ptr<FolderLock> Take(const std::string& path, std::string* error);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // The lock file of a folder.
    static std::string LockFile(const std::string& folder);

private:
    FolderLock(int fd, std::string name) : fd_(fd), name_(std::move(name)) {}
    int fd_;
    std::string name_; // the lock file's canonical name
};

} // namespace sim
