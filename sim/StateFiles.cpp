#include "StateFiles.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace sim {

namespace {

bool writeAll(int fd, const void* data, std::size_t size) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        CountBytesWritten(static_cast<std::uint64_t>(n));
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool writeAllAt(int fd, std::uint64_t offset, const void* data, std::size_t size) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::pwrite(fd, p, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        CountBytesWritten(static_cast<std::uint64_t>(n));
        p += n;
        offset += static_cast<std::uint64_t>(n);
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Flushes the folder that holds path, so that a rename in it survives a crash.
bool syncFolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    const std::string folder =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

constexpr char TemporaryInfix[] = ".zandrel-tmp-";
constexpr std::size_t TemporaryLetters = 6;
constexpr char Letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

// A new file beside path, of a name no file has ("<name>.zandrel-tmp-XXXXXX"), made exclusively and
// never through a link someone left there; its access as asked, within the umask. -1 when none can
// be made.
int makeTemporary(const std::string& path, FileAccess access, std::string* temporary) {
    static thread_local std::mt19937_64 random{std::random_device{}() ^
                                               static_cast<std::uint64_t>(::getpid())};
    const mode_t mode = access == FileAccess::OwnerOnly ? 0600 : 0666;
    for (int attempt = 0; attempt < 100; ++attempt) {
        *temporary = path + TemporaryInfix;
        for (std::size_t i = 0; i < TemporaryLetters; ++i)
            *temporary += Letters[random() % (sizeof Letters - 1)];
        const int fd =
            ::open(temporary->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// A temporary of a name of its own, filled by fill and flushed before it takes the name.
template <typename Fill> bool replaceFile(const std::string& path, FileAccess access, Fill&& fill) {
    if (!StorageStep("write a temporary"))
        return false;
    std::string temporary;
    const int fd = makeTemporary(path, access, &temporary);
    if (fd < 0)
        return false;
    bool ok = fill(fd) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (!ok || !StorageStep("rename a temporary") ||
        std::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    CountReplacedFile();
    return syncFolderOf(path);
}

} // namespace

bool WriteFileReplacing(const std::string& path, const void* data, std::size_t size,
                        FileAccess access) {
    return replaceFile(path, access, [&](int fd) { return writeAll(fd, data, size); });
}

bool WriteSparseFileReplacing(const std::string& path, const std::uint8_t* data, std::size_t size) {
    return replaceFile(path, FileAccess::AsUmaskAllows, [&](int fd) {
        if (::ftruncate(fd, static_cast<off_t>(size)) != 0)
            return false;
        constexpr std::size_t Page = 4096;
        for (std::size_t at = 0; at < size; at += Page) {
            const std::size_t n = std::min(Page, size - at);
            if (std::any_of(data + at, data + at + n, [](std::uint8_t b) { return b != 0; }) &&
                !writeAllAt(fd, at, data + at, n))
                return false;
        }
        return true;
    });
}

std::string LeftoverTemporaryOf(const std::string& name) {
    const std::size_t infix = sizeof TemporaryInfix - 1;
    if (name.size() <= infix + TemporaryLetters)
        return "";
    const std::size_t at = name.size() - TemporaryLetters - infix;
    if (name.compare(at, infix, TemporaryInfix) != 0 ||
        name.find_first_not_of(Letters, at + infix) != std::string::npos)
        return "";
    return name.substr(0, at);
}

void RemoveLeftoverTemporaries(const std::string& folder, bool (*ours)(const std::string& file)) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string file = LeftoverTemporaryOf(entry->d_name);
        if (!file.empty() && ours(file))
            ::unlink((folder + "/" + entry->d_name).c_str());
    }
    ::closedir(dir);
}

bool WriteAt(int fd, std::uint64_t offset, const void* data, std::size_t size) {
    return StorageStep("write a block") && writeAllAt(fd, offset, data, size);
}

bool SyncFile(int fd) {
    return StorageStep("flush a file") && ::fdatasync(fd) == 0;
}

namespace {

std::string tooLarge(std::uint64_t size, std::uint64_t maxSize) {
    return "holds " + std::to_string(size) + " bytes, more than " + std::to_string(maxSize);
}

// The file's bytes, at most maxSize of them (it may grow while it is read).
FileRead readOpenFile(int fd, std::uint64_t size, std::uint64_t maxSize,
                      std::vector<std::uint8_t>* bytes, std::string* problem) {
    bytes->clear();
    bytes->reserve(static_cast<std::size_t>(size));
    std::uint8_t chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            *problem = std::strerror(errno);
            return FileRead::Unreadable;
        }
        if (n == 0)
            return FileRead::Read;
        if (bytes->size() + static_cast<std::size_t>(n) > maxSize) {
            *problem = tooLarge(bytes->size() + static_cast<std::size_t>(n), maxSize);
            bytes->clear();
            return FileRead::TooLarge;
        }
        bytes->insert(bytes->end(), chunk, chunk + n);
    }
}

} // namespace

FileRead ReadWholeFile(const std::string& path, std::uint64_t maxSize,
                       std::vector<std::uint8_t>* bytes, std::string* problem) {
    // Non-blocking, so that a pipe in the file's place is refused instead of waited on.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT)
            return FileRead::Missing;
        *problem = std::strerror(errno);
        return FileRead::Unreadable;
    }
    struct stat info {};
    FileRead outcome = FileRead::Read;
    if (::fstat(fd, &info) != 0) {
        *problem = std::strerror(errno);
        outcome = FileRead::Unreadable;
    } else if (!S_ISREG(info.st_mode)) {
        *problem = S_ISDIR(info.st_mode) ? std::strerror(EISDIR) : "not a regular file";
        outcome = FileRead::Unreadable;
    } else if (static_cast<std::uint64_t>(info.st_size) > maxSize) {
        *problem = tooLarge(static_cast<std::uint64_t>(info.st_size), maxSize);
        outcome = FileRead::TooLarge;
    } else {
        outcome =
            readOpenFile(fd, static_cast<std::uint64_t>(info.st_size), maxSize, bytes, problem);
    }
    ::close(fd);
    return outcome;
}

std::vector<KeyValueLine> ReadKeyValueLines(const std::string& text) {
    std::vector<KeyValueLine> lines;
    std::size_t start = 0;
    int number = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        ++number;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
            line.pop_back();
        const std::size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#')
            continue;
        KeyValueLine read;
        read.number = number;
        read.text = line.substr(first);
        const std::size_t equals = line.find('=', first);
        if (equals != std::string::npos) {
            read.hasEquals = true;
            read.key = line.substr(first, equals - first);
            while (!read.key.empty() && (read.key.back() == ' ' || read.key.back() == '\t'))
                read.key.pop_back();
            const std::size_t valueStart = line.find_first_not_of(" \t", equals + 1);
            if (valueStart != std::string::npos)
                read.value = line.substr(valueStart);
        }
        lines.push_back(std::move(read));
    }
    return lines;
}

std::map<std::string, std::string> ParseKeyValues(const std::string& text) {
    std::map<std::string, std::string> values;
    for (KeyValueLine& line : ReadKeyValueLines(text))
        if (line.hasEquals)
            values[line.key] = std::move(line.value);
    return values;
}

bool MakeFolders(const std::string& path) {
    if (path.empty())
        return false;
    for (std::size_t i = 1; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') {
            std::string part = path.substr(0, i);
            if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
                return false;
        }
    }
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

} // namespace sim
