#include "Guarding.h"

namespace bus::canopen {

GuardingMaster::GuardingMaster(std::uint8_t node) : node_(node) {}

GuardOutput GuardingMaster::Start(std::chrono::milliseconds guardTime, std::uint8_t lifeTimeFactor,
                                  TimePoint now) {
    if (guardTime <= std::chrono::milliseconds::zero()) {
        Stop();
        return output();
    }
    guarding_ = true;
    guardTime_ = guardTime;
    lifeTimeFactor_ = lifeTimeFactor == 0 ? 1 : lifeTimeFactor;
    answered_ = false;
    seenAlive_ = false;
    missed_ = 0;
    expectedToggle_.reset();
    lost_ = false;
    nextRequest_ = now + RequestPeriod(guardTime_);
    GuardOutput out = output();
    out.frames.push_back(request());
    return out;
}

void GuardingMaster::Retime(std::chrono::milliseconds guardTime, std::uint8_t lifeTimeFactor) {
    if (guardTime <= std::chrono::milliseconds::zero())
        return;
    guardTime_ = guardTime;
    lifeTimeFactor_ = lifeTimeFactor == 0 ? 1 : lifeTimeFactor;
}

void GuardingMaster::Stop() {
    guarding_ = false;
    nextRequest_ = NoDeadline;
}

GuardOutput GuardingMaster::OnFrame(const CanFrame& frame, TimePoint) {
    if (frame.id != ErrorControlCobId(node_) || frame.remote || frame.length < 1)
        return output();
    if (IsBootUp(frame, node_)) {
        lost_ = false;
        missed_ = 0;
        answered_ = true; // the node has just shown itself: this round is not missed
        expectedToggle_ = false;
        state_ = NmtState::PreOperational;
        return output(GuardEvent::BootUp);
    }
    // One reply per request: what else comes in the round (a heartbeat, say) answers nothing.
    if (!guarding_ || frame.length != 1 || answered_)
        return output();
    const bool toggle = (frame.data[0] & 0x80) != 0;
    const auto state = static_cast<NmtState>(frame.data[0] & 0x7F);
    const bool valid = !expectedToggle_ || toggle == *expectedToggle_;
    expectedToggle_ = !toggle;
    if (!valid)
        return output();
    answered_ = true;
    missed_ = 0;
    const bool changed = state_ && *state_ != state;
    state_ = state;
    if (lost_ || !seenAlive_) {
        lost_ = false;
        seenAlive_ = true;
        return output(GuardEvent::Alive);
    }
    return output(changed ? GuardEvent::StateChanged : GuardEvent::None);
}

GuardOutput GuardingMaster::OnTime(TimePoint now) {
    if (!guarding_ || now < nextRequest_)
        return output();
    GuardEvent event = GuardEvent::None;
    missed_ = answered_ ? 0 : missed_ + 1;
    if (missed_ >= lifeTimeFactor_ && !lost_) {
        lost_ = true;
        event = GuardEvent::Lost;
    }
    answered_ = false;
    const std::chrono::milliseconds period = RequestPeriod(guardTime_);
    nextRequest_ += period;
    if (nextRequest_ <= now) // called late: keep the rhythm from now, without a burst
        nextRequest_ = now + period;
    GuardOutput out = output(event);
    out.frames.push_back(request());
    return out;
}

GuardOutput GuardingMaster::output(GuardEvent event) const {
    GuardOutput out;
    out.deadline = guarding_ ? nextRequest_ : NoDeadline;
    out.event = event;
    return out;
}

CanFrame GuardingMaster::request() const {
    return CanFrame::Remote(ErrorControlCobId(node_), 1);
}

GuardingNode::GuardingNode(std::uint8_t node, NmtState state) : node_(node), state_(state) {}

Output GuardingNode::OnFrame(const CanFrame& frame) {
    if (frame.id != ErrorControlCobId(node_) || !frame.remote)
        return Output{};
    const auto reply = static_cast<std::uint8_t>((toggle_ ? 0x80 : 0x00) |
                                                 (static_cast<std::uint8_t>(state_) & 0x7F));
    toggle_ = !toggle_;
    return Output{{CanFrame::Data(ErrorControlCobId(node_), {reply})}, NoDeadline};
}

Output GuardingNode::BootUp() {
    toggle_ = false;
    state_ = NmtState::PreOperational;
    return Output{{EncodeBootUp(node_)}, NoDeadline};
}

} // namespace bus::canopen
