#include "StateFiles.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sim {

bool WriteFileReplacing(const std::string& path, const void* data, std::size_t size) {
    const std::string temporary = path + ".new";
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const auto* p = static_cast<const char*>(data);
    std::size_t left = size;
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ::close(fd);
            ::unlink(temporary.c_str());
            return false;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0 || std::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>* bytes) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return false;
    bytes->clear();
    std::uint8_t chunk[65536];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes->insert(bytes->end(), chunk, chunk + n);
    bool ok = !std::ferror(file);
    std::fclose(file);
    return ok;
}

std::map<std::string, std::string> ParseKeyValues(const std::string& text) {
    std::map<std::string, std::string> values;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
            line.pop_back();
        std::size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#')
            continue;
        std::size_t equals = line.find('=', first);
        if (equals == std::string::npos)
            continue;
        std::string key = line.substr(first, equals - first);
        while (!key.empty() && (key.back() == ' ' || key.back() == '\t'))
            key.pop_back();
        std::size_t valueStart = line.find_first_not_of(" \t", equals + 1);
        values[key] = valueStart == std::string::npos ? "" : line.substr(valueStart);
    }
    return values;
}

bool MakeFolders(const std::string& path) {
    if (path.empty())
        return false;
    for (std::size_t i = 1; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') {
            std::string part = path.substr(0, i);
            if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST)
                return false;
        }
    }
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

} // namespace sim
