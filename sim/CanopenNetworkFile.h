#pragma once

#include "CanopenNode.h"
#include "NetworkFile.h"

#include <string>
#include <vector>

namespace sim {

// The file that shapes a simulated CANopen network, network.ini in the network's folder:
// one section per node, "[node N]" with N its node-ID (1 to 127), and these keys, each
// optional (the default in brackets):
//   device_type      0x1000, decimal or 0x-hexadecimal   [0x00000191]
//   device_name      0x1008                              [Simulated CANopen Node]
//   hardware_version 0x1009                              [Rev A]
//   vendor_id, product_code, revision_number, serial_number   0x1018:01 to :04
//   sector_sizes     bytes per sector, comma-separated, 16 MiB together at most
//                    [196608,196608,196608,196608]
//   checksum_width   8 or 16                             [16]
//   checksum_window  bytes summed, 0 for the sector's size; given, at most the largest
//                    sector's size [196606]
//   password         download-mode password, hexadecimal [1A2B]
//   restart_ms       how long a Reset Node keeps the node off the bus, 0 to 2000 [1000]
//   heartbeat_ms     the producer heartbeat time at boot-up (0x1017), 0 to 65535 [0: none];
//                    while it is not 0 the node answers no guard request
//   guarding         yes/no: answers guard requests, has 0x100C and 0x100D [yes]
//   size_indicated   yes/no: expedited upload answers state their size [yes]
//   profile          firmware: the firmware loader's objects (CanopenNode); 302-3: CiA 302-3
//                    program download (ProgramNode) [firmware]. Given before the keys of its
//                    profile; a 302-3 node takes none of sector_sizes, checksum_width,
//                    checksum_window and password, and has one sector per program.
// and for a 302-3 node (see ProgramSettings):
//   programs         1 to 8 [1]
//   program_size     the room of each program, bytes, 1 to MaxProgramSize [262144]
//   flash_ms_per_kib how long flashing a written program takes per KiB, 0 to 1000 [2]
//   program_fault    none, data_format_unknown, data_format_error, flash_write_error,
//                    general_address_error, flash_secured or unspecified: the error the
//                    node's first program write reports [none]
//   block_transfer   yes/no: the node serves SDO block transfers [yes]
//   block_size       segments in one sub-block of a block download, 1 to 127 [127]
// and those every network has (see NetworkBehaviour): answer_delay_ms, and the [bus] section.
// The nodes' sectors add up to at most MaxNetworkFlash.
extern const char* const DefaultCanopenNetwork;

// The nodes the text lists, and what it asks of the host (*behaviour, when given); false,
// with "<path>:<line>: what is wrong" in *error, for text that describes no valid network (a
// bad value, an unknown key, a node given twice, none).
bool ParseCanopenNetwork(const std::string& text, const std::string& path,
                         std::vector<CanopenNodeSettings>* nodes, NetworkBehaviour* behaviour,
                         std::string* error);
// The nodes alone.
bool ParseCanopenNetwork(const std::string& text, const std::string& path,
                         std::vector<CanopenNodeSettings>* nodes, std::string* error);

// A CANopen node as it leaves the factory, as its profile has it: LeaveCanopenFactory, or
// LeaveProgramFactory (a program in program 1).
void LeaveFactoryAs(CanopenProfile profile, FlashNode& node);

// A CANopen node of the firmware profile as it leaves the factory: a loader in sector 0 and an
// application in sector 2 (the last sector of a smaller node), both with their checksums; it runs
// the application.
void LeaveCanopenFactory(FlashNode& node);

inline constexpr std::uint32_t MaxCanopenRestartMilliseconds = 2000;

} // namespace sim
