#include "DevicenetNetworkFile.h"

#include "FirmwareImage.h"
#include "FlashNodeKeys.h"
#include "NetworkFile.h"
#include "QuotedText.h"

#include <algorithm>

namespace sim {

const char* const DefaultDevicenetNetwork =
    R"(# Simulated DeviceNet network: one section per node, [node N] with N its MAC ID (0 to 63).
# Edit while no program uses the network. Each node keeps its flash in node-N beside this
# file; delete that folder to return the node to its factory state.
#
# Keys (each optional): vendor_id, device_type, product_code (0 to 0x7FFF; bit 15 is set
# while the node is in download mode), serial_number, product_name (the Identity object),
# sector_sizes (bytes, comma-separated), checksum_width (8 or 16), checksum_window (bytes
# summed; 0: the sector's size), password (hexadecimal), restart_ms (0 to 2000),
# sector_size_attribute (yes/no: the firmware object answers attribute 17),
# duplicate_mac_check (yes/no: the node checks its MAC ID before it answers anything),
# factory_mode (application/download: the mode the node leaves the factory in).
#
# How the field behaves, each off unless asked for: answer_delay_ms (0 to 5000) in a node's
# section makes all the node sends come that much later (a slow node); a [bus] section acts
# on the frames the nodes receive and send, counted from the start of the network so that a
# run repeats: lose_every=N (every Nth frame is lost), duplicate_every=N (every Nth arrives
# twice), delay_every=N with delay_ms=MS (every Nth arrives MS later, 0 to 5000); N from 0
# (never) to 1000000; lose_once=ID#DATA,... (up to 16, hexadecimal: the first frame with that
# CAN-ID whose data begin so is lost). For example:
#   [bus]
#   lose_every=50

[node 3]
vendor_id=1166
device_type=7
product_code=3003
serial_number=5000003
product_name=Simulated I/O Node
password=1A2B

[node 5]
# A loader that waits in download mode; its sector sizes are known to the program, so it
# does not answer attribute 17. In download mode its product code reads 40930 (0x9FE2).
vendor_id=729
device_type=12
product_code=0x1FE2
serial_number=5000005
product_name=Simulated Loader Node
sector_sizes=0xFFFF,0x2FFFF,0x2FFFF,0xFFFF
sector_size_attribute=no
factory_mode=download
password=1A2B

[node 10]
vendor_id=1166
device_type=7
product_code=3010
serial_number=5000010
product_name=Simulated Valve Node
password=1A2B
)";

namespace {

DevicenetNodeSettings defaultNode(std::uint8_t mac) {
    DevicenetNodeSettings node;
    node.macId = mac;
    FlashNodeSettings& f = node.flash;
    f.sectorSizes.assign(4, 0x30000);
    f.checksum = {16, 196606};
    f.password = 0x1A2B;
    f.restartMilliseconds = 1000;
    f.identity.vendorId = 1166;
    f.identity.deviceType = 12;
    f.identity.productCode = 1;
    f.identity.deviceName = "Simulated DeviceNet Node";
    return node;
}

constexpr FlashKeyRules FlashKeys = {0xFFFF, 0xFFFF, 0x7FFF, MaxDevicenetRestartMilliseconds,
                                     WordRefusal::Range};

std::string readNodeKey(const std::string& key, const std::string& v, DevicenetNodeSettings* node) {
    if (auto what = ReadFlashNodeKey(key, v, FlashKeys, &node->flash))
        return *what;
    if (key == "product_name") {
        if (v.size() > 32)
            return "product_name has at most 32 characters";
        node->flash.identity.deviceName = v;
        return "";
    }
    if (key == "sector_size_attribute")
        return ReadYesNo(key, v, &node->sectorSizeAttribute);
    if (key == "duplicate_mac_check")
        return ReadYesNo(key, v, &node->duplicateMacCheck);
    if (key == "factory_mode") {
        if (v != "application" && v != "download")
            return Quoted(key + "=" + v) + " is not application or download";
        node->factoryMode = v == "download" ? NodeMode::Download : NodeMode::Application;
        return "";
    }
    return "unknown key " + Quoted(key);
}

} // namespace

bool ParseDevicenetNetwork(const std::string& text, const std::string& path,
                           std::vector<DevicenetNodeSettings>* nodes, NetworkBehaviour* behaviour,
                           std::string* error) {
    return ReadNodeNetwork(text, path, {0, bus::devicenet::MaxMac, "N a MAC ID from 0 to 63"},
                           defaultNode, readNodeKey, nodes, behaviour, error);
}

bool ParseDevicenetNetwork(const std::string& text, const std::string& path,
                           std::vector<DevicenetNodeSettings>* nodes, std::string* error) {
    return ParseDevicenetNetwork(text, path, nodes, nullptr, error);
}

void LeaveDevicenetFactory(FlashNode& node, NodeMode mode) {
    const auto& sizes = node.Settings().sectorSizes;
    const auto image = [&](std::uint8_t sector, const FirmwareHeader& header, std::size_t size) {
        if (sizes[sector] >= FirmwareHeaderSize)
            node.SetSector(sector,
                           MakeFirmwareImage(header, std::min<std::size_t>(size, sizes[sector])),
                           true);
    };
    const std::uint8_t loader = node.Settings().loaderSector;
    image(loader,
          {"DeviceNet Boot", "DeviceNet firmware loader", "Jun 03 2025", "08:15:00", 0x00010002},
          8192);
    const std::uint8_t application =
        static_cast<std::uint8_t>(std::min<std::size_t>(2, sizes.size() - 1));
    if (application == loader) {
        node.SetRunState(NodeMode::Download, loader, loader);
        return;
    }
    image(application,
          {"DeviceNet App", "DeviceNet node application", "Nov 20 2025", "16:40:00", 0x00010005},
          65536);
    if (mode == NodeMode::Download)
        node.SetRunState(NodeMode::Download, loader, application);
    else
        node.SetRunState(NodeMode::Application, application, application);
}

} // namespace sim
