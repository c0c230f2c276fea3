#include "ChecksumRule.h"

#include <algorithm>

namespace sim {

std::uint32_t ChecksumRule::Sum(const std::uint8_t* sector, std::size_t size) const {
    const std::size_t length = window == 0 ? size : window;
    const std::size_t inside = std::min(length, size);
    std::uint32_t sum = 0;
    if (width == 8) {
        for (std::size_t i = 0; i < inside; ++i)
            sum += sector[i];
        sum += static_cast<std::uint32_t>((length - inside) * 0xFFu);
        return sum;
    }
    if (width != 16)
        return 0;
    const std::size_t words = length / 2;
    const auto byteAt = [&](std::size_t i) -> std::uint32_t {
        return i < size ? sector[i] : 0xFFu;
    };
    std::size_t k = 0;
    for (; k < words && 2 * k + 1 < size; ++k)
        sum += static_cast<std::uint32_t>(sector[2 * k]) |
               static_cast<std::uint32_t>(sector[2 * k + 1]) << 8;
    for (; k < words; ++k)
        sum += byteAt(2 * k) | byteAt(2 * k + 1) << 8;
    return sum;
}

} // namespace sim
