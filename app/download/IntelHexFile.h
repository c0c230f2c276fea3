#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// Status codes a failing ReadRecord leaves in the calling thread's last-error value.
enum HexStatus : std::int32_t {
    HexEndOfFile = -1,     // the end-of-file record was read: the image is complete
    HexNoEndRecord = -2,   // the file ends without an end-of-file record: cut short
    HexNoFile = -3,        // no file is open
    HexNoColon = -4,       // the line does not begin with ':' (a blank line, say)
    HexBadDigit = -5,      // a character that is not a hexadecimal digit
    HexBadLength = -6,     // the digits do not match the record's byte count
    HexBadChecksum = -7,   // the record's checksum byte does not match its bytes
    HexBadRecordType = -8, // a record type the reader does not know
};

// Reads a firmware image in Intel HEX format one data record at a time, never holding the
// whole image. Every record is checked (hexadecimal digits, byte count, checksum) before it
// is used; address records (02, 04) set the base address, start-address records (03, 05)
// are skipped.
class TIntelHexFile {
public:
    TIntelHexFile() = default;
    ~TIntelHexFile();
    TIntelHexFile(const TIntelHexFile&) = delete;
    TIntelHexFile& operator=(const TIntelHexFile&) = delete;

    // Opens the file and counts its lines; 1 on success, 0 when it cannot be read.
    int Open(const char* path);

    // Delivers the next data record: its absolute address, its length and its bytes (data
    // holds at least 255 bytes). Nonzero when a record was delivered; 0 at the end of the
    // file or on an error, with the status code in the thread's last-error value.
    int ReadRecord(std::uint32_t* address, std::uint8_t* length, std::uint8_t* data);

    // Back to the start of the file; 0 when no file is open.
    int Rewind();

    std::uint32_t BaseAddress = 0;
    std::FILE* File = nullptr;
    std::uint8_t Percent = 0;    // progress through the file, 0..100
    std::uint32_t LineCount = 0; // line reads needed to reach the end (lines + 1)
    std::uint32_t LinesRead = 0; // line reads since Open or Rewind

    // A line is read whole up to this many characters: a record of 255 data bytes with a
    // CRLF and some trailing blanks fits comfortably.
    static constexpr int LineBufferSize = 1024;
};

// Opens a regular file for reading; null (with errno) when it cannot be opened or is no
// regular file (a directory, a FIFO, a device).
std::FILE* OpenRegularFile(const char* path);

// Reads the open file through as a download would, then rewinds it: true when every record
// is sound up to its end-of-file record and it holds at least one data byte. Otherwise
// false, with the status code (or 0 when no file is open or it held no data) in *status
// when given. The caller's last-error value is left as it was.
bool HexFileHoldsValidImage(TIntelHexFile& file, std::int32_t* status = nullptr);

// The same check for the file at path, opened for the purpose.
bool HexFileHoldsValidImage(const std::string& path, std::int32_t* status = nullptr);
