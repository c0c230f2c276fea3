#pragma once

#include "SectorTable.h"

#include <array>
#include <cstdint>
#include <string>

// The sector table's columns as the grids show them: "#", "Size", "Status", "Name",
// "Description", "Build Date", "Build Time", "Revision".
constexpr int SectorColumnCount = 8;
using SectorRowTexts = std::array<std::string, SectorColumnCount>;

extern const char* const SectorHeaderTexts[SectorColumnCount];

// A sector's size as the table shows it: upper-case hexadecimal, at least 6 digits.
std::string SectorSizeText(std::uint32_t size);
// A revision as major.minor (bits 16..23 and 0..7).
std::string SectorRevisionText(std::uint32_t revision);
// The row of a sector whose description was read: number, size, status and the
// description's texts (empty for an empty sector).
SectorRowTexts SectorRowOf(const SectorTable& table, int sector);
