#pragma once

#include "SectorDescription.h"

#include <cstdint>
#include <vector>

// A node's sector table as last read from it, with what the node told and what it did not.
struct SectorTable {
    static constexpr int MaxSectors = 8;
    enum : std::uint8_t { Empty = 0, Ok = 1, ChecksumError = 2 };

    // Sectors reported by the node, at most MaxSectors of them.
    int Count = 0;
    SectorDescription Sectors[MaxSectors] = {};
    // Whether each sector's description was read since the table was last forgotten.
    bool Read[MaxSectors] = {};
    std::uint32_t Size[MaxSectors] = {};
    bool SizeKnown[MaxSectors] = {};
    // 0 empty, 1 ok, 2 checksum error; a sector whose description could not be read keeps
    // its status of the read before.
    std::uint8_t Status[MaxSectors] = {};
    // Whether the node was asked about each sector's checksum and confirmed it.
    bool ChecksumConfirmed[MaxSectors] = {};
    // Sectors whose checksum could not be asked about in the last read.
    std::vector<int> Unchecked;
    std::uint8_t BootSector = 0;
    // Whether the last read got the boot sector (and so completed the table).
    bool BootRead = false;
    // 1 after a complete read; 0 after construction and whenever the table is forgotten.
    std::uint32_t Valid = 0;

    bool Holds(int sector) const { return sector >= 0 && sector < Count && Read[sector]; }
    void Forget() {
        Valid = 0;
        BootRead = false;
        Unchecked.clear();
        for (int s = 0; s < MaxSectors; ++s)
            Read[s] = SizeKnown[s] = ChecksumConfirmed[s] = false;
    }
};
