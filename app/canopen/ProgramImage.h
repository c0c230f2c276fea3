#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The bytes a node's program area is written with: the file's own bytes for a raw binary,
// or, for an Intel HEX file, the contiguous binary its records describe, from its lowest
// address to its highest, with the gaps between records filled with 0xFF (erased flash).
struct ProgramImage {
    std::vector<std::uint8_t> bytes;
    std::uint32_t firstAddress = 0; // HEX: the address of bytes[0]; raw: 0
    bool fromHex = false;
    std::uint32_t crc = 0; // ProgramCrc32 of bytes
};

// The largest image read: more is refused before memory is taken for it.
inline constexpr std::size_t MaxProgramImageSize = 16u << 20;

// Reads the file at path. A file named *.bin is raw; any other file whose first byte is ':'
// is Intel HEX and must read soundly to its end record (a broken HEX file is refused, never
// written as raw bytes). HEX records that write one address twice with different bytes are
// refused, as is an image larger than maxSize or an empty one. False with a message for
// the user in *error.
bool ReadProgramImage(const std::string& path, ProgramImage* image, std::string* error,
                      std::size_t maxSize = MaxProgramImageSize);

// CRC-32 as Ethernet and zip compute it (polynomial 0x04C11DB7 reflected, initial value and
// final XOR 0xFFFFFFFF): the software identification a node reports for a program.
std::uint32_t ProgramCrc32(const std::uint8_t* data, std::size_t size);

// A 32-bit value as the program shows CRCs and identifications: "0x3FB75B71".
std::string Hex32Text(std::uint32_t value);
