#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

// The 300-byte interface record as a driver library receives it from the program. The
// fields the program shows sit at fixed offsets; the rest is the driver's.
struct InterfaceRecord {
    std::uint32_t interfaceType;
    std::uint32_t port;
    std::uint32_t irq;
    std::uint32_t comPort;
    std::uint32_t comBaud;
    std::uint8_t driverOwn[24];
    char accessPoint[256];

    std::string AccessPoint() const { return std::string(accessPoint, strnlen(accessPoint, 256)); }
    // At most 255 bytes of the name (UTF-8): a longer one is cut before the character that
    // does not fit whole.
    void SetAccessPoint(const std::string& name) {
        std::memset(accessPoint, 0, sizeof accessPoint);
        std::size_t n = std::min<std::size_t>(name.size(), 255);
        while (n < name.size() && n > 0 && (static_cast<unsigned char>(name[n]) & 0xC0) == 0x80)
            --n;
        std::memcpy(accessPoint, name.data(), n);
    }
};
static_assert(sizeof(InterfaceRecord) == 300);
static_assert(offsetof(InterfaceRecord, comPort) == 12);
static_assert(offsetof(InterfaceRecord, accessPoint) == 44);
