#pragma once

#include "FixedText.h"

#include <cstddef>
#include <cstdint>
#include <string>

// The 300-byte record that describes the PC's interface to the bus. The driver library
// fills and stores it; the program shows the fields named here. The first word and the
// reserved bytes mean what the driver library makes of them.
struct InterfaceConfigRecord {
    std::uint32_t InterfaceType;
    std::uint32_t Port;    // I/O port of an interface card, 0 = none
    std::uint32_t Irq;     // interrupt of the card, 0 = none
    std::uint32_t ComPort; // serial COM port number, 0 = none
    std::uint32_t ComBaud; // serial bit rate, 0 = none
    std::uint8_t Reserved[24];
    char AccessPoint[256]; // access-point name, empty = none

    std::string AccessPointText() const { return FixedFieldText(AccessPoint); }
};

static_assert(sizeof(InterfaceConfigRecord) == 300);
static_assert(offsetof(InterfaceConfigRecord, Port) == 4);
static_assert(offsetof(InterfaceConfigRecord, Irq) == 8);
static_assert(offsetof(InterfaceConfigRecord, ComPort) == 12);
static_assert(offsetof(InterfaceConfigRecord, ComBaud) == 16);
static_assert(offsetof(InterfaceConfigRecord, AccessPoint) == 44);
