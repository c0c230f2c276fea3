#include "ImageChecks.h"

#include "LastError.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

namespace {

// A field holds text: printable characters ended by a NUL inside the field, at least one.
template <std::size_t N> bool printableText(const char (&field)[N]) {
    std::size_t i = 0;
    for (; i < N && field[i] != '\0'; ++i) {
        const auto c = static_cast<unsigned char>(field[i]);
        if (c < 0x20 || c > 0x7E)
            return false;
    }
    return i > 0 && i < N;
}

bool digit(char c) {
    return c >= '0' && c <= '9';
}

// "Mmm dd yyyy", the day possibly with a blank in place of its leading zero.
bool buildDateForm(const char (&date)[12]) {
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (std::strlen(date) != 11 || date[3] != ' ' || date[6] != ' ')
        return false;
    bool month = false;
    for (const char* m : months)
        month = month || std::strncmp(date, m, 3) == 0;
    if (!month || !(digit(date[5]) && (digit(date[4]) || date[4] == ' ')))
        return false;
    const int day = (date[4] == ' ' ? 0 : date[4] - '0') * 10 + (date[5] - '0');
    return day >= 1 && day <= 31 && digit(date[7]) && digit(date[8]) && digit(date[9]) &&
           digit(date[10]);
}

// The bytes the records of a file write, to find two that write one address differently.
// Records are short and seldom overlap: each is kept whole, by its start.
class WrittenBytes {
public:
    // Records the bytes at address; the first address they write differently, if any.
    std::optional<std::uint64_t> Write(std::uint64_t address, const std::uint8_t* data,
                                       std::size_t length) {
        if (length == 0)
            return std::nullopt;
        const std::uint64_t end = address + length;
        // Every kept record that begins before this one ends may overlap it; kept records
        // are at most 255 bytes long, so none that begins 255 bytes or more before it can.
        auto it = records_.lower_bound(address >= 255 ? address - 255 : 0);
        for (; it != records_.end() && it->first < end; ++it) {
            const std::uint64_t from = std::max(address, it->first);
            const std::uint64_t to = std::min(end, it->first + it->second.size());
            for (std::uint64_t at = from; at < to; ++at)
                if (it->second[at - it->first] != data[at - address])
                    return at;
        }
        auto& kept = records_[address];
        if (kept.size() < length)
            kept.assign(data, data + length);
        return std::nullopt;
    }

private:
    std::map<std::uint64_t, std::vector<std::uint8_t>> records_;
};

std::string hexSize(std::uint64_t bytes) {
    char text[24];
    std::snprintf(text, sizeof text, "%06llX", static_cast<unsigned long long>(bytes));
    return text;
}

} // namespace

const char* const NotFirmwareText =
    "This file does not hold a firmware image header. Download anyway?";

std::optional<HexImageSummary> SummariseHexImage(TIntelHexFile& file, std::uint32_t imageBase) {
    if (!file.Rewind())
        return std::nullopt;
    const DWORD saved = GetLastError();
    HexImageSummary summary;
    std::memset(&summary.Header, 0xFF, sizeof summary.Header);
    auto* header = reinterpret_cast<std::uint8_t*>(&summary.Header);
    std::uint32_t address;
    std::uint8_t length;
    std::uint8_t data[256];
    WrittenBytes written;
    while (file.ReadRecord(&address, &length, data)) {
        if (!summary.Conflict)
            summary.Conflict = written.Write(address, data, length);
        for (std::uint32_t i = 0; i < length; ++i) {
            const std::uint64_t at = std::uint64_t{address} + i;
            if (at < imageBase) {
                summary.BelowBase = true;
                continue;
            }
            const std::uint64_t offset = at - imageBase;
            if (offset < sizeof summary.Header)
                header[offset] = data[i];
            if (offset + 1 > summary.Extent)
                summary.Extent = offset + 1;
        }
    }
    const auto status = static_cast<std::int32_t>(GetLastError());
    SetLastError(saved);
    file.Rewind();
    if (status != HexEndOfFile)
        return std::nullopt;
    return summary;
}

bool ImageFitsSector(const HexImageSummary& image, std::uint32_t sectorSize) {
    return !image.BelowBase && image.Extent <= sectorSize;
}

bool LooksLikeFirmwareHeader(const SectorDescription& header) {
    return !header.IsEmpty() && printableText(header.Name) && printableText(header.BuildDate) &&
           printableText(header.BuildTime) && buildDateForm(header.BuildDate);
}

std::string NameAndRevisionText(const SectorDescription& header) {
    char revision[16];
    std::snprintf(revision, sizeof revision, "%u.%u", (header.Revision >> 16) & 0xFFu,
                  header.Revision & 0xFFu);
    return header.NameText() + " " + revision;
}

const SectorDescription* NodeFirmware(const SectorDescription* sectors, const bool* known,
                                      int count, std::uint8_t bootSector,
                                      std::uint8_t applicationSector) {
    for (std::uint8_t s : {bootSector, applicationSector}) {
        if (s == 0 || s >= count || !known[s] || sectors[s].IsEmpty() ||
            sectors[s].NameText().empty())
            continue;
        return &sectors[s];
    }
    return nullptr;
}

std::string SectorRefusal(const HexImageSummary& image, std::uint32_t imageBase,
                          std::uint8_t sector, std::uint32_t sectorSize) {
    if (image.Conflict)
        return ConflictText(*image.Conflict);
    if (image.BelowBase)
        return BelowBaseText(imageBase);
    if (!ImageFitsSector(image, sectorSize))
        return TooLargeText(image.Extent, sector, sectorSize);
    return {};
}

std::string ImageQuestion(const SectorDescription& fileHeader,
                          const SectorDescription* nodeFirmware) {
    if (!LooksLikeFirmwareHeader(fileHeader))
        return NotFirmwareText;
    if (nodeFirmware && nodeFirmware->NameText() != fileHeader.NameText())
        return OtherFirmwareText(fileHeader, *nodeFirmware);
    return {};
}

std::string ConflictText(std::uint64_t address) {
    return "The file writes address " + hexSize(address) +
           " twice, with different bytes.\r\nNothing was erased.";
}

std::string BelowBaseText(std::uint32_t imageBase) {
    return "The file's image begins below address " + hexSize(imageBase) +
           ", where this node's images begin.\r\nNothing was erased.";
}

std::string TooLargeText(std::uint64_t imageBytes, std::uint8_t sector, std::uint32_t sectorSize) {
    return "The file's image needs " + hexSize(imageBytes) + " bytes; sector #" +
           std::to_string(sector) + " holds " + hexSize(sectorSize) +
           " bytes.\r\nNothing was erased.";
}

std::string OtherFirmwareText(const SectorDescription& file, const SectorDescription& node) {
    return "The file holds " + NameAndRevisionText(file) + "; the node runs " +
           NameAndRevisionText(node) + ". Download anyway?";
}

std::uint32_t ImageBaseOf(TFirmware_Downloader& downloader) {
    std::uint32_t major = 1, minor = 0;
    if (downloader.NodeType == 3 && downloader.GetHardwareVersion(&major, &minor) && major == 2)
        return VarnixHardware2ImageBase;
    return 0;
}
