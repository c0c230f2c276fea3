// The Intel HEX reader on a whole file of any bytes.
//
// Promises checked, against a reading of the same bytes done here line by line:
// - every record delivered is sound (a colon, hexadecimal digits, its byte count, its
//   checksum) and delivered with its absolute address (the base of the last 02 or 04
//   record plus its offset) and its bytes; nothing is delivered from a line that is not;
// - the reading stops at the first fault with the status code that names it, at the
//   end-of-file record with HexEndOfFile, and at the end of a file without one with
//   HexNoEndRecord, having then made exactly LineCount line reads;
// - Percent stays within 0..100 and never goes back;
// - HexFileHoldsValidImage says yes exactly when the file is sound up to its end-of-file
//   record and holds a data byte, leaves the caller's last-error value as it was, and rewinds
//   the file: a second reading delivers the same records.
//
// Input: the file's bytes.

#include "FuzzCheck.h"
#include "FuzzInput.h"
#include "IntelHexFile.h"
#include "LastError.h"

#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct Record {
    std::uint32_t address;
    std::vector<std::uint8_t> bytes;
    bool operator==(const Record&) const = default;
};

struct Reading {
    std::vector<Record> records;
    std::int32_t status = 0;
};

int digit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The file as the reader's documentation says it is read: lines of at most LineBufferSize - 1
// characters (a longer line is read in pieces), each up to its first NUL, trailing blanks
// dropped.
Reading expectedReading(const std::string& file) {
    Reading reading;
    std::uint32_t base = 0;
    std::size_t at = 0;
    const std::size_t piece = TIntelHexFile::LineBufferSize - 1;
    for (;;) {
        if (at >= file.size()) {
            reading.status = HexNoEndRecord;
            return reading;
        }
        std::size_t end = file.find('\n', at);
        end = end == std::string::npos ? file.size() : end + 1;
        end = std::min(end, at + piece);
        std::string line = file.substr(at, end - at);
        at = end;
        line = line.substr(0, line.find('\0'));
        while (!line.empty() && std::strchr("\r\n \t", line.back()))
            line.pop_back();
        if (line.empty() || line[0] != ':') {
            reading.status = HexNoColon;
            return reading;
        }
        const std::string digits = line.substr(1);
        if (digits.size() % 2 != 0 || digits.size() / 2 > 260) {
            reading.status = HexBadLength;
            return reading;
        }
        std::vector<std::uint8_t> bytes;
        for (std::size_t i = 0; i < digits.size(); i += 2) {
            const int hi = digit(digits[i]);
            const int lo = digit(digits[i + 1]);
            if (hi < 0 || lo < 0) {
                reading.status = HexBadDigit;
                return reading;
            }
            bytes.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
        }
        if (bytes.size() < 5 || bytes.size() != bytes[0] + 5u) {
            reading.status = HexBadLength;
            return reading;
        }
        unsigned sum = 0;
        for (std::uint8_t b : bytes)
            sum += b;
        if (sum % 256 != 0) {
            reading.status = HexBadChecksum;
            return reading;
        }
        const std::uint32_t offset = bytes[1] * 256u + bytes[2];
        const std::vector<std::uint8_t> payload(bytes.begin() + 4, bytes.end() - 1);
        switch (bytes[3]) {
        case 0:
            reading.records.push_back({base + offset, payload});
            break;
        case 1:
            reading.status = HexEndOfFile;
            return reading;
        case 2:
        case 4:
            if (payload.size() != 2) {
                reading.status = HexBadLength;
                return reading;
            }
            base = (payload[0] * 256u + payload[1]) << (bytes[3] == 2 ? 4 : 16);
            break;
        case 3:
        case 5:
            break;
        default:
            reading.status = HexBadRecordType;
            return reading;
        }
    }
}

Reading read(TIntelHexFile& hex) {
    Reading reading;
    std::uint32_t address = 0;
    std::uint8_t length = 0;
    std::uint8_t data[256];
    std::uint8_t percent = hex.Percent;
    while (hex.ReadRecord(&address, &length, data)) {
        reading.records.push_back({address, {data, data + length}});
        FUZZ_CHECK(hex.Percent <= 100 && hex.Percent >= percent,
                   "progress stays within 0..100 and never goes back");
        percent = hex.Percent;
    }
    FUZZ_CHECK(hex.Percent <= 100 && hex.Percent >= percent,
               "progress stays within 0..100 and never goes back");
    reading.status = static_cast<std::int32_t>(GetLastError());
    return reading;
}

std::string scratchFile() {
    const char* dir = std::getenv("TMPDIR");
    std::string folder = dir && *dir ? dir : (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
    return folder + "/zandrel-fuzz-hex-" + std::to_string(getpid()) + ".hex";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = scratchFile();
    std::FILE* out = std::fopen(path.c_str(), "wb");
    FUZZ_CHECK(out, "the scratch file can be written");
    if (size)
        std::fwrite(data, 1, size, out);
    std::fclose(out);

    const Reading expected =
        expectedReading(std::string(reinterpret_cast<const char*>(data), size));

    TIntelHexFile hex;
    FUZZ_CHECK(hex.Open(path.c_str()) == 1, "an existing file opens");
    const Reading first = read(hex);
    FUZZ_CHECK(first.status == expected.status,
               "the reading stops where the file says, as it says");
    FUZZ_CHECK(first.records == expected.records,
               "the records delivered are the file's sound data records, at their addresses");
    if (first.status == HexNoEndRecord)
        FUZZ_CHECK(hex.LinesRead == hex.LineCount, "a file read to its end took LineCount reads");

    std::uint64_t dataBytes = 0;
    for (const Record& r : expected.records)
        dataBytes += r.bytes.size();
    const bool valid = expected.status == HexEndOfFile && dataBytes > 0;
    SetLastError(12345);
    std::int32_t status = 1;
    FUZZ_CHECK(HexFileHoldsValidImage(hex, &status) == valid,
               "a file is a valid image when it is sound up to its end record and holds data");
    FUZZ_CHECK(GetLastError() == 12345, "the check leaves the last-error value as it was");
    FUZZ_CHECK(status == (expected.status == HexEndOfFile && !valid ? 0 : expected.status),
               "the check says why a file is no image");
    FUZZ_CHECK(hex.Percent == 0 && hex.LinesRead == 0, "the check rewinds the file");
    const Reading second = read(hex);
    FUZZ_CHECK(second.records == first.records && second.status == first.status,
               "a rewound file reads the same again");
    return 0;
}
