#include "SectorTableText.h"

#include <cstdio>

const char* const SectorHeaderTexts[SectorColumnCount] = {
    "#", "Size", "Status", "Name", "Description", "Build Date", "Build Time", "Revision"};

std::string SectorSizeText(std::uint32_t size) {
    char text[16];
    std::snprintf(text, sizeof text, "%06X", size);
    return text;
}

std::string SectorRevisionText(std::uint32_t revision) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u", (revision >> 16) & 0xFFu, revision & 0xFFu);
    return text;
}

SectorRowTexts SectorRowOf(const SectorTable& table, int s) {
    const SectorDescription& description = table.Sectors[s];
    const bool empty = description.IsEmpty();
    return {std::to_string(s),
            table.SizeKnown[s] ? SectorSizeText(table.Size[s]) : "<unknown>",
            table.Status[s] == SectorTable::Empty           ? "<empty>"
            : table.Status[s] == SectorTable::ChecksumError ? "<checksum error>"
                                                            : "<ok>",
            empty ? "" : description.NameText(),
            empty ? "" : description.DescriptionText(),
            empty ? "" : description.BuildDateText(),
            empty ? "" : description.BuildTimeText(),
            empty ? "" : SectorRevisionText(description.Revision)};
}
