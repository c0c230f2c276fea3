#include "SdoBlockFrames.h"

namespace bus::canopen {

namespace {

CanFrame objectFrame(std::uint16_t cobId, std::uint8_t command, std::uint16_t index,
                     std::uint8_t subIndex) {
    return CanFrame::Data(cobId, {command, static_cast<std::uint8_t>(index),
                                  static_cast<std::uint8_t>(index >> 8), subIndex, 0, 0, 0, 0});
}

std::uint8_t crcBit(bool crc) {
    return crc ? 0x04 : 0x00;
}

} // namespace

CanFrame SdoBlockInitiateWithSize(std::uint16_t cobId, std::uint16_t index, std::uint8_t subIndex,
                                  bool crc, std::optional<std::uint32_t> size) {
    CanFrame frame = objectFrame(
        cobId, static_cast<std::uint8_t>(0xC0 | crcBit(crc) | (size ? 0x02 : 0)), index, subIndex);
    if (size)
        for (int i = 0; i < 4; ++i)
            frame.data[4 + i] = static_cast<std::uint8_t>(*size >> (8 * i));
    return frame;
}

CanFrame SdoBlockInitiateWithBlockSize(std::uint16_t cobId, std::uint16_t index,
                                       std::uint8_t subIndex, bool crc, std::uint8_t blockSize) {
    CanFrame frame =
        objectFrame(cobId, static_cast<std::uint8_t>(0xA0 | crcBit(crc)), index, subIndex);
    frame.data[4] = blockSize;
    return frame;
}

CanFrame SdoBlockAck(std::uint16_t cobId, std::uint8_t ackseq, std::uint8_t blockSize) {
    return CanFrame::Data(cobId, {0xA2, ackseq, blockSize, 0, 0, 0, 0, 0});
}

CanFrame SdoBlockUploadStart(std::uint16_t cobId) {
    return CanFrame::Data(cobId, {0xA3, 0, 0, 0, 0, 0, 0, 0});
}

CanFrame SdoBlockEnd(std::uint16_t cobId, std::uint8_t unused, std::uint16_t crc) {
    return CanFrame::Data(cobId, {static_cast<std::uint8_t>(0xC1 | (unused & 0x07) << 2),
                                  static_cast<std::uint8_t>(crc),
                                  static_cast<std::uint8_t>(crc >> 8), 0, 0, 0, 0, 0});
}

CanFrame SdoBlockEndAnswer(std::uint16_t cobId) {
    return CanFrame::Data(cobId, {0xA1, 0, 0, 0, 0, 0, 0, 0});
}

} // namespace bus::canopen
