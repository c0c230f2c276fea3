#include "VarnixModule.h"

#include "DataFolder.h"
#include "FirmwareImage.h"
#include "QuotedText.h"
#include "StateFiles.h"

#include <cstdio>
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

// A setting of module.ini: the whole value a number in the given base within min..max, or
// the default with one line on standard error saying why.
class SettingsReader {
public:
    SettingsReader(std::string path, std::map<std::string, std::string> values)
        : path_(std::move(path)), values_(std::move(values)) {}

    // The value as it stands, or the default.
    std::string Text(const char* key, const std::string& fallback) const {
        auto it = values_.find(key);
        return it == values_.end() ? fallback : it->second;
    }

    std::uint32_t Number(const char* key, std::uint32_t fallback, std::uint32_t min,
                         std::uint32_t max, int base = 10) const {
        auto it = values_.find(key);
        if (it == values_.end())
            return fallback;
        const std::string& text = it->second;
        std::size_t used = 0;
        unsigned long long value = 0;
        bool ok = !text.empty() && text[0] != '-' && text[0] != '+';
        if (ok) {
            try {
                value = std::stoull(text, &used, base);
            } catch (const std::exception&) {
                ok = false;
            }
        }
        if (ok && used == text.size() && value >= min && value <= max)
            return static_cast<std::uint32_t>(value);
        std::fprintf(stderr, "zandrel: %s: %s is not %s from %s to %s; using %s\n", path_.c_str(),
                     Quoted(std::string(key) + "=" + text).c_str(),
                     base == 16 ? "a hexadecimal number" : "a number", format(min, base).c_str(),
                     format(max, base).c_str(), format(fallback, base).c_str());
        return fallback;
    }

private:
    static std::string format(std::uint32_t value, int base) {
        char text[16];
        std::snprintf(text, sizeof text, base == 16 ? "%X" : "%u", value);
        return text;
    }

    std::string path_;
    std::map<std::string, std::string> values_;
};

std::string settingsFile(const std::string& folder) {
    return folder + "/module.ini";
}

// The text of module.ini: as the user left it, or the defaults when there is none. False,
// with the reason in *error, when it cannot be read.
bool readSettingsText(const std::string& folder, std::string* text, std::string* error) {
    std::vector<std::uint8_t> bytes;
    std::string problem;
    switch (ReadWholeFile(settingsFile(folder), MaxTextFileSize, &bytes, &problem)) {
    case FileRead::Read:
        text->assign(bytes.begin(), bytes.end());
        return true;
    case FileRead::Missing:
        *text = DefaultSettings;
        return true;
    case FileRead::TooLarge:
        *error = settingsFile(folder) + ": " + problem + ", too many for a settings file";
        return false;
    case FileRead::Unreadable:
        *error = settingsFile(folder) + ": cannot be read: " + problem;
        return false;
    }
    return false;
}

FlashNodeSettings readSettings(const std::string& folder, const std::string& text) {
    const SettingsReader settings(settingsFile(folder), ParseKeyValues(text));
    constexpr std::uint32_t Any = 0xFFFFFFFF;
    FlashNodeSettings s;
    s.sectorSizes.assign(4, VarnixSectorSize);
    s.loaderSector = 0;
    s.checksum = {16, 0};
    s.hardwareMajor = settings.Number("hardware_version", 1, 1, 2);
    s.hardwareMinor = 0;
    s.imageBase = s.hardwareMajor == 2 ? VarnixImageBaseHardware2 : 0;
    s.password = settings.Number("password", 0x1A2B, 0, Any, 16);
    // The program reopens the module 2000 ms after the password: a longer restart would
    // show the right password as refused.
    s.restartMilliseconds = settings.Number("restart_ms", 1000, 0, MaxRestartMilliseconds);
    s.identity.serialNumber = settings.Number("serial_number", 100234, 0, Any);
    s.identity.deviceType = settings.Number("device_type", 12, 0, Any);
    s.identity.productCode = settings.Number("product_code", 3001, 0, Any);
    s.identity.vendorId = settings.Number("vendor_id", 1166, 0, Any);
    s.identity.deviceName = settings.Text("product_name", "VARNIX Interface Module");
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

std::unique_ptr<FlashNode> OpenVarnixModule(const std::string& folder, std::string* error) {
    std::string ignored;
    std::string& reason = error ? *error : ignored;
    std::string text;
    if (!readSettingsText(folder, &text, &reason))
        return nullptr;
    auto node = std::make_unique<FlashNode>(readSettings(folder, text));
    leaveFactory(*node);
    if (!node->AttachStateFolder(folder, &reason))
        return nullptr;
    // Written on first use, and again when a damaged folder was set aside with it.
    std::vector<std::uint8_t> present;
    std::string problem;
    if (ReadWholeFile(settingsFile(folder), MaxTextFileSize, &present, &problem) ==
        FileRead::Missing)
        WriteFileReplacing(settingsFile(folder), text.data(), text.size());
    return node;
}

std::string DefaultVarnixModuleFolder() {
    const std::string base = ZandrelDataFolder();
    return base.empty() ? "" : base + "/varnix-module";
}

} // namespace sim
