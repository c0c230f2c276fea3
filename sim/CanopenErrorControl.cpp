#include "CanopenErrorControl.h"

#include <algorithm>

namespace sim {

using bus::CanFrame;
using bus::canopen::NoDeadline;
using bus::canopen::Output;
using std::chrono::milliseconds;

CanopenErrorControl::CanopenErrorControl(std::uint8_t node, std::uint16_t heartbeatAtBoot)
    : node_(node), heartbeatAtBoot_(heartbeatAtBoot) {}

void CanopenErrorControl::BootUp(TimePoint now) {
    guardTime_ = 0;
    lifeTimeFactor_ = 0;
    lifeEnds_ = NoDeadline;
    errorRegister_ = 0;
    SetHeartbeatTime(heartbeatAtBoot_, now);
}

void CanopenErrorControl::SetHeartbeatTime(std::uint16_t ms, TimePoint now) {
    heartbeatTime_ = ms;
    nextHeartbeat_ = ms == 0 ? NoDeadline : now + milliseconds(ms);
    if (ms != 0)
        lifeEnds_ = NoDeadline; // a node with a heartbeat does no node guarding
}

void CanopenErrorControl::SetGuardTime(std::uint16_t ms) {
    guardTime_ = ms;
    lifeEnds_ = NoDeadline;
}

void CanopenErrorControl::SetLifeTimeFactor(std::uint8_t factor) {
    lifeTimeFactor_ = factor;
    lifeEnds_ = NoDeadline;
}

void CanopenErrorControl::OnGuardRequest(TimePoint now) {
    if (guardTime_ == 0 || lifeTimeFactor_ == 0)
        return;
    lifeEnds_ = now + milliseconds(guardTime_) * lifeTimeFactor_;
    errorRegister_ = 0;
}

Output CanopenErrorControl::OnTime(TimePoint now, bus::canopen::NmtState state) {
    Output out;
    if (now >= lifeEnds_) {
        lifeEnds_ = NoDeadline; // once, until guarding starts again
        errorRegister_ |= CommunicationError | GenericError;
        if (state != bus::canopen::NmtState::Stopped)
            out.frames.push_back(CanFrame::Data(EmergencyCobId(node_),
                                                {static_cast<std::uint8_t>(LifeGuardError & 0xFF),
                                                 static_cast<std::uint8_t>(LifeGuardError >> 8),
                                                 errorRegister_, 0, 0, 0, 0, 0}));
    }
    if (now >= nextHeartbeat_) {
        out.frames.push_back(
            CanFrame::Data(bus::canopen::ErrorControlCobId(node_),
                           {static_cast<std::uint8_t>(static_cast<std::uint8_t>(state) & 0x7F)}));
        nextHeartbeat_ += milliseconds(heartbeatTime_);
        if (nextHeartbeat_ <= now) // called late: keep the rhythm from now, without a burst
            nextHeartbeat_ = now + milliseconds(heartbeatTime_);
    }
    out.deadline = Deadline();
    return out;
}

CanopenErrorControl::TimePoint CanopenErrorControl::Deadline() const {
    return std::min(nextHeartbeat_, lifeEnds_);
}

} // namespace sim
