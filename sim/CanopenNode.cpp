#include "CanopenNode.h"

#include "FirmwareImage.h"

#include <cstdio>
#include <cstring>

namespace sim {

namespace {

using bus::canopen::SdoReadResult;
namespace SdoAbort = bus::canopen::SdoAbort;

// A text field of a firmware header: up to its first zero byte, or an erased byte.
std::string headerText(const std::uint8_t* header, std::size_t offset, std::size_t width) {
    std::string s;
    for (std::size_t i = offset; i < offset + width; ++i) {
        if (header[i] == 0x00 || header[i] == 0xFF)
            break;
        s += static_cast<char>(header[i]);
    }
    return s;
}

// The abort code that tells a client why the flash refused.
std::uint32_t abortFor(NodeError error) {
    switch (error) {
    case NodeError::None:
        return 0;
    case NodeError::NoSuchSector:
    case NodeError::OutOfRange:
    case NodeError::WrongPassword:
        return SdoAbort::InvalidValue;
    case NodeError::NotErased:
        return SdoAbort::HardwareError;
    case NodeError::NotInDownloadMode:
    case NodeError::Busy:
        return SdoAbort::CannotStoreState;
    case NodeError::StorageFailed:
        return SdoAbort::CannotStore;
    }
    return SdoAbort::General;
}

// How many bytes a written entry takes; 0 for entries of any length.
std::size_t widthOf(std::uint16_t index) {
    switch (index) {
    case 0x3604:
    case 0x360B:
        return 1;
    case 0x360A:
    case 0x360F:
        return 4;
    default:
        return 0;
    }
}

} // namespace

std::string RevisionText(std::uint32_t revision) {
    char s[32];
    std::snprintf(s, sizeof s, "%u.%u", (revision >> 16) & 0xFF, revision & 0xFF);
    return s;
}

CanopenNode::CanopenNode(CanopenNodeSettings settings, FlashSource flash)
    : Cia301Node(std::move(settings), std::move(flash)) {
    // The firmware loader has no block transfer: it refuses their initiate with 0x05040001.
    sdo().SetBlockTransfer(false);
}

std::uint32_t CanopenNode::productCode(FlashNode& node) {
    return node.CurrentMode() == NodeMode::Download ? 0 : node.Settings().identity.productCode;
}

NodeResult CanopenNode::restart(FlashNode& node) {
    return node.Reset();
}

SdoReadResult CanopenNode::readApplication(FlashNode& node, std::uint16_t index,
                                           std::uint8_t subIndex) {
    if (index == 0x3600 || index == 0x360F)
        return subIndex == 0 ? Refusal(SdoAbort::WriteOnly) : Refusal(SdoAbort::NoSubIndex);
    // The other entries have sub-index 0 alone; a refusal of the entry itself comes first.
    const SdoReadResult result = index == 0x100A ? TextAnswer(RevisionText(node.RunningRevision()))
                                                 : readFirmwareEntry(node, index);
    if (result.abortCode != 0 || subIndex == 0)
        return result;
    return Refusal(SdoAbort::NoSubIndex);
}

SdoReadResult CanopenNode::readFirmwareEntry(FlashNode& node, std::uint16_t index) {
    switch (index) {
    case 0x3604:
        return ValueAnswer(selected_, 1);
    case 0x3605:
    case 0x3606:
    case 0x3607:
    case 0x3608:
    case 0x3609:
        return readDescription(node, index);
    case 0x360A: {
        std::uint32_t checksum = 0;
        if (auto read = node.StoredChecksum(selected_, &checksum); !read)
            return Refusal(abortFor(read.error));
        return ValueAnswer(checksum, 4);
    }
    case 0x360B:
        return ValueAnswer(node.BootSector(), 1);
    case 0x360D:
        return ValueAnswer(node.SectorCount(), 1);
    case 0x360E: {
        std::uint32_t size = 0;
        if (auto read = node.SectorSize(selected_, &size); !read)
            return Refusal(abortFor(read.error));
        return ValueAnswer(size, 4);
    }
    case 0x3610: {
        bool ok = false;
        if (auto read = node.ChecksumMatches(selected_, &ok); !read)
            return Refusal(abortFor(read.error));
        return ValueAnswer(ok ? 1 : 0, 1);
    }
    case 0x3611:
        return ValueAnswer(node.Settings().checksum.width, 1);
    default:
        return Refusal(SdoAbort::NoObject);
    }
}

SdoReadResult CanopenNode::readDescription(FlashNode& node, std::uint16_t index) {
    std::uint8_t header[FirmwareHeaderSize];
    if (auto read = node.Description(selected_, header); !read)
        return Refusal(abortFor(read.error));
    if (index == 0x3609) {
        std::uint32_t revision = 0;
        std::memcpy(&revision, header + RevisionOffset, 4);
        return ValueAnswer(revision, 4);
    }
    static constexpr std::size_t offsets[] = {0, 16, 48, 60};
    static constexpr std::size_t widths[] = {16, 32, 12, 12};
    const std::size_t field = index - 0x3605u;
    return TextAnswer(headerText(header, offsets[field], widths[field]));
}

std::uint32_t CanopenNode::checkApplicationWrite(FlashNode& node, std::uint16_t index,
                                                 std::uint8_t subIndex,
                                                 std::optional<std::size_t> size) {
    if (index == 0x3600 && subIndex == 0) {
        // Refused before its data crosses the bus.
        if (node.CurrentMode() != NodeMode::Download)
            return SdoAbort::CannotStoreState;
        if (size && *size < 2)
            return SdoAbort::LengthTooLow;
    }
    return 0;
}

std::uint32_t CanopenNode::writeApplication(FlashNode& node, std::uint16_t index,
                                            std::uint8_t subIndex,
                                            const std::vector<std::uint8_t>& data) {
    switch (index) {
    case 0x100A:
    case 0x3605:
    case 0x3606:
    case 0x3607:
    case 0x3608:
    case 0x3609:
    case 0x360D:
    case 0x360E:
    case 0x3610:
    case 0x3611:
        if (subIndex != 0)
            return SdoAbort::NoSubIndex;
        return SdoAbort::ReadOnly;
    case 0x3600:
    case 0x3604:
    case 0x360A:
    case 0x360B:
    case 0x360F:
        break;
    default:
        return SdoAbort::NoObject;
    }
    if (subIndex != 0)
        return SdoAbort::NoSubIndex;
    if (const std::size_t width = widthOf(index); width && data.size() != width)
        return data.size() > width ? SdoAbort::LengthTooHigh : SdoAbort::LengthTooLow;
    const std::uint32_t v = FromLittleEndian(data);
    switch (index) {
    case 0x3600:
        return command(node, data);
    case 0x3604:
        if (v >= node.SectorCount())
            return SdoAbort::ValueTooHigh;
        selected_ = static_cast<std::uint8_t>(v);
        return 0;
    case 0x360A:
        return abortFor(node.SetStoredChecksum(selected_, v).error);
    case 0x360B:
        return abortFor(node.SetBootSector(static_cast<std::uint8_t>(v)).error);
    case 0x360F:
        return abortFor(node.ArmDownloadMode(v).error);
    }
    return SdoAbort::General;
}

// The firmware command record: 2 = write block (sector, address in 24 bits low byte first,
// length n, n bytes), 3 = erase sector (sector; the rest of its 38 bytes carries nothing).
std::uint32_t CanopenNode::command(FlashNode& node, const std::vector<std::uint8_t>& record) {
    if (record.size() < 2)
        return SdoAbort::LengthTooLow;
    const std::uint8_t sector = record[1];
    switch (record[0]) {
    case 2: {
        if (record.size() < 6)
            return SdoAbort::LengthTooLow;
        const std::size_t n = record[5];
        if (record.size() != 6 + n)
            return SdoAbort::LengthMismatch;
        const std::uint32_t address = record[2] | record[3] << 8 | record[4] << 16;
        return abortFor(node.Write(sector, address, record.data() + 6, n).error);
    }
    case 3:
        return abortFor(node.Erase(sector).error);
    default:
        return SdoAbort::InvalidValue;
    }
}

} // namespace sim
