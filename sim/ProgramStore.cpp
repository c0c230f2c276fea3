#include "ProgramStore.h"

#include "Crc32.h"

#include <algorithm>

namespace sim {

std::vector<std::uint32_t> ProgramStore::SectorSizes(const ProgramSettings& programs) {
    return std::vector<std::uint32_t>(programs.count, programs.size);
}

void ProgramStore::SetFactoryProgram(FlashNode& flash, std::uint8_t program,
                                     const std::vector<std::uint8_t>& bytes) {
    const std::uint8_t sector = sectorOf(program);
    std::uint32_t room = 0;
    if (bytes.empty() || !flash.SectorSize(sector, &room) || bytes.size() > room)
        return;
    flash.SetSector(sector, bytes, false);
    (void)flash.SetStoredChecksum(sector, static_cast<std::uint32_t>(bytes.size()));
}

ProgramStore::ProgramStore(FlashNode& flash) : flash_(flash), areas_(flash.SectorCount()) {
    for (std::uint8_t sector = 0; sector < flash.SectorCount(); ++sector) {
        Held& held = areas_[sector];
        std::uint32_t room = 0, length = FlashNode::NoChecksum;
        std::vector<std::uint8_t> bytes;
        if (flash.SectorSize(sector, &room) && flash.StoredChecksum(sector, &length)) {
            bytes.resize(room);
            if (!flash.Read(sector, flash.Settings().imageBase, bytes.data(), room))
                bytes.clear();
        }
        if (length >= 1 && length <= bytes.size()) {
            held = {Area::Program, Crc32(bytes.data(), length)};
        } else if (std::all_of(bytes.begin(), bytes.end(),
                               [](std::uint8_t b) { return b == 0xFF; }) &&
                   length == FlashNode::NoChecksum) {
            held = {Area::Clear, 0};
        } else {
            held = {Area::Unfinished, 0};
        }
    }
}

std::uint32_t ProgramStore::Room(std::uint8_t program) const {
    std::uint32_t room = 0;
    (void)flash_.SectorSize(sectorOf(program), &room);
    return room;
}

NodeResult ProgramStore::Clear(std::uint8_t program) {
    Held& held = at(program);
    if (auto erased = flash_.Erase(sectorOf(program)); !erased) {
        // A length withdrawn before the erase failed: the bytes are no program any more.
        std::uint32_t length = 0;
        if (flash_.StoredChecksum(sectorOf(program), &length) && length == FlashNode::NoChecksum &&
            held.area == Area::Program)
            held = {Area::Unfinished, 0};
        return erased;
    }
    held = {Area::Clear, 0};
    return {};
}

NodeResult ProgramStore::Write(std::uint8_t program, const std::vector<std::uint8_t>& bytes) {
    Held& held = at(program);
    if (held.area != Area::Clear)
        return NodeError::NotErased;
    if (bytes.empty() || bytes.size() > Room(program))
        return NodeError::OutOfRange;
    const std::uint8_t sector = sectorOf(program);
    const std::uint32_t base = flash_.Settings().imageBase;
    // Once a byte may be on the disk, the area is no longer clear, whatever follows.
    held = {Area::Unfinished, 0};
    if (auto written = flash_.Write(sector, base, bytes.data(), bytes.size()); !written) {
        if (written.error != NodeError::StorageFailed)
            held = {Area::Clear, 0}; // refused before anything was written
        return written;
    }
    const auto length = static_cast<std::uint32_t>(bytes.size());
    if (auto stored = flash_.SetStoredChecksum(sector, length); !stored)
        return stored;
    held = {Area::Program, Crc32(bytes.data(), bytes.size())};
    return {};
}

NodeResult ProgramStore::WriteFailed(std::uint8_t program, const std::vector<std::uint8_t>& bytes) {
    Held& held = at(program);
    if (held.area != Area::Clear)
        return NodeError::NotErased;
    const std::size_t half = std::min<std::size_t>(bytes.size() / 2 + 1, Room(program));
    held = {Area::Unfinished, 0};
    auto written = flash_.Write(sectorOf(program), flash_.Settings().imageBase, bytes.data(),
                                std::min(half, bytes.size()));
    // The bytes go to the disk as they would have before the length; no length follows.
    if (written)
        written = flash_.SetStoredChecksum(sectorOf(program), FlashNode::NoChecksum);
    return written;
}

} // namespace sim
