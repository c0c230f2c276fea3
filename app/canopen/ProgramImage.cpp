#include "ProgramImage.h"

#include "InputFileFault.h"
#include "IntelHexFile.h"
#include "LastError.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <strings.h>

namespace {

bool endsWith(const std::string& text, const char* suffix) {
    const std::string tail(suffix);
    return text.size() >= tail.size() &&
           strcasecmp(text.c_str() + text.size() - tail.size(), tail.c_str()) == 0;
}

std::string hexStatusText(std::int32_t status) {
    switch (status) {
    case HexNoEndRecord:
        return "the file ends without its end record";
    case HexNoColon:
        return "a line does not begin with ':'";
    case HexBadDigit:
        return "a line holds a character that is no hexadecimal digit";
    case HexBadLength:
        return "a record's length does not match its digits";
    case HexBadChecksum:
        return "a record's checksum is wrong";
    case HexBadRecordType:
        return "a record has an unknown type";
    default:
        return "it cannot be read";
    }
}

// Reads every data record of an open HEX file; false with the reader's status on a fault.
template <typename EachRecord>
bool readRecords(TIntelHexFile& file, std::int32_t* status, EachRecord each) {
    std::uint32_t address = 0;
    std::uint8_t length = 0;
    std::array<std::uint8_t, 256> data{};
    SetLastError(0);
    while (file.ReadRecord(&address, &length, data.data()))
        if (!each(address, length, data.data()))
            return false;
    *status = static_cast<std::int32_t>(GetLastError());
    return *status == HexEndOfFile;
}

bool readHex(const std::string& path, ProgramImage* image, std::string* error,
             std::size_t maxSize) {
    TIntelHexFile file;
    if (!file.Open(path.c_str())) {
        *error = "The file " + path + " cannot be read.";
        return false;
    }
    // First pass: the span of the records, so that nothing is taken before it is known.
    std::uint64_t lowest = UINT64_MAX, highest = 0;
    std::int32_t status = 0;
    if (!readRecords(
            file, &status, [&](std::uint32_t address, std::uint8_t length, const std::uint8_t*) {
                if (length == 0)
                    return true;
                lowest = std::min<std::uint64_t>(lowest, address);
                highest = std::max<std::uint64_t>(highest, std::uint64_t{address} + length);
                return true;
            })) {
        *error = "The Intel HEX file " + path + " is not sound: " + hexStatusText(status) + ".";
        return false;
    }
    if (lowest == UINT64_MAX) {
        *error = "The Intel HEX file " + path + " holds no data.";
        return false;
    }
    if (highest - lowest > maxSize) {
        *error = "The Intel HEX file " + path + " spans " + std::to_string(highest - lowest) +
                 " bytes, more than the " + std::to_string(maxSize) + " a program may have.";
        return false;
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(highest - lowest), 0xFF);
    std::vector<bool> written(bytes.size(), false);
    std::uint32_t twice = 0;
    bool conflict = false;
    file.Rewind();
    if (!readRecords(file, &status,
                     [&](std::uint32_t address, std::uint8_t length, const std::uint8_t* data) {
                         const std::size_t at = address - lowest;
                         for (std::size_t i = 0; i < length; ++i) {
                             if (written[at + i] && bytes[at + i] != data[i]) {
                                 twice = static_cast<std::uint32_t>(address + i);
                                 conflict = true;
                                 return false;
                             }
                             bytes[at + i] = data[i];
                             written[at + i] = true;
                         }
                         return true;
                     })) {
        const std::string where = Hex32Text(twice);
        *error = conflict ? "The Intel HEX file " + path + " writes address " + where +
                                " twice with different bytes."
                          : "The Intel HEX file " + path + " changed while it was read.";
        return false;
    }
    image->bytes = std::move(bytes);
    image->firstAddress = static_cast<std::uint32_t>(lowest);
    image->fromHex = true;
    return true;
}

bool readRaw(const std::string& path, ProgramImage* image, std::string* error,
             std::size_t maxSize) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) {
        *error = "The file " + path + " cannot be read.";
        return false;
    }
    const std::streamoff size = in.tellg();
    if (size < 0) {
        *error = "The file " + path + " cannot be read.";
        return false;
    }
    if (static_cast<std::uint64_t>(size) > maxSize) {
        *error = "The file " + path + " holds " + std::to_string(size) + " bytes, more than the " +
                 std::to_string(maxSize) + " a program may have.";
        return false;
    }
    if (size == 0) {
        *error = "The file " + path + " is empty.";
        return false;
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    in.seekg(0);
    if (!in.read(reinterpret_cast<char*>(bytes.data()), size)) {
        *error = "The file " + path + " cannot be read.";
        return false;
    }
    image->bytes = std::move(bytes);
    image->firstAddress = 0;
    image->fromHex = false;
    return true;
}

bool startsWithColon(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char first = 0;
    return in.get(first) && first == ':';
}

} // namespace

bool ReadProgramImage(const std::string& path, ProgramImage* image, std::string* error,
                      std::size_t maxSize) {
    if (auto fault = InputFileFault(path)) {
        if (error)
            *error = *fault;
        return false;
    }
    std::string message;
    ProgramImage read;
    const bool hex = !endsWith(path, ".bin") && startsWithColon(path);
    const DWORD callersError = GetLastError(); // the HEX reader reports through it
    const bool ok =
        hex ? readHex(path, &read, &message, maxSize) : readRaw(path, &read, &message, maxSize);
    SetLastError(callersError);
    if (!ok) {
        if (error)
            *error = message;
        return false;
    }
    read.crc = ProgramCrc32(read.bytes.data(), read.bytes.size());
    if (image)
        *image = std::move(read);
    return true;
}

std::uint32_t ProgramCrc32(const std::uint8_t* data, std::size_t size) {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i)
        crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

std::string Hex32Text(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
    return text;
}
