#include "VarnixModuleSettings.h"

#include "NetworkFile.h"
#include "QuotedText.h"
#include "StateFiles.h"
#include "VarnixModule.h"

#include <cstdarg>
#include <cstdio>
#include <map>
#include <set>

namespace sim {

const char* const DefaultVarnixModuleSettings =
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

namespace {

const std::set<std::string> Keys = {"hardware_version", "password",    "restart_ms",
                                    "serial_number",    "device_type", "product_code",
                                    "vendor_id",        "product_name"};

// The settings of module.ini, each with the line it stands on; what is no setting of the
// module is named on standard error as the lines are taken.
class SettingsReader {
public:
    SettingsReader(std::string path, const std::string& text) : path_(std::move(path)) {
        for (KeyValueLine& line : ReadKeyValueLines(text)) {
            if (!line.hasEquals && line.text.front() == '[') {
                warn(line.number, "%s is a section header; module.ini has no sections",
                     Quoted(line.text).c_str());
                continue;
            }
            if (!line.hasEquals) {
                warn(line.number, "not key=value: %s", Quoted(line.text).c_str());
                continue;
            }
            if (!Keys.count(line.key)) {
                warn(line.number, "unknown key %s", Quoted(line.key).c_str());
                continue;
            }
            auto [at, first] = values_.try_emplace(line.key, Value{line.number, line.value});
            if (!first) {
                warn(line.number, "%s is given again, after line %d; this value counts",
                     line.key.c_str(), at->second.line);
                at->second = {line.number, line.value};
            }
        }
    }

    // The value as it stands, or the default.
    std::string Text(const char* key, const std::string& fallback) const {
        auto it = values_.find(key);
        return it == values_.end() ? fallback : it->second.text;
    }

    // The whole value a number in the given base within min..max, or the default with a
    // line on standard error saying why.
    std::uint32_t Number(const char* key, std::uint32_t fallback, std::uint32_t min,
                         std::uint32_t max, int base) const {
        auto it = values_.find(key);
        if (it == values_.end())
            return fallback;
        std::uint64_t value = 0;
        if (ParseWholeNumber(it->second.text, base, max, &value) && value >= min)
            return static_cast<std::uint32_t>(value);
        warn(it->second.line, "%s is not %s from %s to %s; using %s",
             Quoted(std::string(key) + "=" + it->second.text).c_str(),
             base == 16 ? "a hexadecimal number" : "a number", format(min, base).c_str(),
             format(max, base).c_str(), format(fallback, base).c_str());
        return fallback;
    }

private:
    struct Value {
        int line;
        std::string text;
    };

    static std::string format(std::uint32_t value, int base) {
        char text[16];
        std::snprintf(text, sizeof text, base == 16 ? "%X" : "%u", value);
        return text;
    }

    __attribute__((format(printf, 3, 4))) void warn(int line, const char* what, ...) const {
        char message[512];
        va_list arguments;
        va_start(arguments, what);
        std::vsnprintf(message, sizeof message, what, arguments);
        va_end(arguments);
        std::fprintf(stderr, "zandrel: %s:%d: %s\n", path_.c_str(), line, message);
    }

    std::string path_;
    std::map<std::string, Value> values_;
};

} // namespace

FlashNodeSettings ReadVarnixModuleSettings(const std::string& text, const std::string& path) {
    const SettingsReader settings(path, text);
    constexpr std::uint32_t Any = 0xFFFFFFFF;
    FlashNodeSettings s;
    s.sectorSizes.assign(4, VarnixSectorSize);
    s.loaderSector = 0;
    s.checksum = {16, 0};
    s.hardwareMajor = settings.Number("hardware_version", 1, 1, 2, 10);
    s.hardwareMinor = 0;
    s.imageBase = s.hardwareMajor == 2 ? VarnixImageBaseHardware2 : 0;
    s.password = settings.Number("password", 0x1A2B, 0, Any, 16);
    // The program reopens the module 2000 ms after the password: a longer restart would
    // show the right password as refused.
    s.restartMilliseconds = settings.Number("restart_ms", 1000, 0, MaxRestartMilliseconds, 10);
    s.identity.serialNumber = settings.Number("serial_number", 100234, 0, Any, 0);
    s.identity.deviceType = settings.Number("device_type", 12, 0, Any, 0);
    s.identity.productCode = settings.Number("product_code", 3001, 0, Any, 0);
    s.identity.vendorId = settings.Number("vendor_id", 1166, 0, Any, 0);
    s.identity.deviceName = settings.Text("product_name", "VARNIX Interface Module");
    return s;
}

} // namespace sim
