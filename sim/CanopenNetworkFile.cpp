#include "CanopenNetworkFile.h"

#include "FirmwareImage.h"
#include "NetworkFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <set>

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

} // namespace

bool ParseCanopenNetwork(const std::string& text, const std::string& path,
                         std::vector<CanopenNodeSettings>* nodes, std::string* error) {
    std::vector<CanopenNodeSettings> parsed;
    std::set<std::uint8_t> ids;
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
            std::uint64_t id = 0;
            if (l.back() != ']' || l.rfind("[node ", 0) != 0 ||
                !ParseWholeNumber(TrimBlanks(l.substr(6, l.size() - 7)), 10, 127, &id) || id == 0)
                return fail("a section is [node N], N from 1 to 127");
            if (!ids.insert(static_cast<std::uint8_t>(id)).second)
                return fail("node " + std::to_string(id) + " is given twice");
            parsed.push_back(defaultNode(static_cast<std::uint8_t>(id)));
            continue;
        }
        const auto equals = l.find('=');
        if (equals == std::string::npos)
            return fail("not key=value: " + l);
        if (parsed.empty())
            return fail("a key before the first [node N]");
        const std::string key = TrimBlanks(l.substr(0, equals));
        const std::string v = TrimBlanks(l.substr(equals + 1));
        CanopenNodeSettings& node = parsed.back();
        FlashNodeSettings& f = node.flash;
        std::uint64_t n = 0;
        const auto u32 = [&](std::uint32_t* field, int base = 0) {
            if (!ParseWholeNumber(v, base, 0xFFFFFFFFu, &n))
                return fail(key + "=" + v + " is not a 32-bit number");
            *field = static_cast<std::uint32_t>(n);
            return true;
        };
        if (key == "device_type") {
            if (!u32(&f.identity.deviceType))
                return false;
        } else if (key == "device_name") {
            f.identity.deviceName = v;
        } else if (key == "hardware_version") {
            node.hardwareVersion = v;
        } else if (key == "vendor_id") {
            if (!u32(&f.identity.vendorId))
                return false;
        } else if (key == "product_code") {
            if (!u32(&f.identity.productCode))
                return false;
        } else if (key == "revision_number") {
            if (!u32(&f.identity.revision))
                return false;
        } else if (key == "serial_number") {
            if (!u32(&f.identity.serialNumber))
                return false;
        } else if (key == "password") {
            if (!u32(&f.password, 16))
                return false;
        } else if (key == "restart_ms") {
            if (!ParseWholeNumber(v, 10, MaxCanopenRestartMilliseconds, &n))
                return fail(key + "=" + v + " is not a number from 0 to " +
                            std::to_string(MaxCanopenRestartMilliseconds));
            f.restartMilliseconds = static_cast<std::uint32_t>(n);
        } else if (key == "checksum_width") {
            if (v != "8" && v != "16")
                return fail(key + "=" + v + " is not 8 or 16");
            f.checksum.width = static_cast<std::uint8_t>(std::atoi(v.c_str()));
        } else if (key == "checksum_window") {
            if (!u32(&f.checksum.window))
                return false;
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
            if (sizes.empty() || sizes.size() > 255)
                return fail("a node has 1 to 255 sectors");
            f.sectorSizes = sizes;
        } else {
            return fail("unknown key " + key);
        }
    }
    if (parsed.empty()) {
        *error = path + ": lists no node";
        return false;
    }
    *nodes = std::move(parsed);
    return true;
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
