#include "DevicenetNetworkFile.h"

#include "FirmwareImage.h"
#include "NetworkFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <set>

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

} // namespace

bool ParseDevicenetNetwork(const std::string& text, const std::string& path,
                           std::vector<DevicenetNodeSettings>* nodes, std::string* error) {
    std::vector<DevicenetNodeSettings> parsed;
    std::set<std::uint8_t> macs;
    std::size_t start = 0;
    int line = 0;
    const auto fail = [&](const std::string& what) {
        *error = path + ":" + std::to_string(line) + ": " + what;
        return false;
    };
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string l = TrimBlanks(text.substr(start, end - start));
        start = end + 1;
        ++line;
        if (l.empty() || l[0] == '#' || l[0] == ';')
            continue;
        if (l.front() == '[') {
            std::uint64_t mac = 0;
            if (l.back() != ']' || l.rfind("[node ", 0) != 0 ||
                !ParseWholeNumber(TrimBlanks(l.substr(6, l.size() - 7)), 10, bus::devicenet::MaxMac,
                                  &mac))
                return fail("a section is [node N], N a MAC ID from 0 to 63");
            if (!macs.insert(static_cast<std::uint8_t>(mac)).second)
                return fail("node " + std::to_string(mac) + " is given twice");
            parsed.push_back(defaultNode(static_cast<std::uint8_t>(mac)));
            continue;
        }
        const auto equals = l.find('=');
        if (equals == std::string::npos)
            return fail("not key=value: " + l);
        if (parsed.empty())
            return fail("a key before the first [node N]");
        const std::string key = TrimBlanks(l.substr(0, equals));
        const std::string v = TrimBlanks(l.substr(equals + 1));
        DevicenetNodeSettings& node = parsed.back();
        FlashNodeSettings& f = node.flash;
        std::uint64_t n = 0;
        const auto unsignedValue = [&](std::uint32_t* field, std::uint64_t max, int base = 0) {
            if (!ParseWholeNumber(v, base, max, &n))
                return fail(key + "=" + v + " is not a number from 0 to " + std::to_string(max));
            *field = static_cast<std::uint32_t>(n);
            return true;
        };
        const auto yesNo = [&](bool* field) {
            if (v != "yes" && v != "no")
                return fail(key + "=" + v + " is not yes or no");
            *field = v == "yes";
            return true;
        };
        bool ok = true;
        if (key == "vendor_id") {
            ok = unsignedValue(&f.identity.vendorId, 0xFFFF);
        } else if (key == "device_type") {
            ok = unsignedValue(&f.identity.deviceType, 0xFFFF);
        } else if (key == "product_code") {
            ok = unsignedValue(&f.identity.productCode, 0x7FFF);
        } else if (key == "serial_number") {
            ok = unsignedValue(&f.identity.serialNumber, 0xFFFFFFFFu);
        } else if (key == "product_name") {
            if (v.size() > 32)
                return fail("product_name has at most 32 characters");
            f.identity.deviceName = v;
        } else if (key == "password") {
            ok = unsignedValue(&f.password, 0xFFFFFFFFu, 16);
        } else if (key == "restart_ms") {
            ok = unsignedValue(&f.restartMilliseconds, MaxDevicenetRestartMilliseconds, 10);
        } else if (key == "checksum_width") {
            if (v != "8" && v != "16")
                return fail(key + "=" + v + " is not 8 or 16");
            f.checksum.width = static_cast<std::uint8_t>(std::atoi(v.c_str()));
        } else if (key == "checksum_window") {
            ok = unsignedValue(&f.checksum.window, 0xFFFFFFFFu);
        } else if (key == "sector_size_attribute") {
            ok = yesNo(&node.sectorSizeAttribute);
        } else if (key == "duplicate_mac_check") {
            ok = yesNo(&node.duplicateMacCheck);
        } else if (key == "factory_mode") {
            if (v != "application" && v != "download")
                return fail(key + "=" + v + " is not application or download");
            node.factoryMode = v == "download" ? NodeMode::Download : NodeMode::Application;
        } else if (key == "sector_sizes") {
            std::vector<std::uint32_t> sizes;
            std::size_t from = 0;
            while (from <= v.size()) {
                std::size_t comma = v.find(',', from);
                if (comma == std::string::npos)
                    comma = v.size();
                if (!ParseWholeNumber(TrimBlanks(v.substr(from, comma - from)), 0, MaxSectorSize,
                                      &n) ||
                    n == 0)
                    return fail("sector_sizes are 1 to " + std::to_string(MaxSectorSize) +
                                " bytes each");
                sizes.push_back(static_cast<std::uint32_t>(n));
                from = comma + 1;
            }
            if (sizes.size() > 255)
                return fail("a node has 1 to 255 sectors");
            f.sectorSizes = sizes;
        } else {
            return fail("unknown key " + key);
        }
        if (!ok)
            return false;
    }
    if (parsed.empty()) {
        *error = path + ": lists no node";
        return false;
    }
    *nodes = std::move(parsed);
    return true;
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
