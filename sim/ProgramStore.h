#pragma once

#include "FlashNode.h"
#include "ProgramSettings.h"

#include <cstdint>
#include <vector>

namespace sim {

// The programs of a CiA 302-3 node, kept in a flash node: program p in sector p-1, whose
// room is the program's, its bytes from the sector's start. The sector's stored checksum is
// the program's length: it is stored only once the bytes are on the disk, and withdrawn
// before they are erased, so that the node's folder holds, at any moment, either a program
// whole or none (see FlashNode for how each change is stored). The flash node stays in
// download mode: the node's own state says which programs run.
//
// An area is clear (every byte erased, no length), holds a program (a length within its
// room), or holds bytes without a length: a write that did not end, a clear that did not end
// or a write that failed. Only a clear area takes a program.
//
// Not thread-safe.
class ProgramStore {
public:
    enum class Area : std::uint8_t { Clear, Program, Unfinished };

    // The sectors of a node with these programs.
    static std::vector<std::uint32_t> SectorSizes(const ProgramSettings& programs);
    // Puts a program into a node as it leaves the factory, without storing anything.
    static void SetFactoryProgram(FlashNode& flash, std::uint8_t program,
                                  const std::vector<std::uint8_t>& bytes);

    // Reads what the flash node holds.
    explicit ProgramStore(FlashNode& flash);

    std::uint8_t Count() const { return static_cast<std::uint8_t>(areas_.size()); }
    std::uint32_t Room(std::uint8_t program) const;
    Area AreaOf(std::uint8_t program) const { return at(program).area; }
    // The CRC-32 of the program's bytes; 0 for an area without a program.
    std::uint32_t Crc(std::uint8_t program) const { return at(program).crc; }

    // Erases the area: its length is withdrawn first.
    NodeResult Clear(std::uint8_t program);
    // Writes a program into a clear area: the bytes, then its length. NotErased for an area
    // that is not clear, OutOfRange for more bytes than its room or none.
    NodeResult Write(std::uint8_t program, const std::vector<std::uint8_t>& bytes);
    // Writes bytes into a clear area as a write that failed half-way leaves it: without a
    // length, the area no longer clear.
    NodeResult WriteFailed(std::uint8_t program, const std::vector<std::uint8_t>& bytes);

private:
    struct Held {
        Area area = Area::Clear;
        std::uint32_t crc = 0;
    };
    const Held& at(std::uint8_t program) const { return areas_.at(program - 1u); }
    Held& at(std::uint8_t program) { return areas_.at(program - 1u); }
    static std::uint8_t sectorOf(std::uint8_t program) {
        return static_cast<std::uint8_t>(program - 1u);
    }

    FlashNode& flash_;
    std::vector<Held> areas_; // program p at p-1
};

} // namespace sim
