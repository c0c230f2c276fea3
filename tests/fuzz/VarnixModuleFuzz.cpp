// The simulated VARNIX module's settings read from a module.ini of any bytes.
//
// Promises checked: whatever module.ini says, the settings make a flash node with every
// setting in its documented range: hardware version 1 or 2 (images of version 2 start at
// 0x28000), a restart of at most 1500 ms, four sectors of 0x8000 bytes. A value that is a
// plain number within its range is taken (the last one, for a key given again), a key that
// is missing or whose value holds no digit takes its default.
//
// Input: the text of module.ini.

#include "FuzzCheck.h"
#include "FuzzInput.h"
#include "QuietStderr.h"
#include "StateFiles.h"
#include "VarnixModule.h"
#include "VarnixModuleSettings.h"

using namespace sim;

namespace {

bool plainNumber(const std::string& text, int base, std::uint64_t max, std::uint64_t* value) {
    if (text.empty() || text.size() > 16)
        return false;
    std::uint64_t v = 0;
    for (char c : text) {
        int d = -1;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        if (d < 0)
            return false;
        v = v * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(d);
    }
    *value = v;
    return v <= max;
}

bool hasDigit(const std::string& text, int base) {
    return text.find_first_of(base == 16 ? "0123456789abcdefABCDEF" : "0123456789") !=
           std::string::npos;
}

// The setting as module.ini gives it: taken when it is a plain number within min..max, the
// default when missing or without a digit; anything else may be either, as long as it is in
// range.
void checkSetting(const std::map<std::string, std::string>& values, const char* key,
                  std::uint32_t got, std::uint32_t fallback, std::uint32_t min, std::uint32_t max,
                  int base = 10) {
    FUZZ_CHECK(got >= min && got <= max, "a setting is within its range");
    const auto it = values.find(key);
    if (it == values.end() || !hasDigit(it->second, base)) {
        FUZZ_CHECK(got == fallback, "a missing or empty setting takes its default");
        return;
    }
    std::uint64_t value = 0;
    if (plainNumber(it->second, base, 0xFFFFFFFFu, &value) && value >= min && value <= max)
        FUZZ_CHECK(got == value, "a setting within its range is taken");
    else if (plainNumber(it->second, base, 0xFFFFFFFFFFFFFFFFu, &value))
        FUZZ_CHECK(got == fallback, "a setting out of its range takes its default");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    FlashNodeSettings s;
    {
        const QuietStderr quiet;
        s = ReadVarnixModuleSettings(text, "module.ini");
    }
    FUZZ_CHECK(s.Problem().empty(), "the module's settings make a flash node");
    FUZZ_CHECK(s.sectorSizes == std::vector<std::uint32_t>(4, VarnixSectorSize),
               "the module has four sectors of 0x8000 bytes");
    const auto values = ParseKeyValues(text);
    checkSetting(values, "hardware_version", s.hardwareMajor, 1, 1, 2);
    FUZZ_CHECK(s.imageBase == (s.hardwareMajor == 2 ? VarnixImageBaseHardware2 : 0),
               "images of hardware version 2 start at 0x28000");
    checkSetting(values, "restart_ms", s.restartMilliseconds, 1000, 0, MaxRestartMilliseconds);
    checkSetting(values, "password", s.password, 0x1A2B, 0, 0xFFFFFFFFu, 16);
    checkSetting(values, "serial_number", s.identity.serialNumber, 100234, 0, 0xFFFFFFFFu);
    checkSetting(values, "device_type", s.identity.deviceType, 12, 0, 0xFFFFFFFFu);
    checkSetting(values, "product_code", s.identity.productCode, 3001, 0, 0xFFFFFFFFu);
    checkSetting(values, "vendor_id", s.identity.vendorId, 1166, 0, 0xFFFFFFFFu);
    return 0;
}
