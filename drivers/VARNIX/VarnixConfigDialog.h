#pragma once

#include "InterfaceRecord.h"

// Lets the user choose how the PC reaches the VARNIX module: USB, or an RS-232 COM port
// with its bit rate. True when the user accepted; *record then describes the choice.
bool ShowVarnixConfigDialog(InterfaceRecord* record);

// The records the dialog writes for each choice.
InterfaceRecord VarnixUsbRecord();
InterfaceRecord VarnixSerialRecord(std::uint32_t comPort, std::uint32_t bitRate);

inline constexpr std::uint32_t VarnixInterfaceType = 0x08000001;
