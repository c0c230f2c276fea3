#include "VarnixModule.h"

#include "FirmwareImage.h"
#include "StateFiles.h"

#include <cstdlib>
#include <stdexcept>

namespace sim {

namespace {

const char* const DefaultSettings =
    R"(# Simulated VARNIX interface module. Edit while no program uses the module.
# hardware_version: 1, or 2 (firmware images then start at address 0x28000)
hardware_version=1
# download-mode password, hexadecimal
password=1A2B
# milliseconds the module stays off the link while it restarts
restart_ms=1000
serial_number=100234
device_type=12
product_code=3001
vendor_id=1166
product_name=VARNIX Interface Module
)";

std::uint32_t number(const std::map<std::string, std::string>& values, const char* key,
                     std::uint32_t fallback, int base = 10) {
    auto it = values.find(key);
    if (it == values.end())
        return fallback;
    try {
        return static_cast<std::uint32_t>(std::stoul(it->second, nullptr, base));
    } catch (const std::exception&) {
        return fallback;
    }
}

FlashNodeSettings readSettings(const std::string& folder) {
    const std::string path = folder + "/module.ini";
    std::vector<std::uint8_t> bytes;
    std::string text;
    if (ReadWholeFile(path, &bytes)) {
        text.assign(bytes.begin(), bytes.end());
    } else {
        text = DefaultSettings;
        WriteFileReplacing(path, text.data(), text.size());
    }
    auto values = ParseKeyValues(text);
    FlashNodeSettings s;
    s.sectorCount = 4;
    s.sectorSize = VarnixSectorSize;
    s.hardwareMajor = number(values, "hardware_version", 1) == 2 ? 2 : 1;
    s.hardwareMinor = 0;
    s.imageBase = s.hardwareMajor == 2 ? VarnixImageBaseHardware2 : 0;
    s.password = number(values, "password", 0x1A2B, 16);
    s.restartMilliseconds = number(values, "restart_ms", 1000);
    s.serialNumber = number(values, "serial_number", 100234);
    s.deviceType = number(values, "device_type", 12);
    s.productCode = number(values, "product_code", 3001);
    s.vendorId = number(values, "vendor_id", 1166);
    auto name = values.find("product_name");
    s.productName = name == values.end() ? "VARNIX Interface Module" : name->second;
    return s;
}

void leaveFactory(FlashNode& node) {
    node.SetSector(0,
                   MakeFirmwareImage({"VARNIX Loader", "VARNIX USB/RS-232 boot loader",
                                      "Mar 11 2024", "09:30:00", 0x00010004},
                                     8192),
                   true);
    node.SetSector(2,
                   MakeFirmwareImage({"VARNIX App", "VARNIX interface application", "Sep 02 2025",
                                      "14:05:10", 0x00020011},
                                     16384),
                   true);
    node.SetRunState(FlashNode::Mode::Application, 2, 2);
}

} // namespace

std::unique_ptr<FlashNode> OpenVarnixModule(const std::string& folder) {
    MakeFolders(folder);
    auto node = std::make_unique<FlashNode>(readSettings(folder));
    leaveFactory(*node);
    node->AttachStateFolder(folder);
    return node;
}

std::string DefaultVarnixModuleFolder() {
    std::string base;
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data)
        base = data;
    else if (const char* home = std::getenv("HOME"); home && *home)
        base = std::string(home) + "/.local/share";
    else
        base = "/tmp";
    return base + "/zandrel/varnix-module";
}

} // namespace sim
