#include "FlashNodeKeys.h"

#include "NetworkFile.h"
#include "QuotedText.h"

#include <cstdlib>
#include <vector>

namespace sim {

namespace {

std::string readChecksumWidth(const std::string& key, const std::string& value,
                              std::uint8_t* width) {
    if (value != "8" && value != "16")
        return Quoted(key + "=" + value) + " is not 8 or 16";
    *width = static_cast<std::uint8_t>(std::atoi(value.c_str()));
    return "";
}

std::string readSectorSizes(const std::string& value, std::vector<std::uint32_t>* sectorSizes) {
    std::vector<std::uint32_t> sizes;
    std::size_t from = 0;
    std::uint64_t n = 0;
    std::uint64_t total = 0;
    while (from <= value.size()) {
        std::size_t comma = value.find(',', from);
        if (comma == std::string::npos)
            comma = value.size();
        if (!ParseWholeNumber(TrimBlanks(value.substr(from, comma - from)), 0, MaxSectorSize, &n) ||
            n == 0)
            return "sector_sizes are 1 to " + std::to_string(MaxSectorSize) + " bytes each";
        sizes.push_back(static_cast<std::uint32_t>(n));
        total += n;
        from = comma + 1;
    }
    if (sizes.size() > 255)
        return "a node has 1 to 255 sectors";
    if (total > MaxNodeFlash)
        return "sector_sizes add up to " + std::to_string(total) + " bytes, more than the " +
               std::to_string(MaxNodeFlash) + " a node holds";
    *sectorSizes = sizes;
    return "";
}

} // namespace

std::optional<std::string> ReadFlashNodeKey(const std::string& key, const std::string& value,
                                            const FlashKeyRules& rules, FlashNodeSettings* flash) {
    const auto number = [&](std::uint32_t max, std::uint32_t* field, int base = 0) {
        if (max == 0xFFFFFFFFu && rules.wordRefusal == WordRefusal::ThirtyTwoBit)
            return Read32BitNumber(key, value, field, base);
        return ReadNumber(key, value, max, field, base);
    };
    NodeIdentity& identity = flash->identity;
    if (key == "vendor_id")
        return number(rules.maxVendorId, &identity.vendorId);
    if (key == "device_type")
        return number(rules.maxDeviceType, &identity.deviceType);
    if (key == "product_code")
        return number(rules.maxProductCode, &identity.productCode);
    if (key == "serial_number")
        return number(0xFFFFFFFFu, &identity.serialNumber);
    if (key == "password")
        return number(0xFFFFFFFFu, &flash->password, 16);
    if (key == "restart_ms")
        return number(rules.maxRestartMilliseconds, &flash->restartMilliseconds, 10);
    if (key == "checksum_width")
        return readChecksumWidth(key, value, &flash->checksum.width);
    if (key == "checksum_window")
        return ReadNumber(key, value, MaxSectorSize, &flash->checksum.window);
    if (key == "sector_sizes")
        return readSectorSizes(value, &flash->sectorSizes);
    return std::nullopt;
}

} // namespace sim
