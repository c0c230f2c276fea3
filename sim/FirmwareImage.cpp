#include "FirmwareImage.h"

#include <algorithm>
#include <cstring>

namespace sim {

namespace {
void putText(std::vector<std::uint8_t>& image, std::size_t offset, std::size_t width,
             const std::string& text) {
    std::memcpy(image.data() + offset, text.data(), std::min(text.size(), width - 1));
}
} // namespace

std::vector<std::uint8_t> MakeFirmwareImage(const FirmwareHeader& header, std::size_t size) {
    std::vector<std::uint8_t> image(std::max(size, FirmwareHeaderSize), 0);
    putText(image, 0, 16, header.name);
    putText(image, 16, 32, header.description);
    putText(image, 48, 12, header.buildDate);
    putText(image, 60, 12, header.buildTime);
    for (int i = 0; i < 4; ++i)
        image[RevisionOffset + static_cast<std::size_t>(i)] =
            static_cast<std::uint8_t>(header.revision >> (8 * i));

    std::uint32_t seed = header.revision * 2654435761u;
    for (char c : header.name)
        seed = seed * 31u + static_cast<unsigned char>(c);
    for (std::size_t i = FirmwareHeaderSize; i < image.size(); ++i) {
        seed = seed * 1103515245u + 12345u;
        image[i] = static_cast<std::uint8_t>(seed >> 16);
    }
    return image;
}

std::uint32_t WordSum(const std::uint8_t* bytes, std::size_t size) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < size; i += 2)
        sum += static_cast<std::uint32_t>(bytes[i]) | static_cast<std::uint32_t>(bytes[i + 1]) << 8;
    return sum;
}

} // namespace sim
