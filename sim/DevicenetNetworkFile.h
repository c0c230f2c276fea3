#pragma once

#include "DevicenetNode.h"
#include "NetworkFile.h"

#include <string>
#include <vector>

namespace sim {

// The file that shapes a simulated DeviceNet network, network.ini in the network's folder:
// one section per node, "[node N]" with N its MAC ID (0 to 63), and these keys, each
// optional (the default in brackets):
//   vendor_id        Identity attribute 1, 0 to 65535              [1166]
//   device_type      attribute 2, 0 to 65535                       [12]
//   product_code     attribute 3, 0 to 0x7FFF (bit 15 tells download mode) [1]
//   serial_number    attribute 6                                   [0]
//   product_name     attribute 7, at most 32 characters  [Simulated DeviceNet Node]
//   sector_sizes     bytes per sector, comma-separated, 16 MiB together at most
//                    [196608,196608,196608,196608]
//   checksum_width   8 or 16                             [16]
//   checksum_window  bytes summed, 0 for the sector's size; given, at most the largest
//                    sector's size [196606]
//   password         download-mode password, hexadecimal [1A2B]
//   restart_ms       how long a Reset keeps the node off the bus, 0 to 2000 [1000]
//   sector_size_attribute  yes/no: the firmware object answers attribute 17 [yes]
//   duplicate_mac_check    yes/no: the node checks its MAC ID before it answers [yes]
//   factory_mode     application/download: the mode it leaves the factory in [application]
// and those every network has (see NetworkBehaviour): answer_delay_ms, and the [bus] section.
// The nodes' sectors add up to at most MaxNetworkFlash.
// Numbers are decimal or 0x-hexadecimal, but the password is hexadecimal always.
extern const char* const DefaultDevicenetNetwork;

// The nodes the text lists, and what it asks of the host (*behaviour, when given); false,
// with "<path>:<line>: what is wrong" in *error, for text that describes no valid network (a
// bad value, an unknown key, a node given twice, none).
bool ParseDevicenetNetwork(const std::string& text, const std::string& path,
                           std::vector<DevicenetNodeSettings>* nodes, NetworkBehaviour* behaviour,
                           std::string* error);
// The nodes alone.
bool ParseDevicenetNetwork(const std::string& text, const std::string& path,
                           std::vector<DevicenetNodeSettings>* nodes, std::string* error);

// A DeviceNet node as it leaves the factory: a loader in sector 0 and an application in
// sector 2 (the last sector of a smaller node), both with their checksums; it boots the
// application, and runs it or, in download mode, its loader.
void LeaveDevicenetFactory(FlashNode& node, NodeMode mode);

inline constexpr std::uint32_t MaxDevicenetRestartMilliseconds = 2000;

} // namespace sim
