#include "IntelHexFile.h"

#include "LastError.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Value of each character as a hexadecimal digit, -1 for any other character.
constexpr std::array<std::int8_t, 256> makeHexDigits() {
    std::array<std::int8_t, 256> table{};
    for (auto& v : table)
        v = -1;
    for (int c = '0'; c <= '9'; ++c)
        table[static_cast<size_t>(c)] = static_cast<std::int8_t>(c - '0');
    for (int c = 'a'; c <= 'f'; ++c)
        table[static_cast<size_t>(c)] = static_cast<std::int8_t>(c - 'a' + 10);
    for (int c = 'A'; c <= 'F'; ++c)
        table[static_cast<size_t>(c)] = static_cast<std::int8_t>(c - 'A' + 10);
    return table;
}
constexpr auto hexDigits = makeHexDigits();

bool isTrailingBlank(char c) {
    return c == '\r' || c == '\n' || c == ' ' || c == '\t';
}

void fail(HexStatus status) {
    SetLastError(static_cast<DWORD>(status));
}

// The number of reads of at most LineBufferSize - 1 characters, each ending after a line
// end, that reach the end of the file, the failing read at the end included.
std::uint32_t countLineReads(std::FILE* file) {
    constexpr size_t perRead = TIntelHexFile::LineBufferSize - 1;
    std::fseek(file, 0, SEEK_SET);
    std::uint32_t reads = 1;
    size_t current = 0; // characters taken by the read under way
    char chunk[1 << 16];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        const char* p = chunk;
        const char* const end = chunk + got;
        while (p < end) {
            const auto* newline =
                static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
            const char* pieceEnd = newline ? newline + 1 : end;
            current += static_cast<size_t>(pieceEnd - p);
            if (newline) {
                reads += static_cast<std::uint32_t>((current + perRead - 1) / perRead);
                current = 0;
            } else {
                reads += static_cast<std::uint32_t>(current / perRead);
                current %= perRead;
            }
            p = pieceEnd;
        }
    }
    if (current > 0)
        ++reads; // a last line without a line end
    return reads;
}

} // namespace

TIntelHexFile::~TIntelHexFile() {
    if (File)
        std::fclose(File);
}

std::FILE* OpenRegularFile(const char* path) {
    // Opened without waiting (a FIFO would wait for a writer for ever), then taken only when
    // it is a regular file: a device or a FIFO never comes to an end.
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        errno = S_ISDIR(status.st_mode) ? EISDIR : EINVAL;
        return nullptr;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::FILE* file = ::fdopen(fd, "r");
    if (!file)
        ::close(fd);
    return file;
}

int TIntelHexFile::Open(const char* path) {
    if (File) {
        std::fclose(File);
        File = nullptr;
    }
    File = path ? OpenRegularFile(path) : nullptr;
    if (!File)
        return 0;
    LineCount = countLineReads(File);
    std::clearerr(File);
    std::fseek(File, 0, SEEK_SET);
    BaseAddress = 0;
    LinesRead = 0;
    Percent = 0;
    return 1;
}

int TIntelHexFile::ReadRecord(std::uint32_t* address, std::uint8_t* length, std::uint8_t* data) {
    if (!File) {
        fail(HexNoFile);
        return 0;
    }
    char line[LineBufferSize];
    // Bytes of one record: count, address (2), type, up to 255 data bytes, checksum.
    std::uint8_t bytes[260];
    for (;;) {
        ++LinesRead;
        Percent = static_cast<std::uint8_t>(static_cast<std::uint64_t>(LinesRead) * 100 /
                                            (LineCount ? LineCount : 1));
        // The stream belongs to this reader alone: no locking per line.
        if (!fgets_unlocked(line, sizeof line, File)) {
            // A file that simply stops (a copy or a transfer cut off at a line end) is
            // not a complete image: only the end-of-file record ends one.
            fail(std::feof(File) ? HexNoEndRecord : HexNoColon);
            return 0;
        }
        size_t n = std::strlen(line);
        while (n > 0 && isTrailingBlank(line[n - 1]))
            --n;
        if (n == 0 || line[0] != ':') {
            fail(HexNoColon);
            return 0;
        }
        const size_t digits = n - 1;
        if (digits % 2 != 0 || digits / 2 > sizeof bytes) {
            fail(HexBadLength);
            return 0;
        }
        const size_t count = digits / 2;
        const auto* text = reinterpret_cast<const unsigned char*>(line + 1);
        for (size_t i = 0; i < count; ++i) {
            const int hi = hexDigits[text[2 * i]];
            const int lo = hexDigits[text[2 * i + 1]];
            if ((hi | lo) < 0) {
                fail(HexBadDigit);
                return 0;
            }
            bytes[i] = static_cast<std::uint8_t>(hi << 4 | lo);
        }
        if (count < 5 || count != static_cast<size_t>(bytes[0]) + 5) {
            fail(HexBadLength);
            return 0;
        }
        std::uint8_t sum = 0;
        for (size_t i = 0; i < count; ++i)
            sum = static_cast<std::uint8_t>(sum + bytes[i]);
        if (sum != 0) {
            fail(HexBadChecksum);
            return 0;
        }

        const std::uint8_t byteCount = bytes[0];
        const std::uint32_t offset = static_cast<std::uint32_t>(bytes[1]) << 8 | bytes[2];
        const std::uint8_t* payload = bytes + 4;
        switch (bytes[3]) {
        case 0x00:
            *address = BaseAddress + offset;
            *length = byteCount;
            std::memcpy(data, payload, byteCount);
            return 1;
        case 0x01:
            fail(HexEndOfFile);
            return 0;
        case 0x02:
        case 0x04: {
            if (byteCount != 2) {
                fail(HexBadLength);
                return 0;
            }
            std::uint32_t value = static_cast<std::uint32_t>(payload[0]) << 8 | payload[1];
            BaseAddress = bytes[3] == 0x02 ? value * 16 : value << 16;
            break;
        }
        case 0x03:
        case 0x05:
            break; // start address: nothing to write
        default:
            fail(HexBadRecordType);
            return 0;
        }
    }
}

int TIntelHexFile::Rewind() {
    if (!File)
        return 0;
    BaseAddress = 0;
    LinesRead = 0;
    Percent = 0;
    std::clearerr(File);
    std::fseek(File, 0, SEEK_SET);
    return 1;
}

bool HexFileHoldsValidImage(TIntelHexFile& file, std::int32_t* status) {
    auto report = [status](std::int32_t code) {
        if (status)
            *status = code;
    };
    if (!file.Rewind()) {
        report(0);
        return false;
    }
    const DWORD saved = GetLastError();
    std::uint32_t address;
    std::uint8_t length;
    std::uint8_t data[256];
    std::uint64_t dataBytes = 0;
    while (file.ReadRecord(&address, &length, data))
        dataBytes += length;
    const auto code = static_cast<std::int32_t>(GetLastError());
    SetLastError(saved);
    file.Rewind();
    if (code != HexEndOfFile) {
        report(code);
        return false;
    }
    report(dataBytes > 0 ? HexEndOfFile : 0);
    return dataBytes > 0;
}

bool HexFileHoldsValidImage(const std::string& path, std::int32_t* status) {
    TIntelHexFile file;
    if (!file.Open(path.c_str())) {
        if (status)
            *status = 0;
        return false;
    }
    return HexFileHoldsValidImage(file, status);
}
