#include "FolderLock.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace sim {

std::unique_ptr<FolderLock> FolderLock::Take(const std::string& path, std::string* error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        *error = path + ": " + std::strerror(errno);
        return nullptr;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        *error = errno == EWOULDBLOCK ? path + " is in use by another process"
                                      : path + ": cannot be locked: " + std::strerror(errno);
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<FolderLock>(new FolderLock(fd));
}

FolderLock::~FolderLock() {
    ::close(fd_);
}

} // namespace sim
