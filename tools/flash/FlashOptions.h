#pragma once

#include "NodeType.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What one run of zandrel-flash is asked to do, read from its command line.
enum class FlashCommand { List, Sectors, Update, Erase, Write, Boot, Execute, Reset, Program };

// The interface a CAN driver reaches its bus through, when the command line names one.
struct InterfaceChoice {
    enum Kind { Simulated, SocketCan, VirtualCan } kind = Simulated;
    std::string accessPoint; // "can0", "tcp://localhost:35468"; empty for the simulated network
};

struct FlashOptions {
    FlashCommand command = FlashCommand::List;
    TNodeType bus = NodeTypeNone;
    std::optional<InterfaceChoice> interface;
    std::optional<std::uint32_t> bitRate;
    std::optional<std::uint8_t> ownId;
    std::vector<std::uint8_t> nodes;
    std::optional<std::uint8_t> sector;
    std::uint8_t program = 1;            // program: the sub-index of 0x1F50 written
    std::optional<std::string> password; // as typed: hexadecimal
    std::string file;
    std::optional<std::string> json; // a file name, or "-" for standard output
    bool yes = false;
    bool force = false; // answer the image checks Yes
    // update: how often a node's update is made again after a failure of the node or the bus
    unsigned retries = 0;
    bool skipIdentical = false;
    // program: anything but the file's CRC-32 as the program's identification is a failure
    bool expectCrc = false;
    // CANopen: the SDO answer time-out, ms (0: the interface's own)
    std::uint16_t sdoTimeout = 0;
    bool stopOnError = false;
    bool help = false;
};

// The options, or the reason the command line is not one (a usage error).
struct ParsedOptions {
    std::optional<FlashOptions> options;
    std::string error;
};

ParsedOptions ParseFlashOptions(const std::vector<std::string>& arguments);

// The bus's word for --bus: "canopen", "devicenet", "varnix".
const char* BusWord(TNodeType bus);

// The usage text --help prints.
extern const char* const FlashUsage;
