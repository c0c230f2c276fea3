#include "ImageMirror.h"

#include <algorithm>

namespace {

constexpr std::uint8_t Blank = 0xFF;

} // namespace

ImageMirror::ImageMirror(std::size_t size) : bytes_(size, Blank) {}

void ImageMirror::put(std::uint32_t address, const std::uint8_t* data, std::size_t length) {
    if (!data)
        return;
    // In 64 bits: an address near the top of the 32-bit range does not wrap round to 0.
    for (std::size_t i = 0; i < length; ++i) {
        const std::uint64_t at = static_cast<std::uint64_t>(address) + i;
        if (at < bytes_.size())
            bytes_[at] = data[i];
    }
}

void ImageMirror::clear() {
    std::fill(bytes_.begin(), bytes_.end(), Blank);
}

std::uint32_t ImageMirror::byteSum(std::size_t byteCount) const {
    const std::size_t count = std::min(byteCount, bytes_.size());
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < count; ++i)
        sum += bytes_[i];
    return sum;
}

std::uint32_t ImageMirror::wordSum(std::size_t byteCount, std::size_t from) const {
    // The words whose two bytes both lie inside, from index from on.
    const std::size_t inside = from < bytes_.size() ? (bytes_.size() - from) / 2 : 0;
    const std::size_t words = std::min(byteCount / 2, inside);
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < words; ++i) {
        const std::size_t at = from + 2 * i;
        sum += static_cast<std::uint32_t>(bytes_[at]) | static_cast<std::uint32_t>(bytes_[at + 1])
                                                            << 8;
    }
    return sum;
}
