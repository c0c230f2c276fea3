#pragma once

#include <cstdint>

namespace sim {

// The objects a simulated CANopen node has beyond the communication profile.
enum class CanopenProfile : std::uint8_t {
    Firmware,        // the firmware loader's sectors, 0x3600 to 0x3611
    ProgramDownload, // CiA 302-3 program download: 0x1F50, 0x1F51, 0x1F56, 0x1F57
};

// What a CiA 302-3 node reports in bits 1 to 7 of a program's flash status (0x1F57).
enum class FlashStatusError : std::uint8_t {
    None = 0,
    NoValidProgram = 1,
    DataFormatUnknown = 2,
    DataFormatError = 3,
    FlashNotCleared = 4,
    FlashWriteError = 5,
    GeneralAddressError = 6,
    FlashSecured = 7,
    Unspecified = 63,
};

inline constexpr std::uint8_t MaxPrograms = 8;
// The most bytes a program may hold: what one segmented SDO download brings.
inline constexpr std::uint32_t MaxProgramSize = 1u << 20;
inline constexpr std::uint32_t DefaultProgramSize = 256u * 1024;
inline constexpr std::uint32_t MaxFlashMillisecondsPerKib = 1000;

// The programs of a CiA 302-3 node.
struct ProgramSettings {
    std::uint8_t count = 1;                  // programs 1 to count
    std::uint32_t size = DefaultProgramSize; // the room of each, bytes
    // How long the node flashes after a program is written, per KiB of it.
    std::uint32_t flashMillisecondsPerKib = 2;
    // The error the node reports for its next program write instead of storing the program;
    // None: every write succeeds.
    FlashStatusError fault = FlashStatusError::None;
    // Whether the SDO server answers a block download or upload, and the segments it takes
    // in one sub-block of a block download (1 to 127).
    bool blockTransfer = true;
    std::uint8_t blockSize = 127;
    // Whether the node tells each program's room in its manufacturer object (ProgramRoomIndex).
    bool roomObject = true;
    // What 0x1F56 reports for a program held: its CRC-32, or this fixed value (a node that
    // identifies its programs otherwise, or by 0).
    bool identifiesByCrc = true;
    std::uint32_t identification = 0;
};

// The manufacturer object of the simulated 302-3 node that tells the room of program p, in
// bytes, at sub-index p (UNSIGNED32, read only; sub-index 0: the number of programs).
inline constexpr std::uint16_t ProgramRoomIndex = 0x2F50;

} // namespace sim
