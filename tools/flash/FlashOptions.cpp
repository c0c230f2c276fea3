#include "FlashOptions.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <map>

const char* const FlashUsage =
    "usage: zandrel-flash COMMAND --bus BUS [OPTIONS] [FILE]\n"
    "Updates the firmware of field-bus nodes without a window.\n"
    "\n"
    "Commands:\n"
    "  list                     the nodes online, with their identity\n"
    "  sectors --node N         the node's sector table\n"
    "  update --node N[,M...] FILE\n"
    "                           the standard update of each node in turn: sector 2 erased,\n"
    "                           written, checked and made the boot sector, the node restarted\n"
    "  erase --node N --sector S          erase a sector\n"
    "  write --node N --sector S FILE     download a file into an empty sector\n"
    "  boot --node N --sector S           make a sector the boot sector\n"
    "  execute --node N --sector S        execute a sector\n"
    "  reset --node N                     restart the node\n"
    "  program --node N[,M...] [--program P] FILE\n"
    "                           CANopen standard program download into each node in turn:\n"
    "                           program P (1) stopped, cleared, written from the HEX or\n"
    "                           binary FILE, its identification compared with the file's\n"
    "                           CRC-32, and started\n"
    "\n"
    "Options:\n"
    "  --bus varnix|canopen|devicenet   the node type (or u, c, d)\n"
    "  --interface sim|socketcan:NAME|virtualcan:URL\n"
    "                           the interface to the bus (CANopen, DeviceNet); without it,\n"
    "                           the one the program saved\n"
    "  --bitrate BITS           the bus's bit rate, in bit/s\n"
    "  --own-id N               the interface's own node-ID or MAC ID\n"
    "  --password HEX           the node's download-mode password\n"
    "  --yes                    answer Yes to every safety question\n"
    "  --program P              the program a program download writes (1 to 254)\n"
    "  --skip-identical         leave a node that runs the file's image from sector 2\n"
    "                           (program: whose program runs with the file's CRC; one that\n"
    "                           holds it stopped is started)\n"
    "  --expect-crc             program: fail unless the node identifies the program by the\n"
    "                           file's CRC-32\n"
    "  --sdo-timeout MS         CANopen: the SDO answer time-out (default 500)\n"
    "  --stop-on-error          stop at the first node that fails\n"
    "  --json FILE|-            write a report, one record per node (- for standard output)\n"
    "  --help                   this text\n"
    "\n"
    "Without --yes the questions are asked on the terminal; with no terminal and no --yes\n"
    "nothing is done. Without --force the image checks are asked on the terminal (No by\n"
    "default); with no terminal they end the node's work. Exit status: 0 when every node was "
    "updated, started or skipped, 1 when any\n"
    "failed, 2 for a usage error.\n";

const char* BusWord(TNodeType bus) {
    switch (bus) {
    case NodeTypeCANopen:
        return "canopen";
    case NodeTypeDeviceNet:
        return "devicenet";
    case NodeTypeVARNIX:
        return "varnix";
    default:
        return "";
    }
}

namespace {

const std::map<std::string, FlashCommand> Commands = {
    {"list", FlashCommand::List},       {"sectors", FlashCommand::Sectors},
    {"update", FlashCommand::Update},   {"erase", FlashCommand::Erase},
    {"write", FlashCommand::Write},     {"boot", FlashCommand::Boot},
    {"execute", FlashCommand::Execute}, {"reset", FlashCommand::Reset},
    {"program", FlashCommand::Program},
};

std::optional<std::uint32_t> number(const std::string& text, std::uint32_t max) {
    if (text.empty() || text.size() > 10)
        return std::nullopt;
    for (char c : text)
        if (c < '0' || c > '9')
            return std::nullopt;
    const unsigned long value = std::strtoul(text.c_str(), nullptr, 10);
    if (value > max)
        return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

std::optional<TNodeType> busNamed(const std::string& name) {
    if (name == "varnix" || name == "u")
        return NodeTypeVARNIX;
    if (name == "canopen" || name == "c")
        return NodeTypeCANopen;
    if (name == "devicenet" || name == "d")
        return NodeTypeDeviceNet;
    return std::nullopt;
}

std::optional<InterfaceChoice> interfaceNamed(const std::string& text) {
    if (text == "sim")
        return InterfaceChoice{InterfaceChoice::Simulated, ""};
    for (const auto& [prefix, kind] :
         {std::pair{std::string("socketcan:"), InterfaceChoice::SocketCan},
          std::pair{std::string("virtualcan:"), InterfaceChoice::VirtualCan}}) {
        if (text.rfind(prefix, 0) == 0 && text.size() > prefix.size() &&
            text.size() - prefix.size() < 256)
            return InterfaceChoice{kind, text.substr(prefix.size())};
    }
    return std::nullopt;
}

bool hexText(const std::string& text) {
    if (text.empty() || text.size() > 8)
        return false;
    for (char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}

bool needsNodes(FlashCommand c) {
    return c != FlashCommand::List;
}
bool needsSector(FlashCommand c) {
    return c == FlashCommand::Erase || c == FlashCommand::Write || c == FlashCommand::Boot ||
           c == FlashCommand::Execute;
}
bool needsFile(FlashCommand c) {
    return c == FlashCommand::Update || c == FlashCommand::Write || c == FlashCommand::Program;
}
bool manyNodes(FlashCommand c) {
    return c == FlashCommand::Update || c == FlashCommand::Program;
}

// The node addresses of each bus: CANopen node-IDs 1 to 127, DeviceNet MAC IDs 0 to 63, the
// VARNIX module as node 1.
std::optional<std::string> nodeOutOfRange(TNodeType bus, std::uint8_t node) {
    const std::string n = std::to_string(node);
    switch (bus) {
    case NodeTypeCANopen:
        if (node < 1 || node > 127)
            return "--node " + n + ": CANopen node-IDs are 1 to 127";
        break;
    case NodeTypeDeviceNet:
        if (node > 63)
            return "--node " + n + ": DeviceNet MAC IDs are 0 to 63";
        break;
    case NodeTypeVARNIX:
        if (node != 1)
            return "--node " + n + ": the VARNIX module is node 1";
        break;
    default:
        break;
    }
    return std::nullopt;
}

ParsedOptions refuse(std::string why) {
    return {std::nullopt, std::move(why)};
}

} // namespace

ParsedOptions ParseFlashOptions(const std::vector<std::string>& arguments) {
    FlashOptions options;
    std::vector<std::string> positional;
    bool commandSeen = false;
    bool programGiven = false;
    bool retriesGiven = false;
    bool expectGiven = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& a = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        auto value = [&]() -> std::optional<std::string> {
            if (!hasValue)
                return std::nullopt;
            return arguments[++i];
        };
        if (a == "--help" || a == "-h") {
            options.help = true;
            return {options, ""};
        }
        if (a == "--yes") {
            options.yes = true;
        } else if (a == "--force") {
            options.force = true;
        } else if (a == "--skip-identical") {
            options.skipIdentical = true;
        } else if (a == "--expect-crc") {
            options.expectCrc = true;
            expectGiven = true;
        } else if (a == "--sdo-timeout") {
            auto v = value();
            auto ms = v ? number(*v, 60000) : std::nullopt;
            if (!ms || *ms < 10)
                return refuse("--sdo-timeout takes a time-out in ms from 10 to 60000");
            options.sdoTimeout = static_cast<std::uint16_t>(*ms);
        } else if (a == "--stop-on-error") {
            options.stopOnError = true;
        } else if (a == "--json") {
            // Standard output when nothing follows or another option does.
            if (!hasValue || (arguments[i + 1].rfind("--", 0) == 0))
                options.json = std::string(1, '-');
            else
                options.json = *value();
        } else if (a == "--bus") {
            auto v = value();
            auto bus = v ? busNamed(*v) : std::nullopt;
            if (!bus)
                return refuse("--bus takes varnix, canopen or devicenet (or u, c, d)");
            options.bus = *bus;
        } else if (a == "--interface") {
            auto v = value();
            auto choice = v ? interfaceNamed(*v) : std::nullopt;
            if (!choice)
                return refuse("--interface takes sim, socketcan:NAME or virtualcan:URL");
            options.interface = *choice;
        } else if (a == "--bitrate") {
            auto v = value();
            auto rate = v ? number(*v, 1000000) : std::nullopt;
            if (!rate || *rate == 0)
                return refuse("--bitrate takes a bit rate in bit/s, at most 1000000");
            options.bitRate = *rate;
        } else if (a == "--own-id") {
            auto v = value();
            auto id = v ? number(*v, 127) : std::nullopt;
            if (!id)
                return refuse("--own-id takes a node-ID or MAC ID from 0 to 127");
            options.ownId = static_cast<std::uint8_t>(*id);
        } else if (a == "--node") {
            auto v = value();
            if (!v)
                return refuse("--node takes a node address, or several separated by commas");
            std::size_t start = 0;
            while (start <= v->size()) {
                std::size_t end = v->find(',', start);
                if (end == std::string::npos)
                    end = v->size();
                auto node = number(v->substr(start, end - start), 127);
                if (!node)
                    return refuse("--node takes node addresses from 0 to 127, separated by "
                                  "commas: " +
                                  *v);
                options.nodes.push_back(static_cast<std::uint8_t>(*node));
                start = end + 1;
            }
        } else if (a == "--sector") {
            auto v = value();
            auto sector = v ? number(*v, 7) : std::nullopt;
            if (!sector)
                return refuse("--sector takes a sector from 0 to 7");
            options.sector = static_cast<std::uint8_t>(*sector);
        } else if (a == "--program") {
            auto v = value();
            auto program = v ? number(*v, 254) : std::nullopt;
            if (!program || *program == 0)
                return refuse("--program takes a program from 1 to 254");
            options.program = static_cast<std::uint8_t>(*program);
            programGiven = true;
        } else if (a == "--retries") {
            auto v = value();
            auto retries = v ? number(*v, 10) : std::nullopt;
            if (!retries)
                return refuse("--retries takes a number from 0 to 10");
            options.retries = *retries;
            retriesGiven = true;
        } else if (a == "--password") {
            auto v = value();
            if (!v || !hexText(*v))
                return refuse("--password takes the password in hexadecimal, up to 8 digits");
            options.password = *v;
        } else if (a.rfind("--", 0) == 0 && a.size() > 2) {
            return refuse("unknown option " + a);
        } else if (!commandSeen) {
            auto command = Commands.find(a);
            if (command == Commands.end())
                return refuse("unknown command " + a +
                              " (list, sectors, update, erase, write, boot, execute, reset, "
                              "program)");
            options.command = command->second;
            commandSeen = true;
        } else {
            positional.push_back(a);
        }
    }
    if (!commandSeen)
        return refuse("no command given");
    if (options.bus == NodeTypeNone)
        return refuse("--bus is missing: varnix, canopen or devicenet");
    if (options.bus == NodeTypeVARNIX && (options.interface || options.bitRate || options.ownId))
        return refuse("--interface, --bitrate and --own-id are for CANopen and DeviceNet");
    if (needsNodes(options.command) && options.nodes.empty())
        return refuse("--node is missing");
    for (std::uint8_t node : options.nodes)
        if (auto why = nodeOutOfRange(options.bus, node))
            return refuse(*why);
    if (!manyNodes(options.command) && options.nodes.size() > 1)
        return refuse("this command works on one node");
    if (needsSector(options.command) && !options.sector)
        return refuse("--sector is missing");
    if (options.command == FlashCommand::Program && options.bus != NodeTypeCANopen)
        return refuse("program is for CANopen nodes (--bus canopen)");
    if (programGiven && options.command != FlashCommand::Program)
        return refuse("--program is for program");
    if (retriesGiven && options.command != FlashCommand::Update)
        return refuse("--retries is for update");
    if (expectGiven && options.command != FlashCommand::Program)
        return refuse("--expect-crc is for program");
    if (options.sdoTimeout && options.bus != NodeTypeCANopen)
        return refuse("--sdo-timeout is for CANopen");
    if (needsFile(options.command)) {
        if (positional.size() != 1)
            return refuse(options.command == FlashCommand::Program
                              ? "give one program file (Intel HEX or binary)"
                              : "give one HEX file");
        options.file = positional[0];
    } else if (!positional.empty()) {
        return refuse("unexpected argument " + positional[0]);
    }
    if (options.skipIdentical && !manyNodes(options.command))
        return refuse("--skip-identical is for update and program");
    return {options, ""};
}
