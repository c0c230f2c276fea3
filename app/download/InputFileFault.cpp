#include "InputFileFault.h"

#include "IntelHexFile.h"
#include "LastError.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string systemReason(int error) {
    std::string reason = std::strerror(error);
    if (!reason.empty())
        reason[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(reason[0])));
    return reason;
}

std::string recordFault(std::int32_t status, std::uint32_t line) {
    const std::string at = "line " + std::to_string(line) + ": ";
    switch (status) {
    case HexNoEndRecord:
        return "the file ends without its end-of-file record (:00000001FF): it was cut short";
    case HexNoColon:
        return at + "the line does not begin with ':'";
    case HexBadDigit:
        return at + "a character that is not a hexadecimal digit";
    case HexBadLength:
        return at + "the digits do not match the record's byte count";
    case HexBadChecksum:
        return at + "the record's checksum does not match its bytes";
    case HexBadRecordType:
        return at + "a record type that is not one of 00 to 05";
    default:
        return "the file cannot be read as Intel HEX";
    }
}

} // namespace

std::optional<std::string> InputFileFault(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0)
        return path + ": " + (errno == ENOENT ? std::string("no such file") : systemReason(errno));
    if (S_ISDIR(status.st_mode))
        return path + ": a directory, not a file";
    if (!S_ISREG(status.st_mode))
        return path + ": not a regular file (a FIFO, a device or a socket never ends)";
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return path + ": cannot be read: " + systemReason(errno);
    ::close(fd);
    if (status.st_size == 0)
        return path + ": the file is empty";
    return std::nullopt;
}

std::optional<std::string> HexFileFault(const std::string& path,
                                        const std::function<bool()>& stop) {
    if (auto fault = InputFileFault(path))
        return fault;
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && info.st_size > MaxHexFileBytes)
        return path + ": " + std::to_string(info.st_size) +
               " bytes, more than any firmware image takes as Intel HEX";
    TIntelHexFile file;
    if (!file.Open(path.c_str()))
        return path + ": cannot be read: " + systemReason(errno);
    const DWORD saved = GetLastError();
    std::uint32_t address;
    std::uint8_t length;
    std::uint8_t data[256];
    bool data_seen = false;
    for (unsigned records = 0; file.ReadRecord(&address, &length, data); ++records) {
        data_seen = data_seen || length > 0;
        if (stop && records % 1024 == 0 && stop()) {
            SetLastError(saved);
            return path + ": interrupted while it was read";
        }
    }
    const auto status = static_cast<std::int32_t>(GetLastError());
    SetLastError(saved);
    if (status != HexEndOfFile)
        return path + ": " + recordFault(status, file.LinesRead);
    if (!data_seen)
        return path + ": the file holds no data, only its end record";
    return std::nullopt;
}
