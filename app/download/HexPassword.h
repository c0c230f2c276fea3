#pragma once

#include <cstdint>
#include <string>

// The download-mode password as the user types it: hexadecimal, leading blanks skipped, an
// optional "0x" prefix, digits up to the first other character; the low 32 bits are kept.
// Text without a hexadecimal digit gives 0.
std::uint32_t ParseHexPassword(const std::string& text);
