#include "NodeSupervisor.h"

#include <algorithm>

namespace copn {

using bus::CanFrame;
using bus::canopen::ErrorControlCobId;
using bus::canopen::GuardEvent;
using bus::canopen::GuardOutput;
using bus::canopen::NmtState;
using bus::canopen::ValidNodeId;

NodeSupervisor::NodeSupervisor(Send send, MasterClock clock)
    : send_(std::move(send)), clock_(std::move(clock)) {
    watches_.reserve(128);
    for (int node = 0; node < 128; ++node)
        watches_.emplace_back(static_cast<std::uint8_t>(node));
    thread_ = std::thread([this] { run(); });
}

NodeSupervisor::~NodeSupervisor() {
    Stop();
}

void NodeSupervisor::Stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    roundDone_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void NodeSupervisor::SetActive(bool active) {
    std::lock_guard lock(mutex_);
    if (active == active_)
        return;
    active_ = active;
    for (Watch& w : watches_) {
        w.online = false;
        w.restart = false;
        w.guard.Stop();
        w.nextToggle.reset(); // what the nodes said meanwhile goes unheard
    }
    woken_ = true;
    changed_.notify_all();
}

bool NodeSupervisor::Add(std::uint8_t node) {
    std::lock_guard lock(mutex_);
    Watch* w = watch(node);
    if (!w)
        return false;
    w->added = true;
    return true;
}

bool NodeSupervisor::Remove(std::uint8_t node) {
    std::lock_guard lock(mutex_);
    Watch* w = watch(node);
    if (!w || !w->added)
        return false;
    w->added = false;
    w->online = false;
    w->restart = false;
    w->guardTime = std::chrono::milliseconds(0);
    w->lifeTimeFactor = 0;
    w->guard.Stop();
    return true;
}

bool NodeSupervisor::Added(std::uint8_t node) const {
    std::lock_guard lock(mutex_);
    const Watch* w = watch(node);
    return w && w->added;
}

bool NodeSupervisor::Guard(std::uint8_t node, std::chrono::milliseconds guardTime,
                           std::uint8_t lifeTimeFactor) {
    std::lock_guard lock(mutex_);
    Watch* w = watch(node);
    if (!w || !w->added)
        return false;
    const Timing before = EffectiveTiming(w->guardTime, w->lifeTimeFactor);
    w->guardTime = guardTime;
    w->lifeTimeFactor = lifeTimeFactor;
    const Timing now = EffectiveTiming(guardTime, lifeTimeFactor);
    // Guarding that runs already with these values goes on undisturbed; a node not seen yet
    // is guarded from when it is.
    const bool same =
        before.guardTime == now.guardTime && before.lifeTimeFactor == now.lifeTimeFactor;
    if (active_ && (w->online || w->guard.Guarding()) && (!same || !w->guard.Guarding())) {
        w->restart = true;
        wake();
    }
    return true;
}

NodeSupervisor::Timing NodeSupervisor::EffectiveTiming(std::chrono::milliseconds guardTime,
                                                       std::uint8_t lifeTimeFactor) {
    if (guardTime <= std::chrono::milliseconds(0) || lifeTimeFactor == 0)
        return {OwnGuardTime, OwnLifeTimeFactor};
    if (guardTime * (lifeTimeFactor + 1) <= LongestLossTime)
        return {guardTime, lifeTimeFactor};
    // Too slow to notice a node gone in time: ask more often, and give up sooner, than the
    // program asked.
    const std::chrono::milliseconds time = std::min(guardTime, OwnGuardTime);
    const auto rounds = static_cast<int>(LongestLossTime / time) - 1;
    const int factor = std::clamp(rounds, 1, static_cast<int>(lifeTimeFactor));
    return {time, static_cast<std::uint8_t>(factor)};
}

void NodeSupervisor::OnFrame(const CanFrame& frame) {
    const std::optional<std::uint8_t> source = sourceOf(frame);
    if (!source)
        return;
    std::lock_guard lock(mutex_);
    if (!active_)
        return;
    Watch& w = *watch(*source);
    if (frame.id == ErrorControlCobId(*source)) {
        if (bus::canopen::IsBootUp(frame, *source)) {
            w.bootUp = true;
            w.nextToggle = false;
            w.state = NmtState::PreOperational;
        } else if (frame.length == 1) {
            const bool toggle = (frame.data[0] & 0x80) != 0;
            w.nextToggle = !toggle;
            w.state = static_cast<NmtState>(frame.data[0] & 0x7F);
        }
        if (w.added)
            apply(w, w.guard.OnFrame(frame, clock_()).event);
    }
    if (!w.added)
        return;
    w.online = true;
    // A node seen again after guarding lost it is guarded afresh, so that it can be lost
    // again; a node seen for the first time starts being guarded.
    if (!w.guard.Guarding() || w.guard.Lost()) {
        w.restart = true;
        wake();
    }
}

std::optional<bool> NodeSupervisor::Online(std::uint8_t node) const {
    std::lock_guard lock(mutex_);
    const Watch* w = watch(node);
    if (!w || !w->added)
        return std::nullopt;
    return w->online;
}

std::optional<bool> NodeSupervisor::BootUpDetected(std::uint8_t node) const {
    std::lock_guard lock(mutex_);
    const Watch* w = watch(node);
    if (!w)
        return std::nullopt;
    return w->bootUp;
}

bool NodeSupervisor::ClearBootUpDetected(std::uint8_t node) {
    std::lock_guard lock(mutex_);
    Watch* w = watch(node);
    if (!w)
        return false;
    w->bootUp = false;
    return true;
}

std::optional<NmtState> NodeSupervisor::State(std::uint8_t node) const {
    std::lock_guard lock(mutex_);
    const Watch* w = watch(node);
    if (!w)
        return std::nullopt;
    return w->state;
}

void NodeSupervisor::Poke() {
    std::unique_lock lock(mutex_);
    const std::uint64_t mine = ++pokes_;
    wake();
    roundDone_.wait(lock, [&] { return stopping_ || pokesSeen_ >= mine; });
}

// The node that sent a frame: the frames of the predefined connection set that only the node
// itself sends (emergency, its transmit PDOs, its SDO server's answers, error control).
std::optional<std::uint8_t> NodeSupervisor::sourceOf(const CanFrame& frame) {
    if (frame.remote)
        return std::nullopt;
    const auto node = static_cast<std::uint8_t>(frame.id & 0x7F);
    const std::uint16_t function = frame.id & 0x780;
    switch (function) {
    case 0x080: // emergency
    case 0x180: // transmit PDO 1 to 4
    case 0x280:
    case 0x380:
    case 0x480:
    case 0x580: // SDO server to client
    case 0x700: // boot-up, guarding reply, heartbeat
        if (ValidNodeId(node))
            return node;
        break;
    default:
        break;
    }
    return std::nullopt;
}

NodeSupervisor::Watch* NodeSupervisor::watch(std::uint8_t node) {
    return ValidNodeId(node) ? &watches_[node] : nullptr;
}

const NodeSupervisor::Watch* NodeSupervisor::watch(std::uint8_t node) const {
    return ValidNodeId(node) ? &watches_[node] : nullptr;
}

void NodeSupervisor::startGuarding(Watch& w, std::uint8_t node, TimePoint now,
                                   std::vector<CanFrame>& frames) {
    const Timing timing = EffectiveTiming(w.guardTime, w.lifeTimeFactor);
    const GuardOutput out = w.guard.Start(timing.guardTime, timing.lifeTimeFactor, now);
    frames.insert(frames.end(), out.frames.begin(), out.frames.end());
    // Guarding expects the toggle bit 0 in the first reply, which is what a node sends
    // after its boot-up. A node that has answered since may send 1: a second request at once
    // brings the 0 (guarding follows the bit after a reply it did not expect), and with it
    // the valid reply of this round either way.
    if (w.nextToggle != false)
        frames.push_back(CanFrame::Remote(ErrorControlCobId(node), 1));
}

void NodeSupervisor::apply(Watch& w, GuardEvent event) {
    switch (event) {
    case GuardEvent::Lost:
        w.online = false;
        break;
    case GuardEvent::Alive:
    case GuardEvent::BootUp:
        w.online = true;
        break;
    case GuardEvent::None:
    case GuardEvent::StateChanged:
        break;
    }
}

void NodeSupervisor::wake() {
    woken_ = true;
    changed_.notify_all();
}

void NodeSupervisor::run() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        woken_ = false;
        const std::uint64_t pokes = pokes_;
        std::vector<CanFrame> frames;
        TimePoint next = NoDeadline;
        if (active_) {
            const TimePoint now = clock_();
            for (int node = 1; node < 128; ++node) {
                Watch& w = watches_[node];
                if (!w.added)
                    continue;
                if (w.restart) {
                    w.restart = false;
                    startGuarding(w, static_cast<std::uint8_t>(node), now, frames);
                }
                const GuardOutput out = w.guard.OnTime(now);
                apply(w, out.event);
                frames.insert(frames.end(), out.frames.begin(), out.frames.end());
                next = std::min(next, out.deadline);
            }
        }
        if (!frames.empty()) {
            lock.unlock();
            for (const CanFrame& frame : frames)
                send_(frame);
            lock.lock();
        }
        if (pokes != pokesSeen_) {
            pokesSeen_ = pokes;
            roundDone_.notify_all();
        }
        WaitUntil(changed_, lock, clock_, next, [this] { return stopping_ || woken_; });
    }
}

} // namespace copn
