#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace sim {

// Replaces the file whole: the bytes go to a new file beside it, which is then renamed over
// the old one, so that a reader sees either the old contents or the new.
bool WriteFileReplacing(const std::string& path, const void* data, std::size_t size);
bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>* bytes);

// "key=value" lines; blank lines and lines starting with '#' are comments.
std::map<std::string, std::string> ParseKeyValues(const std::string& text);

bool MakeFolders(const std::string& path);

} // namespace sim
