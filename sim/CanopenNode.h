#pragma once

#include "Cia301Node.h"

#include <cstdint>
#include <string>

namespace sim {

// One simulated CANopen node of the firmware profile: a flash node behind CiA 301 (see
// Cia301Node) with the software version (0x100A, the running image's revision) and the
// manufacturer objects 0x3600 to 0x3611 of the firmware loader:
//   0x3600 command record (2 write block, 3 erase)   0x3604 select sector
//   0x3605–0x3608 name, description, build date and time of the selected sector
//   0x3609 its revision   0x360A its checksum   0x360B boot sector   0x360D sector count
//   0x360E selected size  0x360F download-mode password (armed; entered at the next reset)
//   0x3610 checksum state 0x3611 checksum width
// Flash changes outside download mode are refused with abort 0x08000022; in download mode
// the product code (0x1018:02) reads 0. Its SDO server has no block transfer.
//
// Step functions; not thread-safe.
class CanopenNode : public Cia301Node {
public:
    CanopenNode(CanopenNodeSettings settings, FlashSource flash);

private:
    bus::canopen::SdoReadResult readApplication(FlashNode& node, std::uint16_t index,
                                                std::uint8_t subIndex) override;
    std::uint32_t writeApplication(FlashNode& node, std::uint16_t index, std::uint8_t subIndex,
                                   const std::vector<std::uint8_t>& data) override;
    std::uint32_t checkApplicationWrite(FlashNode& node, std::uint16_t index, std::uint8_t subIndex,
                                        std::optional<std::size_t> size) override;
    std::uint32_t productCode(FlashNode& node) override;
    NodeResult restart(FlashNode& node) override;
    void bootingUp() override { selected_ = 0; }

    std::uint32_t command(FlashNode& node, const std::vector<std::uint8_t>& record);
    // The firmware loader's entries (0x3604 to 0x3611), and of those the selected sector's
    // firmware header (0x3605 to 0x3609).
    bus::canopen::SdoReadResult readFirmwareEntry(FlashNode& node, std::uint16_t index);
    bus::canopen::SdoReadResult readDescription(FlashNode& node, std::uint16_t index);

    std::uint8_t selected_ = 0;
};

// The software version text of a revision: "major.minor" (0x00020011 → "2.17").
std::string RevisionText(std::uint32_t revision);

} // namespace sim
