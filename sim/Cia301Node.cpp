#include "Cia301Node.h"

#include <algorithm>
#include <cstdio>

namespace sim {

namespace {

using bus::CanFrame;
using bus::canopen::NmtCommand;
using bus::canopen::NmtState;
using bus::canopen::Output;
using bus::canopen::SdoReadResult;
namespace SdoAbort = bus::canopen::SdoAbort;

// The entries of the communication profile this node has besides the identity object.
bool profileEntry(std::uint16_t index) {
    switch (index) {
    case 0x1000:
    case 0x1001:
    case 0x1008:
    case 0x1009:
    case 0x100C:
    case 0x100D:
    case 0x1017:
    case 0x1018:
        return true;
    default:
        return false;
    }
}

} // namespace

std::vector<std::uint8_t> LittleEndian(std::uint32_t value, std::size_t width) {
    std::vector<std::uint8_t> bytes(width);
    for (std::size_t i = 0; i < width; ++i)
        bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
    return bytes;
}

SdoReadResult ValueAnswer(std::uint32_t v, std::size_t width) {
    return {0, LittleEndian(v, width)};
}

SdoReadResult TextAnswer(const std::string& s) {
    return {0, std::vector<std::uint8_t>(s.begin(), s.end())};
}

SdoReadResult Refusal(std::uint32_t code) {
    return {code, {}};
}

std::uint32_t FromLittleEndian(const std::vector<std::uint8_t>& bytes) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < bytes.size() && i < 4; ++i)
        value |= static_cast<std::uint32_t>(bytes[i]) << (8 * i);
    return value;
}

Cia301Node::Cia301Node(CanopenNodeSettings settings, FlashSource flash)
    : settings_(std::move(settings)), flashSource_(std::move(flash)), sdo_(settings_.nodeId, *this),
      guard_(settings_.nodeId), errorControl_(settings_.nodeId, settings_.heartbeatMilliseconds) {
    sdo_.SetSizeIndicated(settings_.sizeIndicated);
}

FlashNode* Cia301Node::flash() {
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
            started(*flash_);
        }
    }
    return flash_;
}

bool Cia301Node::restarting() const {
    return flash_ && !flash_->Online();
}

Output Cia301Node::PowerOn(TimePoint now) {
    return withDeadline(bootUp(now));
}

Output Cia301Node::bootUp(TimePoint now) {
    sdo_.Reset();
    bootingUp();
    if (flash_)
        announced_ = flash_->Incarnation();
    errorControl_.BootUp(now);
    return guard_.BootUp();
}

Output Cia301Node::backFromRestart(TimePoint now) {
    Output out = bootUp(now);
    started(*flash_);
    return out;
}

Output Cia301Node::withDeadline(Output output) const {
    if (restarting())
        output.deadline = std::min(output.deadline, flash_->BackAt());
    else
        output.deadline = std::min(output.deadline, errorControl_.Deadline());
    return output;
}

Output Cia301Node::OnTime(TimePoint now) {
    if (flashRefused_)
        return {};
    if (restarting())
        return withDeadline({});
    if (flash_ && flash_->Incarnation() != announced_)
        return withDeadline(backFromRestart(now));
    Output out = sdo_.OnTime(now);
    Output timed = errorControl_.OnTime(now, guard_.State());
    out.frames.insert(out.frames.end(), timed.frames.begin(), timed.frames.end());
    return withDeadline(std::move(out));
}

Output Cia301Node::OnFrame(const CanFrame& frame, TimePoint now) {
    if (flashRefused_)
        return {};
    if (restarting())
        return withDeadline({}); // off the bus: hears nothing
    if (flash_ && flash_->Incarnation() != announced_) {
        // Back from a restart whose end nobody asked about yet: announce it first.
        Output out = backFromRestart(now);
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

Output Cia301Node::onNmt(const bus::canopen::NmtMessage& message, TimePoint now) {
    switch (message.command) {
    case NmtCommand::ResetNode: {
        FlashNode* node = flash();
        if (!node)
            return {};
        sdo_.Reset();
        if (restart(*node))
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

SdoReadResult Cia301Node::Read(std::uint16_t index, std::uint8_t subIndex) {
    if (!settings_.guarding && (index == 0x100C || index == 0x100D))
        return Refusal(SdoAbort::NoObject);
    FlashNode* node = flash();
    if (!node)
        return Refusal(SdoAbort::General);
    if (index == 0x1018)
        return readIdentity(*node, subIndex);
    if (!profileEntry(index))
        return readApplication(*node, index, subIndex);
    // The other entries have sub-index 0 alone; a refusal of the entry itself comes first.
    const SdoReadResult result = readProfileEntry(*node, index);
    if (result.abortCode != 0 || subIndex == 0)
        return result;
    return Refusal(SdoAbort::NoSubIndex);
}

SdoReadResult Cia301Node::readIdentity(FlashNode& node, std::uint8_t subIndex) {
    const auto& identity = node.Settings().identity;
    switch (subIndex) {
    case 0:
        return ValueAnswer(4, 1);
    case 1:
        return ValueAnswer(identity.vendorId, 4);
    case 2:
        return ValueAnswer(productCode(node), 4);
    case 3:
        return ValueAnswer(identity.revision, 4);
    case 4:
        return ValueAnswer(node.SerialNumber(), 4);
    default:
        return Refusal(SdoAbort::NoSubIndex);
    }
}

SdoReadResult Cia301Node::readProfileEntry(FlashNode& node, std::uint16_t index) {
    const auto& identity = node.Settings().identity;
    switch (index) {
    case 0x1000:
        return ValueAnswer(identity.deviceType, 4);
    case 0x1001:
        return ValueAnswer(errorControl_.ErrorRegister(), 1);
    case 0x1008:
        return TextAnswer(identity.deviceName);
    case 0x1009:
        return TextAnswer(settings_.hardwareVersion);
    case 0x100C:
        return ValueAnswer(errorControl_.GuardTime(), 2);
    case 0x100D:
        return ValueAnswer(errorControl_.LifeTimeFactor(), 1);
    case 0x1017:
        return ValueAnswer(errorControl_.HeartbeatTime(), 2);
    default:
        return Refusal(SdoAbort::NoObject);
    }
}

std::uint32_t Cia301Node::CheckWrite(std::uint16_t index, std::uint8_t subIndex,
                                     std::optional<std::size_t> size) {
    if (profileEntry(index))
        return 0;
    FlashNode* node = flash();
    if (!node)
        return SdoAbort::General;
    return checkApplicationWrite(*node, index, subIndex, size);
}

std::uint32_t Cia301Node::Write(std::uint16_t index, std::uint8_t subIndex,
                                const std::vector<std::uint8_t>& data) {
    if (!settings_.guarding && (index == 0x100C || index == 0x100D))
        return SdoAbort::NoObject;
    FlashNode* node = flash();
    if (!node)
        return SdoAbort::General;
    std::size_t width = 0;
    switch (index) {
    case 0x1000:
    case 0x1001:
    case 0x1008:
    case 0x1009:
    case 0x1018:
        if (index == 0x1018 ? subIndex > 4 : subIndex != 0)
            return SdoAbort::NoSubIndex;
        return SdoAbort::ReadOnly;
    case 0x100C:
    case 0x1017:
        width = 2;
        break;
    case 0x100D:
        width = 1;
        break;
    default:
        return writeApplication(*node, index, subIndex, data);
    }
    if (subIndex != 0)
        return SdoAbort::NoSubIndex;
    if (data.size() != width)
        return data.size() > width ? SdoAbort::LengthTooHigh : SdoAbort::LengthTooLow;
    const std::uint32_t v = FromLittleEndian(data);
    switch (index) {
    case 0x100C:
        errorControl_.SetGuardTime(static_cast<std::uint16_t>(v));
        return 0;
    case 0x100D:
        errorControl_.SetLifeTimeFactor(static_cast<std::uint8_t>(v));
        return 0;
    default:
        errorControl_.SetHeartbeatTime(static_cast<std::uint16_t>(v), now_);
        return 0;
    }
}

} // namespace sim
