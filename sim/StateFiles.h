#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace sim {

// Replaces the file whole: the bytes go to a new file of a unique name beside it, made
// exclusively and flushed to the disk, which is then renamed over the old one and the folder
// flushed, so that a reader, and the next start after a crash, sees either the old contents
// or the new. False when any step failed; the old file is then untouched.
bool WriteFileReplacing(const std::string& path, const void* data, std::size_t size);
bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>* bytes);

// "key=value" lines; blank lines and lines starting with '#' are comments.
std::map<std::string, std::string> ParseKeyValues(const std::string& text);

bool MakeFolders(const std::string& path);

} // namespace sim
