#pragma once

#include "CanOpen.h"

#include <cstdint>

namespace bus::canopen {

// SDO abort codes.
namespace SdoAbort {
constexpr std::uint32_t ToggleBit = 0x05030000;        // toggle bit not alternated
constexpr std::uint32_t Timeout = 0x05040000;          // SDO protocol timed out
constexpr std::uint32_t BadCommand = 0x05040001;       // command specifier not valid or unknown
constexpr std::uint32_t InvalidBlockSize = 0x05040002; // block transfer: block size 0 or > 127
constexpr std::uint32_t InvalidSequence = 0x05040003;  // block transfer: sequence number
constexpr std::uint32_t CrcError = 0x05040004;         // block transfer: the CRC does not match
constexpr std::uint32_t OutOfMemory = 0x05040005;
constexpr std::uint32_t UnsupportedAccess = 0x06010000;
constexpr std::uint32_t WriteOnly = 0x06010001; // attempt to read a write-only object
constexpr std::uint32_t ReadOnly = 0x06010002;  // attempt to write a read-only object
constexpr std::uint32_t NoObject = 0x06020000;  // object does not exist
constexpr std::uint32_t ParameterIncompatible = 0x06040043;
constexpr std::uint32_t InternalIncompatible = 0x06040047;
constexpr std::uint32_t HardwareError = 0x06060000;
constexpr std::uint32_t LengthMismatch = 0x06070010; // length of the parameter does not match
constexpr std::uint32_t LengthTooHigh = 0x06070012;
constexpr std::uint32_t LengthTooLow = 0x06070013;
constexpr std::uint32_t NoSubIndex = 0x06090011; // sub-index does not exist
constexpr std::uint32_t InvalidValue = 0x06090030;
constexpr std::uint32_t ValueTooHigh = 0x06090031;
constexpr std::uint32_t ValueTooLow = 0x06090032;
constexpr std::uint32_t General = 0x08000000;
constexpr std::uint32_t CannotStore = 0x08000020;      // cannot be transferred or stored
constexpr std::uint32_t CannotStoreLocal = 0x08000021; // ... because of local control
constexpr std::uint32_t CannotStoreState = 0x08000022; // ... in the present device state
constexpr std::uint32_t NoData = 0x08000024;
} // namespace SdoAbort

// The meaning of an abort code in words ("unknown abort code" for others).
const char* SdoAbortText(std::uint32_t code);

// The abort transfer frame: 80 idx idx sub, then the code, low byte first.
CanFrame SdoAbortFrame(std::uint16_t cobId, std::uint16_t index, std::uint8_t subIndex,
                       std::uint32_t code);

} // namespace bus::canopen
