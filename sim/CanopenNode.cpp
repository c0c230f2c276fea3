#include "CanopenNode.h"

#include "FirmwareImage.h"

#include <cstdio>
#include <cstring>

namespace sim {

namespace {

using bus::CanFrame;
using bus::canopen::NmtCommand;
using bus::canopen::NmtState;
using bus::canopen::Output;
using bus::canopen::SdoReadResult;
namespace SdoAbort = bus::canopen::SdoAbort;

std::vector<std::uint8_t> little(std::uint32_t value, std::size_t width) {
    std::vector<std::uint8_t> bytes(width);
    for (std::size_t i = 0; i < width; ++i)
        bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
    return bytes;
}

std::uint32_t fromLittle(const std::vector<std::uint8_t>& bytes) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < bytes.size() && i < 4; ++i)
        value |= static_cast<std::uint32_t>(bytes[i]) << (8 * i);
    return value;
}

SdoReadResult value(std::uint32_t v, std::size_t width) {
    return {0, little(v, width)};
}

SdoReadResult text(const std::string& s) {
    return {0, std::vector<std::uint8_t>(s.begin(), s.end())};
}

SdoReadResult refused(std::uint32_t code) {
    return {code, {}};
}

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
    case 0x100C:
    case 0x1017:
        return 2;
    case 0x100D:
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
    : settings_(std::move(settings)), flashSource_(std::move(flash)), sdo_(settings_.nodeId, *this),
      guard_(settings_.nodeId), errorControl_(settings_.nodeId, settings_.heartbeatMilliseconds) {
    sdo_.SetSizeIndicated(settings_.sizeIndicated);
}

FlashNode* CanopenNode::flash() {
    if (!flash_ && !flashRefused_) {
        std::string error;
        flash_ = flashSource_(&error);
        if (!flash_) {
            // Without its flash the node cannot go on: it falls silent, once said why.
            flashRefused_ = true;
            std::fprintf(stderr, "zandrel: simulated CANopen node %u: %s\n", settings_.nodeId,
                         error.c_str());
        } else {
            announced_ = flash_->Incarnation(); // the boot-up at power-on announced it
        }
    }
    return flash_;
}

bool CanopenNode::restarting() const {
    return flash_ && !flash_->Online();
}

Output CanopenNode::PowerOn(TimePoint now) {
    return withDeadline(bootUp(now));
}

Output CanopenNode::bootUp(TimePoint now) {
    sdo_.Reset();
    selected_ = 0;
    if (flash_)
        announced_ = flash_->Incarnation();
    errorControl_.BootUp(now);
    return guard_.BootUp();
}

Output CanopenNode::withDeadline(Output output) const {
    if (restarting())
        output.deadline = std::min(output.deadline, flash_->BackAt());
    else
        output.deadline = std::min(output.deadline, errorControl_.Deadline());
    return output;
}

Output CanopenNode::OnTime(TimePoint now) {
    if (flashRefused_)
        return {};
    if (restarting())
        return withDeadline({});
    if (flash_ && flash_->Incarnation() != announced_)
        return withDeadline(bootUp(now));
    Output out = sdo_.OnTime(now);
    Output timed = errorControl_.OnTime(now, guard_.State());
    out.frames.insert(out.frames.end(), timed.frames.begin(), timed.frames.end());
    return withDeadline(std::move(out));
}

Output CanopenNode::OnFrame(const CanFrame& frame, TimePoint now) {
    if (flashRefused_)
        return {};
    if (restarting())
        return withDeadline({}); // off the bus: hears nothing
    if (flash_ && flash_->Incarnation() != announced_) {
        // Back from a restart whose end nobody asked about yet: announce it first.
        Output out = bootUp(now);
        Output rest = OnFrame(frame, now);
        out.frames.insert(out.frames.end(), rest.frames.begin(), rest.frames.end());
        out.deadline = rest.deadline;
        return out;
    }
    if (auto nmt = bus::canopen::DecodeNmt(frame)) {
        if (!nmt->AddressesNode(settings_.nodeId))
            return withDeadline({});
        return withDeadline(onNmt(*nmt, now));
    }
    if (frame.id == bus::canopen::ErrorControlCobId(settings_.nodeId) && frame.remote) {
        // A node that produces a heartbeat uses it instead of node guarding.
        if (!settings_.guarding || errorControl_.HeartbeatTime() != 0)
            return withDeadline({});
        errorControl_.OnGuardRequest(now);
        return withDeadline(guard_.OnFrame(frame));
    }
    if (frame.id == bus::canopen::SdoRxCobId(settings_.nodeId) && !frame.remote) {
        // A stopped node keeps its SDO server quiet; one without flash cannot serve.
        if (guard_.State() == NmtState::Stopped || !flash())
            return withDeadline({});
        now_ = now;
        return withDeadline(sdo_.OnFrame(frame, now));
    }
    return withDeadline({});
}

Output CanopenNode::onNmt(const bus::canopen::NmtMessage& message, TimePoint now) {
    switch (message.command) {
    case NmtCommand::ResetNode: {
        FlashNode* node = flash();
        if (!node)
            return {};
        sdo_.Reset();
        if (node->Reset())
            return {}; // off the bus; the boot-up follows when it is back
        return bootUp(now);
    }
    case NmtCommand::ResetCommunication:
        return bootUp(now);
    default:
        if (auto state = bus::canopen::StateAfter(message.command))
            guard_.SetState(*state);
        return {};
    }
}

SdoReadResult CanopenNode::Read(std::uint16_t index, std::uint8_t subIndex) {
    if (!settings_.guarding && (index == 0x100C || index == 0x100D))
        return refused(SdoAbort::NoObject);
    FlashNode* node = flash();
    if (!node)
        return refused(SdoAbort::General);
    if (index == 0x1018)
        return readIdentity(*node, subIndex);
    if (index == 0x3600 || index == 0x360F)
        return subIndex == 0 ? refused(SdoAbort::WriteOnly) : refused(SdoAbort::NoSubIndex);
    // The other entries have sub-index 0 alone; a refusal of the entry itself comes first.
    const SdoReadResult result =
        index < 0x3600 ? readProfileEntry(*node, index) : readFirmwareEntry(*node, index);
    if (result.abortCode != 0 || subIndex == 0)
        return result;
    return refused(SdoAbort::NoSubIndex);
}

SdoReadResult CanopenNode::readIdentity(FlashNode& node, std::uint8_t subIndex) {
    const auto& identity = node.Settings().identity;
    switch (subIndex) {
    case 0:
        return value(4, 1);
    case 1:
        return value(identity.vendorId, 4);
    case 2:
        return value(node.CurrentMode() == NodeMode::Download ? 0 : identity.productCode, 4);
    case 3:
        return value(identity.revision, 4);
    case 4:
        return value(node.SerialNumber(), 4);
    default:
        return refused(SdoAbort::NoSubIndex);
    }
}

SdoReadResult CanopenNode::readProfileEntry(FlashNode& node, std::uint16_t index) {
    const auto& identity = node.Settings().identity;
    switch (index) {
    case 0x1000:
        return value(identity.deviceType, 4);
    case 0x1001:
        return value(errorControl_.ErrorRegister(), 1);
    case 0x1008:
        return text(identity.deviceName);
    case 0x1009:
        return text(settings_.hardwareVersion);
    case 0x100A:
        return text(RevisionText(node.RunningRevision()));
    case 0x100C:
        return value(errorControl_.GuardTime(), 2);
    case 0x100D:
        return value(errorControl_.LifeTimeFactor(), 1);
    case 0x1017:
        return value(errorControl_.HeartbeatTime(), 2);
    default:
        return refused(SdoAbort::NoObject);
    }
}

SdoReadResult CanopenNode::readFirmwareEntry(FlashNode& node, std::uint16_t index) {
    switch (index) {
    case 0x3604:
        return value(selected_, 1);
    case 0x3605:
    case 0x3606:
    case 0x3607:
    case 0x3608:
    case 0x3609:
        return readDescription(node, index);
    case 0x360A: {
        std::uint32_t checksum = 0;
        if (auto read = node.StoredChecksum(selected_, &checksum); !read)
            return refused(abortFor(read.error));
        return value(checksum, 4);
    }
    case 0x360B:
        return value(node.BootSector(), 1);
    case 0x360D:
        return value(node.SectorCount(), 1);
    case 0x360E: {
        std::uint32_t size = 0;
        if (auto read = node.SectorSize(selected_, &size); !read)
            return refused(abortFor(read.error));
        return value(size, 4);
    }
    case 0x3610: {
        bool ok = false;
        if (auto read = node.ChecksumMatches(selected_, &ok); !read)
            return refused(abortFor(read.error));
        return value(ok ? 1 : 0, 1);
    }
    case 0x3611:
        return value(node.Settings().checksum.width, 1);
    default:
        return refused(SdoAbort::NoObject);
    }
}

SdoReadResult CanopenNode::readDescription(FlashNode& node, std::uint16_t index) {
    std::uint8_t header[FirmwareHeaderSize];
    if (auto read = node.Description(selected_, header); !read)
        return refused(abortFor(read.error));
    if (index == 0x3609) {
        std::uint32_t revision = 0;
        std::memcpy(&revision, header + RevisionOffset, 4);
        return value(revision, 4);
    }
    static constexpr std::size_t offsets[] = {0, 16, 48, 60};
    static constexpr std::size_t widths[] = {16, 32, 12, 12};
    const std::size_t field = index - 0x3605u;
    return text(headerText(header, offsets[field], widths[field]));
}

std::uint32_t CanopenNode::CheckWrite(std::uint16_t index, std::uint8_t subIndex,
                                      std::optional<std::size_t> size) {
    if (index == 0x3600 && subIndex == 0) {
        // Refused before its data crosses the bus.
        FlashNode* node = flash();
        if (!node)
            return SdoAbort::General;
        if (node->CurrentMode() != NodeMode::Download)
            return SdoAbort::CannotStoreState;
        if (size && *size < 2)
            return SdoAbort::LengthTooLow;
    }
    return 0;
}

std::uint32_t CanopenNode::Write(std::uint16_t index, std::uint8_t subIndex,
                                 const std::vector<std::uint8_t>& data) {
    if (!settings_.guarding && (index == 0x100C || index == 0x100D))
        return SdoAbort::NoObject;
    FlashNode* node = flash();
    if (!node)
        return SdoAbort::General;
    switch (index) {
    case 0x1000:
    case 0x1001:
    case 0x1008:
    case 0x1009:
    case 0x100A:
    case 0x1018:
    case 0x3605:
    case 0x3606:
    case 0x3607:
    case 0x3608:
    case 0x3609:
    case 0x360D:
    case 0x360E:
    case 0x3610:
    case 0x3611:
        if (index == 0x1018 ? subIndex > 4 : subIndex != 0)
            return SdoAbort::NoSubIndex;
        return SdoAbort::ReadOnly;
    case 0x3600:
    case 0x3604:
    case 0x360A:
    case 0x360B:
    case 0x360F:
    case 0x100C:
    case 0x100D:
    case 0x1017:
        break;
    default:
        return SdoAbort::NoObject;
    }
    if (subIndex != 0)
        return SdoAbort::NoSubIndex;
    if (const std::size_t width = widthOf(index); width && data.size() != width)
        return data.size() > width ? SdoAbort::LengthTooHigh : SdoAbort::LengthTooLow;
    const std::uint32_t v = fromLittle(data);
    switch (index) {
    case 0x3600:
        return command(data);
    case 0x3604:
        if (v >= node->SectorCount())
            return SdoAbort::ValueTooHigh;
        selected_ = static_cast<std::uint8_t>(v);
        return 0;
    case 0x360A:
        return abortFor(node->SetStoredChecksum(selected_, v).error);
    case 0x360B:
        return abortFor(node->SetBootSector(static_cast<std::uint8_t>(v)).error);
    case 0x360F:
        return abortFor(node->ArmDownloadMode(v).error);
    case 0x100C:
        errorControl_.SetGuardTime(static_cast<std::uint16_t>(v));
        return 0;
    case 0x100D:
        errorControl_.SetLifeTimeFactor(static_cast<std::uint8_t>(v));
        return 0;
    case 0x1017:
        errorControl_.SetHeartbeatTime(static_cast<std::uint16_t>(v), now_);
        return 0;
    }
    return SdoAbort::General;
}

// The firmware command record: 2 = write block (sector, address in 24 bits low byte first,
// length n, n bytes), 3 = erase sector (sector; the rest of its 38 bytes carries nothing).
std::uint32_t CanopenNode::command(const std::vector<std::uint8_t>& record) {
    FlashNode* node = flash();
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
        return abortFor(node->Write(sector, address, record.data() + 6, n).error);
    }
    case 3:
        return abortFor(node->Erase(sector).error);
    default:
        return SdoAbort::InvalidValue;
    }
}

} // namespace sim
