#pragma once

#include <functional>
#include <optional>
#include <string>

// Why the file at path cannot be taken as input, in words that name the file and the fault:
// it does not exist, is a directory or no regular file (a FIFO or a device would never
// end), may not be read (with the system's reason), or is empty. Nothing when it can be read.
// Nothing is waited for: a FIFO is not opened.
std::optional<std::string> InputFileFault(const std::string& path);

// The same, then the file read through as a firmware download reads it: the first record
// that is not sound (with its line), a file without its end record, a file without data. A
// HEX file larger than MaxHexFileBytes is refused unread; stop, when given, is asked now and
// then and ends the reading ("interrupted").
std::optional<std::string> HexFileFault(const std::string& path,
                                        const std::function<bool()>& stop = {});

// More than any node's image takes as Intel HEX (16 MiB written 16 bytes a line).
inline constexpr long long MaxHexFileBytes = 64ll << 20;
