#pragma once

#include "Firmware_Downloader.h"
#include "IntelHexFile.h"
#include "SectorDescription.h"

#include <cstdint>
#include <optional>
#include <string>

// Checks made on a firmware image before a sector is erased for it. Nothing here touches a
// window, and only ImageBaseOf asks the node: the download window and the command-line tools ask
// the same questions from what they have read.

// What a download of the file would write, read from the file itself.
struct HexImageSummary {
    // Bytes from the image base up to and including the highest address the file writes.
    std::uint64_t Extent = 0;
    // A data record below the image base (it could never land in a sector).
    bool BelowBase = false;
    // The first 76 bytes of the image, as a node would read them as the sector's
    // description; 0xFF where the file writes nothing.
    SectorDescription Header{};
    // An address that two records write with different bytes: the flash cannot hold both,
    // and which one it ends up with depends on the order of the writes.
    std::optional<std::uint64_t> Conflict;
};

// VARNIX modules of hardware version 2 link their images at this address.
inline constexpr std::uint32_t VarnixHardware2ImageBase = 0x28000;

// The address the node's images are linked for (byte 0 of a sector): 0, except on a VARNIX
// module of hardware version 2, which the downloader is asked.
std::uint32_t ImageBaseOf(TFirmware_Downloader& downloader);

// Reads the open file through and rewinds it. imageBase is the address the node's images
// are linked for (byte 0 of a sector). Nothing when the file is not sound to its end.
// The caller's last-error value is left as it was.
std::optional<HexImageSummary> SummariseHexImage(TIntelHexFile& file, std::uint32_t imageBase);

// The image fits a sector of sectorSize bytes.
bool ImageFitsSector(const HexImageSummary& image, std::uint32_t sectorSize);

// The header is one a firmware build writes: name, build date and build time are printable
// text ended within their fields, the date reads like "Dec 10 2026", and the revision is
// not that of an empty sector.
bool LooksLikeFirmwareHeader(const SectorDescription& header);

// Name and revision as the sector table shows them, e.g. "DeviceNet App 2.17".
std::string NameAndRevisionText(const SectorDescription& header);

// The firmware the node runs, from its sector table: what it starts (its boot sector,
// unless that is the loader in sector 0), else what its application sector holds. Null when
// it has neither (an erased node); known[s] tells whether sector s was read.
const SectorDescription* NodeFirmware(const SectorDescription* sectors, const bool* known,
                                      int count, std::uint8_t bootSector,
                                      std::uint8_t applicationSector);

// Why the image cannot go into a sector of sectorSize bytes (an empty text when it can).
std::string SectorRefusal(const HexImageSummary& image, std::uint32_t imageBase,
                          std::uint8_t sector, std::uint32_t sectorSize);

// The question to ask before the image goes to a node running nodeFirmware (which may be
// null), or an empty text when there is nothing to ask. Only Yes goes on.
std::string ImageQuestion(const SectorDescription& fileHeader,
                          const SectorDescription* nodeFirmware);

// The texts the user sees.
std::string ConflictText(std::uint64_t address);
std::string TooLargeText(std::uint64_t imageBytes, std::uint8_t sector, std::uint32_t sectorSize);
std::string BelowBaseText(std::uint32_t imageBase);
extern const char* const NotFirmwareText;
std::string OtherFirmwareText(const SectorDescription& file, const SectorDescription& node);
