#pragma once

#include "FixedText.h"

#include <cstddef>
#include <cstdint>
#include <string>

// A node's description of one firmware sector, exactly as the node and the driver lay it
// out (76 bytes, revision little-endian).
struct SectorDescription {
    char Name[16];
    char Description[32];
    char BuildDate[12];
    char BuildTime[12];
    std::uint32_t Revision; // major in bits 16..23, minor in bits 0..7

    static constexpr std::uint32_t EmptyRevision = 0xFFFFFFFFu;

    bool IsEmpty() const { return Revision == EmptyRevision; }
    std::string NameText() const { return FixedFieldText(Name); }
    std::string DescriptionText() const { return FixedFieldText(Description); }
    std::string BuildDateText() const { return FixedFieldText(BuildDate); }
    std::string BuildTimeText() const { return FixedFieldText(BuildTime); }
};

static_assert(sizeof(SectorDescription) == 76);
static_assert(offsetof(SectorDescription, Name) == 0);
static_assert(offsetof(SectorDescription, Description) == 16);
static_assert(offsetof(SectorDescription, BuildDate) == 48);
static_assert(offsetof(SectorDescription, BuildTime) == 60);
static_assert(offsetof(SectorDescription, Revision) == 72);
