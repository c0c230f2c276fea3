#include "CanopenNetworkFile.h"

#include "FirmwareImage.h"
#include "FlashNodeKeys.h"
#include "NetworkFile.h"
#include "ProgramNode.h"
#include "ProgramStore.h"
#include "QuotedText.h"

#include <algorithm>

namespace sim {

const char* const DefaultCanopenNetwork =
    R"(# Simulated CANopen network: one section per node, [node N] with N its node-ID.
# Edit while no program uses the network. Each node keeps its flash in node-N beside this
# file; delete that folder to return the node to its factory state.
#
# Keys (each optional): device_type (0x1000), device_name (0x1008), hardware_version
# (0x1009), vendor_id, product_code, revision_number, serial_number (0x1018:01 to :04),
# sector_sizes (bytes, comma-separated), checksum_width (8 or 16), checksum_window (bytes
# summed; 0: the sector's size), password (hexadecimal), restart_ms (0 to 2000).
#
# profile: firmware (the firmware loader's sectors, objects 0x3600 to 0x3611; the default) or
# 302-3 (CiA 302-3 program download: 0x1F50, 0x1F51, 0x1F56, 0x1F57). It comes before the keys
# of its profile; a 302-3 node takes no sector_sizes, checksum_width, checksum_window or
# password, and these keys of its own:
#   programs          programs 1 to N, 1 to 8 [1]
#   program_size      the room of each program, bytes, 1 to 1048576 [262144]
#   flash_ms_per_kib  how long the node flashes a program written, per KiB, 0 to 1000 [2]
#   program_fault     the error its first program write reports: none, data_format_unknown,
#                     data_format_error, flash_write_error, general_address_error,
#                     flash_secured, unspecified [none]
#   block_transfer    yes/no: it serves SDO block transfers [yes]
#   block_size        the segments it takes in one sub-block of a block download, 1 to 127
#                     [127]
#   room_object       yes/no: it tells each program's room in bytes at 0x2F50:p [yes]
#   identification    what 0x1F56 reports for a program held: crc (its CRC-32) or a
#                     hexadecimal value, the same for every program (0: none) [crc]
# It leaves the factory with a program in program 1, which it starts at boot-up.
#
# How the field behaves, each off unless asked for:
#   answer_delay_ms (0 to 5000): all the node sends comes that much later (a slow node)
#   heartbeat_ms    (0 to 65535): the heartbeat the node produces from its boot-up, 0x1017
#                   (writable; 0: none)
#   guarding        yes/no: the node answers guard requests and has 0x100C/0x100D [yes]
#   size_indicated  yes/no: its expedited upload answers state their size [yes]
# and a [bus] section for the frames the nodes receive and send, counted from the start of
# the network so that a run repeats: lose_every=N (every Nth frame is lost), duplicate_every=N
# (every Nth arrives twice), delay_every=N with delay_ms=MS (every Nth arrives MS later, 0 to
# 5000); N from 0 (never) to 1000000; lose_once=ID#DATA,... (up to 16, hexadecimal: the first
# frame with that CAN-ID whose data begin so is lost). For example:
#   [bus]
#   lose_every=50
#   lose_once=594#A4

[node 3]
device_type=0x00000191
device_name=Simulated I/O Node
hardware_version=Rev A
vendor_id=1166
product_code=4003
revision_number=0x00010005
serial_number=3000003
password=1A2B

[node 9]
device_type=0x00000191
device_name=Simulated Valve Node
hardware_version=Rev B
vendor_id=1166
product_code=4009
revision_number=0x00010005
serial_number=3000009
checksum_width=8
password=1A2B

[node 12]
device_type=0x00020192
device_name=Simulated Drive Node
hardware_version=Rev C
vendor_id=1166
product_code=4012
revision_number=0x00020001
serial_number=3000012
password=1A2B

[node 20]
profile=302-3
device_type=0x00000191
device_name=Simulated Standard Node
hardware_version=Rev A
vendor_id=1166
product_code=4020
revision_number=0x00010000
serial_number=3000020
programs=1
program_size=262144
)";

namespace {

CanopenNodeSettings defaultNode(std::uint8_t id) {
    CanopenNodeSettings node;
    node.nodeId = id;
    node.hardwareVersion = "Rev A";
    FlashNodeSettings& f = node.flash;
    f.sectorSizes.assign(4, 0x30000);
    f.checksum = {16, 196606};
    f.password = 0x1A2B;
    f.restartMilliseconds = 1000;
    f.identity.deviceType = 0x00000191;
    f.identity.deviceName = "Simulated CANopen Node";
    return node;
}

constexpr FlashKeyRules FlashKeys = {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu,
                                     MaxCanopenRestartMilliseconds, WordRefusal::ThirtyTwoBit};

// A node's settings while its section is read: which keys it was given so far.
struct CanopenNodeEntry : CanopenNodeSettings {
    bool firmwareKeysGiven = false;
};

CanopenNodeEntry defaultEntry(std::uint8_t id) {
    CanopenNodeEntry entry;
    static_cast<CanopenNodeSettings&>(entry) = defaultNode(id);
    return entry;
}

bool firmwareKey(const std::string& key) {
    return key == "sector_sizes" || key == "checksum_width" || key == "checksum_window" ||
           key == "password";
}

bool programKey(const std::string& key) {
    return key == "programs" || key == "program_size" || key == "flash_ms_per_kib" ||
           key == "program_fault" || key == "block_transfer" || key == "block_size" ||
           key == "room_object" || key == "identification";
}

// A 302-3 node's flash: one sector per program.
void shapeProgramFlash(CanopenNodeSettings* node) {
    node->flash.sectorSizes = ProgramStore::SectorSizes(node->programs);
    node->flash.checksum = {16, 0};
}

std::string readProfile(const std::string& key, const std::string& v, CanopenNodeEntry* node) {
    if (v == "firmware") {
        if (node->profile == CanopenProfile::ProgramDownload)
            return "profile=firmware after profile=302-3";
        return "";
    }
    if (v != "302-3")
        return Quoted(key + "=" + v) + " is not firmware or 302-3";
    if (node->firmwareKeysGiven)
        return "profile=302-3 comes before the keys of a node's flash: a 302-3 node takes no "
               "sector_sizes, checksum_width, checksum_window or password";
    node->profile = CanopenProfile::ProgramDownload;
    shapeProgramFlash(node);
    return "";
}

const std::pair<const char*, FlashStatusError> ProgramFaults[] = {
    {"none", FlashStatusError::None},
    {"data_format_unknown", FlashStatusError::DataFormatUnknown},
    {"data_format_error", FlashStatusError::DataFormatError},
    {"flash_write_error", FlashStatusError::FlashWriteError},
    {"general_address_error", FlashStatusError::GeneralAddressError},
    {"flash_secured", FlashStatusError::FlashSecured},
    {"unspecified", FlashStatusError::Unspecified},
};

// A number from 1 to max into *field.
std::string readCount(const std::string& key, const std::string& v, std::uint32_t max,
                      std::uint32_t* field) {
    std::uint32_t n = 0;
    if (!ReadNumber(key, v, max, &n).empty() || n == 0)
        return Quoted(key + "=" + v) + " is not a number from 1 to " + std::to_string(max);
    *field = n;
    return "";
}

std::string readProgramKey(const std::string& key, const std::string& v,
                           CanopenNodeSettings* node) {
    ProgramSettings& programs = node->programs;
    if (key == "programs") {
        std::uint32_t count = 0;
        std::string what = readCount(key, v, MaxPrograms, &count);
        if (!what.empty())
            return what;
        programs.count = static_cast<std::uint8_t>(count);
        shapeProgramFlash(node);
        return "";
    }
    if (key == "program_size") {
        std::string what = readCount(key, v, MaxProgramSize, &programs.size);
        if (what.empty())
            shapeProgramFlash(node);
        return what;
    }
    if (key == "flash_ms_per_kib")
        return ReadNumber(key, v, MaxFlashMillisecondsPerKib, &programs.flashMillisecondsPerKib,
                          10);
    if (key == "block_transfer")
        return ReadYesNo(key, v, &programs.blockTransfer);
    if (key == "room_object")
        return ReadYesNo(key, v, &programs.roomObject);
    if (key == "identification") {
        programs.identifiesByCrc = v == "crc";
        if (programs.identifiesByCrc)
            return "";
        std::string what = Read32BitNumber(key, v, &programs.identification, 16);
        return what.empty() ? "" : Quoted(key + "=" + v) + " is not crc or a hexadecimal number";
    }
    if (key == "block_size") {
        std::uint32_t size = 0;
        std::string what = readCount(key, v, 127, &size);
        programs.blockSize = static_cast<std::uint8_t>(what.empty() ? size : programs.blockSize);
        return what;
    }
    for (const auto& [name, fault] : ProgramFaults)
        if (v == name) {
            programs.fault = fault;
            return "";
        }
    std::string names;
    for (const auto& [name, fault] : ProgramFaults)
        names += std::string(names.empty() ? "" : ", ") + name;
    return Quoted(key + "=" + v) + " is not one of " + names;
}

std::string readNodeKey(const std::string& key, const std::string& v, CanopenNodeEntry* node) {
    const bool programDownload = node->profile == CanopenProfile::ProgramDownload;
    if (key == "profile")
        return readProfile(key, v, node);
    if (programKey(key)) {
        if (!programDownload)
            return Quoted(key) + " is a key of a profile=302-3 node, which comes before it";
        return readProgramKey(key, v, node);
    }
    if (firmwareKey(key)) {
        if (programDownload)
            return Quoted(key) + " is no key of a profile=302-3 node";
        node->firmwareKeysGiven = true;
    }
    if (auto what = ReadFlashNodeKey(key, v, FlashKeys, &node->flash))
        return *what;
    NodeIdentity& identity = node->flash.identity;
    if (key == "device_name") {
        identity.deviceName = v;
        return "";
    }
    if (key == "hardware_version") {
        node->hardwareVersion = v;
        return "";
    }
    if (key == "revision_number")
        return Read32BitNumber(key, v, &identity.revision);
    if (key == "heartbeat_ms") {
        std::uint32_t ms = 0;
        std::string what = ReadNumber(key, v, 0xFFFF, &ms, 10);
        node->heartbeatMilliseconds = static_cast<std::uint16_t>(ms);
        return what;
    }
    if (key == "guarding")
        return ReadYesNo(key, v, &node->guarding);
    if (key == "size_indicated")
        return ReadYesNo(key, v, &node->sizeIndicated);
    return "unknown key " + Quoted(key);
}

} // namespace

bool ParseCanopenNetwork(const std::string& text, const std::string& path,
                         std::vector<CanopenNodeSettings>* nodes, NetworkBehaviour* behaviour,
                         std::string* error) {
    std::vector<CanopenNodeEntry> entries;
    if (!ReadNodeNetwork(text, path, {1, 127, "N from 1 to 127"}, defaultEntry, readNodeKey,
                         &entries, behaviour, error))
        return false;
    nodes->assign(entries.begin(), entries.end());
    return true;
}

bool ParseCanopenNetwork(const std::string& text, const std::string& path,
                         std::vector<CanopenNodeSettings>* nodes, std::string* error) {
    return ParseCanopenNetwork(text, path, nodes, nullptr, error);
}

void LeaveFactoryAs(CanopenProfile profile, FlashNode& node) {
    if (profile == CanopenProfile::ProgramDownload)
        LeaveProgramFactory(node);
    else
        LeaveCanopenFactory(node);
}

void LeaveCanopenFactory(FlashNode& node) {
    const auto& sizes = node.Settings().sectorSizes;
    const auto image = [&](std::uint8_t sector, const FirmwareHeader& header, std::size_t size) {
        if (sizes[sector] >= FirmwareHeaderSize)
            node.SetSector(sector,
                           MakeFirmwareImage(header, std::min<std::size_t>(size, sizes[sector])),
                           true);
    };
    const std::uint8_t loader = node.Settings().loaderSector;
    image(loader,
          {"CANopen Loader", "CANopen firmware loader", "Jun 03 2025", "08:15:00", 0x00010002},
          8192);
    const std::uint8_t application =
        static_cast<std::uint8_t>(std::min<std::size_t>(2, sizes.size() - 1));
    if (application != loader) {
        image(application,
              {"CANopen App", "CANopen node application", "Nov 20 2025", "16:40:00", 0x00010005},
              65536);
        node.SetRunState(NodeMode::Application, application, application);
    }
}

} // namespace sim
