#pragma once

#include "FlashNode.h"

#include <string>

namespace sim {

// module.ini as the module writes it on first use.
extern const char* const DefaultVarnixModuleSettings;

// The module's settings from the text of its module.ini (at path, for the messages), each
// "key=value" on a line of its own; blank lines and lines starting with # are comments:
//   hardware_version = 1 or 2 (images for hardware version 2 start at address 0x28000)
//   password         = download-mode password, hexadecimal, 0x allowed (1A2B)
//   restart_ms       = how long a restart keeps the module off the link (1000; 0 to 1500)
//   serial_number, device_type, product_code, vendor_id: decimal, or hexadecimal after 0x
//   product_name
// A value out of its range keeps its default. That, and every line that is no setting of the
// module (a key it does not have, a key given again, a line without '=', a section header),
// gets a line on standard error: "zandrel: <path>:<line>: what".
FlashNodeSettings ReadVarnixModuleSettings(const std::string& text, const std::string& path);

} // namespace sim
