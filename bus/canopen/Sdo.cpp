#include "Sdo.h"

namespace bus::canopen {

const char* SdoAbortText(std::uint32_t code) {
    switch (code) {
    case SdoAbort::ToggleBit:
        return "toggle bit not alternated";
    case SdoAbort::Timeout:
        return "SDO protocol timed out";
    case SdoAbort::BadCommand:
        return "client/server command specifier not valid or unknown";
    case SdoAbort::InvalidBlockSize:
        return "invalid block size";
    case SdoAbort::InvalidSequence:
        return "invalid sequence number";
    case SdoAbort::CrcError:
        return "CRC error";
    case SdoAbort::OutOfMemory:
        return "out of memory";
    case SdoAbort::UnsupportedAccess:
        return "unsupported access to an object";
    case SdoAbort::WriteOnly:
        return "attempt to read a write only object";
    case SdoAbort::ReadOnly:
        return "attempt to write a read only object";
    case SdoAbort::NoObject:
        return "object does not exist in the object dictionary";
    case SdoAbort::ParameterIncompatible:
        return "general parameter incompatibility";
    case SdoAbort::InternalIncompatible:
        return "general internal incompatibility in the device";
    case SdoAbort::HardwareError:
        return "access failed due to a hardware error";
    case SdoAbort::LengthMismatch:
        return "data type does not match, length of service parameter does not match";
    case SdoAbort::LengthTooHigh:
        return "data type does not match, length of service parameter too high";
    case SdoAbort::LengthTooLow:
        return "data type does not match, length of service parameter too low";
    case SdoAbort::NoSubIndex:
        return "sub-index does not exist";
    case SdoAbort::InvalidValue:
        return "invalid value for parameter";
    case SdoAbort::ValueTooHigh:
        return "value of parameter written too high";
    case SdoAbort::ValueTooLow:
        return "value of parameter written too low";
    case SdoAbort::General:
        return "general error";
    case SdoAbort::CannotStore:
        return "data cannot be transferred or stored to the application";
    case SdoAbort::CannotStoreLocal:
        return "data cannot be transferred or stored to the application because of local "
               "control";
    case SdoAbort::CannotStoreState:
        return "data cannot be transferred or stored to the application because of the "
               "present device state";
    case SdoAbort::NoData:
        return "no data available";
    default:
        return "unknown abort code";
    }
}

CanFrame SdoAbortFrame(std::uint16_t cobId, std::uint16_t index, std::uint8_t subIndex,
                       std::uint32_t code) {
    return CanFrame::Data(
        cobId, {0x80, static_cast<std::uint8_t>(index), static_cast<std::uint8_t>(index >> 8),
                subIndex, static_cast<std::uint8_t>(code), static_cast<std::uint8_t>(code >> 8),
                static_cast<std::uint8_t>(code >> 16), static_cast<std::uint8_t>(code >> 24)});
}

} // namespace bus::canopen
