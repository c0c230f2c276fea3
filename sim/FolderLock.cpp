#include "FolderLock.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sim {

namespace {

// The lock files this process holds, by their canonical names: known before a file is opened,
// since where flock is a lock on bytes (NFS), closing any descriptor of a file the process
// has locked gives the lock up.
std::mutex heldMutex;
std::set<std::string>& held() {
    static std::set<std::string> files;
    return files;
}

// The lock file's name with its folder's path resolved (links, "." and ".."), so that every
// spelling of a folder names one lock file.
std::string canonical(const std::string& file) {
    const auto slash = file.rfind('/');
    const std::string folder =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : file.substr(0, slash));
    char* resolved = ::realpath(folder.c_str(), nullptr);
    if (!resolved)
        return file;
    std::string name = resolved;
    std::free(resolved);
    return (name == "/" ? "" : name) + "/" +
           file.substr(slash == std::string::npos ? 0 : slash + 1);
}

} // namespace

std::string FolderLock::LockFile(const std::string& folder) {
    std::string place = folder;
    while (place.size() > 1 && place.back() == '/')
        place.pop_back();
    return place + ".lock";
}

std::unique_ptr<FolderLock> FolderLock::Take(const std::string& path, std::string* error) {
    const std::string file = LockFile(path);
    const std::string name = canonical(file);
    std::lock_guard<std::mutex> guard(heldMutex);
    if (held().count(name)) {
        *error = path + " is in use in this process";
        return nullptr;
    }
    // A lock file removed and made again while it was opened here is opened again, so that
    // the lock is taken on the file that bears the name.
    for (int attempt = 0; attempt < 10; ++attempt) {
        const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0) {
            *error = file + ": " + std::strerror(errno);
            return nullptr;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            *error = errno == EWOULDBLOCK ? path + " is in use by another process"
                                          : path + ": cannot be locked: " + std::strerror(errno);
            ::close(fd);
            return nullptr;
        }
        struct stat opened {
        }, named{};
        if (::fstat(fd, &opened) == 0 && ::stat(file.c_str(), &named) == 0 &&
            named.st_dev == opened.st_dev && named.st_ino == opened.st_ino) {
            held().insert(name);
            return std::unique_ptr<FolderLock>(new FolderLock(fd, name));
        }
        ::close(fd);
    }
    *error = file + ": keeps being replaced";
    return nullptr;
}

FolderLock::~FolderLock() {
    std::lock_guard<std::mutex> guard(heldMutex);
    held().erase(name_);
    ::close(fd_);
}

} // namespace sim
