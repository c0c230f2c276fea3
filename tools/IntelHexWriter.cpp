#include "IntelHexWriter.h"

#include <algorithm>
#include <cstdio>

namespace {

std::string record(std::uint8_t type, std::uint16_t offset, const std::uint8_t* bytes,
                   std::size_t count) {
    char text[16];
    std::string line;
    auto sum = static_cast<std::uint8_t>(count + (offset >> 8) + offset + type);
    std::snprintf(text, sizeof text, ":%02X%04X%02X", static_cast<unsigned>(count), offset, type);
    line = text;
    for (std::size_t i = 0; i < count; ++i) {
        std::snprintf(text, sizeof text, "%02X", bytes[i]);
        line += text;
        sum = static_cast<std::uint8_t>(sum + bytes[i]);
    }
    std::snprintf(text, sizeof text, "%02X\n", static_cast<std::uint8_t>(-sum));
    return line + text;
}

} // namespace

std::string IntelHexText(const std::vector<std::uint8_t>& image, std::uint32_t startAddress,
                         unsigned recordSize) {
    recordSize = std::clamp(recordSize, 1u, 255u);
    std::string text;
    std::uint32_t upper = 0;
    for (std::size_t at = 0; at < image.size();) {
        const std::uint32_t address = startAddress + static_cast<std::uint32_t>(at);
        if (address >> 16 != upper || at == 0) {
            upper = address >> 16;
            const std::uint8_t value[] = {static_cast<std::uint8_t>(upper >> 8),
                                          static_cast<std::uint8_t>(upper)};
            text += record(0x04, 0, value, 2);
        }
        // A record never crosses a 64 KiB boundary.
        std::size_t count = std::min<std::size_t>(recordSize, image.size() - at);
        count = std::min<std::size_t>(count, 0x10000 - (address & 0xFFFF));
        text +=
            record(0x00, static_cast<std::uint16_t>(address & 0xFFFF), image.data() + at, count);
        at += count;
    }
    return text + ":00000001FF\n";
}
