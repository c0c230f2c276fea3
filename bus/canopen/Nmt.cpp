#include "Nmt.h"

namespace bus::canopen {

CanFrame EncodeNmt(NmtCommand command, std::uint8_t node) {
    return CanFrame::Data(NmtCobId, {static_cast<std::uint8_t>(command), node});
}

std::optional<NmtMessage> DecodeNmt(const CanFrame& frame) {
    if (frame.id != NmtCobId || frame.remote || frame.length != 2 || frame.data[1] > 127)
        return std::nullopt;
    const auto command = static_cast<NmtCommand>(frame.data[0]);
    switch (command) {
    case NmtCommand::Start:
    case NmtCommand::Stop:
    case NmtCommand::EnterPreOperational:
    case NmtCommand::ResetNode:
    case NmtCommand::ResetCommunication:
        return NmtMessage{command, frame.data[1]};
    }
    return std::nullopt;
}

std::optional<NmtState> StateAfter(NmtCommand command) {
    switch (command) {
    case NmtCommand::Start:
        return NmtState::Operational;
    case NmtCommand::Stop:
        return NmtState::Stopped;
    case NmtCommand::EnterPreOperational:
        return NmtState::PreOperational;
    case NmtCommand::ResetNode:
    case NmtCommand::ResetCommunication:
        break;
    }
    return std::nullopt;
}

CanFrame EncodeBootUp(std::uint8_t node) {
    return CanFrame::Data(ErrorControlCobId(node), {0x00});
}

bool IsBootUp(const CanFrame& frame, std::uint8_t node) {
    return frame.id == ErrorControlCobId(node) && !frame.remote && frame.length == 1 &&
           frame.data[0] == 0x00;
}

} // namespace bus::canopen
