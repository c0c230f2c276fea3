#pragma once

#include "FolderLock.h"

#include <cstdint>
#include <memory>
#include <string>

namespace sim {

// A whole number, in the given base (0: decimal, or hexadecimal after 0x), without sign or
// blanks, at most max.
bool ParseWholeNumber(const std::string& text, int base, std::uint64_t max, std::uint64_t* value);

// The text without blanks (and a carriage return) at either end.
std::string TrimBlanks(const std::string& text);

// Takes a simulated network's folder for this process (made when missing, locked) and the
// text of its network.ini, written first with defaultText when there is none. False, with the
// reason in *error, when there is no folder, it is in use by another process, or the file
// cannot be read or written.
bool TakeNetworkFolder(const std::string& folder, const char* defaultText,
                       std::unique_ptr<FolderLock>* lock, std::string* text, std::string* path,
                       std::string* error);

} // namespace sim
