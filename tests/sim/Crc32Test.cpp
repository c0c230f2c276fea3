#include "Crc32.h"

#include <gtest/gtest.h>
#include <string>

namespace {

// Values from the CRC catalogues, not from this code.
TEST(Crc32Test, TheCatalogueValues) {
    const std::pair<std::string, std::uint32_t> cases[] = {
        {"", 0x00000000},
        {"a", 0xE8B7BE43},
        {"123456789", 0xCBF43926},
        {"The quick brown fox jumps over the lazy dog", 0x414FA339},
    };
    for (const auto& [text, crc] : cases)
        EXPECT_EQ(sim::Crc32(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), crc)
            << text;
}

} // namespace
