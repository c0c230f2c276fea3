#include "CopnErrors.h"

#include "canopen/Sdo.h"

#include <cstring>

namespace copn {

const char* ErrorText(std::uint32_t code) {
    switch (code) {
    case 0:
        return "no error";
    case ErrorWrongMode:
        return "interface not in correct mode";
    case ErrorCannotOpen:
        return "interface cannot be opened";
    default:
        break;
    }
    const char* text = bus::canopen::SdoAbortText(code);
    return std::strcmp(text, "unknown abort code") == 0 ? nullptr : text;
}

} // namespace copn
