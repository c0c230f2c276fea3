#pragma once

#include "StorageSteps.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace sim {

// Who may read and write a file that is made.
enum class FileAccess {
    AsUmaskAllows, // read and write for all that the process's umask leaves
    OwnerOnly,     // 0600: the file holds passwords
};

// Replaces the file whole: the bytes go to a new file of a unique name beside it
// ("<file>.zandrel-tmp-XXXXXX", see LeftoverTemporaryOf), made
// exclusively and flushed to the disk, which is then renamed over the old one and the folder
// flushed, so that a reader, and the next start after a crash, sees either the old contents
// or the new. False when any step failed; the old file is then untouched.
bool WriteFileReplacing(const std::string& path, const void* data, std::size_t size,
                        FileAccess access = FileAccess::AsUmaskAllows);

// As WriteFileReplacing, for a file of size bytes in which runs of zero bytes stay holes:
// a file of zeros costs no disk.
bool WriteSparseFileReplacing(const std::string& path, const std::uint8_t* data, std::size_t size);

// The file a temporary left by a replacement cut short was for: "node.state" for
// "node.state.zandrel-tmp-Ab12Cd"; "" for a name that is no such temporary.
std::string LeftoverTemporaryOf(const std::string& name);
// Removes the temporaries in the folder that replacements of the files named by ours left.
void RemoveLeftoverTemporaries(const std::string& folder, bool (*ours)(const std::string& file));

// Writes size bytes at offset of an open file (no flush).
bool WriteAt(int fd, std::uint64_t offset, const void* data, std::size_t size);
// Flushes an open file's data to the disk.
bool SyncFile(int fd);

// What reading a file found.
enum class FileRead {
    Read,       // the bytes are the file's
    Missing,    // there is no such file
    TooLarge,   // it holds more than was asked for; nothing of it is read
    Unreadable, // it cannot be opened or read, or is no regular file; a problem of the
                // system, not of the contents
};
// Reads a regular file of at most maxSize bytes whole; its size is checked before anything is
// read. *problem is set for TooLarge ("holds N bytes, more than M") and Unreadable (the
// system's error text).
FileRead ReadWholeFile(const std::string& path, std::uint64_t maxSize,
                       std::vector<std::uint8_t>* bytes, std::string* problem);

// The most a node.state, module.ini or network.ini may hold.
inline constexpr std::uint64_t MaxTextFileSize = 256 * 1024;

// A line of a "key=value" text that is neither blank nor a comment (a line starting with '#').
struct KeyValueLine {
    int number = 0;         // from 1
    bool hasEquals = false; // else key and value are empty
    std::string key;        // without blanks at its ends
    std::string value;      // without blanks at its ends
    std::string text;       // the line, without blanks at its ends
};
std::vector<KeyValueLine> ReadKeyValueLines(const std::string& text);

// "key=value" lines, a key given twice taking its later value; blank lines, comments and
// lines without '=' are skipped.
std::map<std::string, std::string> ParseKeyValues(const std::string& text);

// Makes the folder and those above it that are missing, each for its owner alone (0700), as
// data folders are made.
bool MakeFolders(const std::string& path);

} // namespace sim
