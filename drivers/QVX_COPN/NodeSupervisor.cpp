#include "NodeSupervisor.h"

#include <algorithm>

namespace copn {

using bus::CanFrame;
using bus::canopen::ErrorControlCobId;
using bus::canopen::GuardEvent;
using bus::canopen::GuardOutput;
using bus::canopen::NmtState;
using bus::canopen::SdoResult;
using bus::canopen::SdoStatus;
using bus::canopen::ValidNodeId;

namespace {

// After a reset command, what the node says is not taken as a sign of its new life for this
// long: a guard reply or heartbeat it sent before the command reached it may still be on its
// way. Only its boot-up counts at once.
constexpr std::chrono::milliseconds ResetQuietTime{50};

std::chrono::milliseconds heartbeatLossTime(std::chrono::milliseconds producer) {
    return producer * 5 / 2;
}

} // namespace

NodeSupervisor::NodeSupervisor(Send send, Upload upload, Download download, MasterClock clock)
    : send_(std::move(send)), upload_(std::move(upload)), download_(std::move(download)),
      clock_(std::move(clock)) {
    watches_.reserve(128);
    for (int node = 0; node < 128; ++node)
        watches_.emplace_back(static_cast<std::uint8_t>(node));
    thread_ = std::thread([this] { run(); });
    sdoThread_ = std::thread([this] { runSdoWork(); });
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
    sdoChanged_.notify_all();
    if (thread_.joinable())
        thread_.join();
    if (sdoThread_.joinable())
        sdoThread_.join();
}

namespace {

// Back to guarding, as after the node's boot-up, forgetting what other means were found.
template <typename Watch> void forgetMeans(Watch& w) {
    w.means = NodeSupervisor::Means::Guarding;
    ++w.epoch;
    w.heartbeatThisRound = false;
    w.suspicious = false;
    w.heartbeatTime = std::chrono::milliseconds(0);
    w.heartbeatDue = NoDeadline;
    w.nextProbe = NoDeadline;
}

} // namespace

void NodeSupervisor::SetActive(bool active) {
    std::lock_guard lock(mutex_);
    if (active == active_)
        return;
    active_ = active;
    for (Watch& w : watches_) {
        w.online = false;
        w.restart = false;
        w.awaitingBootUp = false;
        w.guard.Stop();
        forgetMeans(w); // what the nodes said meanwhile goes unheard
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
    w->awaitingBootUp = false;
    w->guardTime = std::chrono::milliseconds(0);
    w->lifeTimeFactor = 0;
    w->guard.Stop();
    forgetMeans(*w);
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
    const bool wasGuarding = w->means == Means::Guarding;
    if (!wasGuarding)
        forgetMeans(*w); // asked to guard it: try again, the node may have changed
    // Guarding that runs already with these values goes on undisturbed; a node not seen yet
    // is guarded from when it is.
    const bool same =
        before.guardTime == now.guardTime && before.lifeTimeFactor == now.lifeTimeFactor;
    if (active_ && (w->online || w->guard.Guarding()) &&
        (!wasGuarding || !same || !w->guard.Guarding())) {
        w->restart = true;
        wake();
    }
    return true;
}

bool NodeSupervisor::SuperviseWithoutGuarding(std::uint8_t node) {
    std::uint64_t epoch = 0;
    {
        std::lock_guard lock(mutex_);
        Watch* w = watch(node);
        if (!w || !w->added || !active_)
            return false;
        w->guard.Stop();
        w->restart = false;
        w->means = Means::Deciding;
        epoch = ++w->epoch;
    }
    const Finding finding = findOtherMeans(node);
    settle(node, epoch, finding);
    return finding.kind != Finding::Gone;
}

void NodeSupervisor::Reset(std::uint8_t node) {
    std::lock_guard lock(mutex_);
    if (!active_)
        return;
    const TimePoint now = clock_();
    for (int n = 1; n < 128; ++n) {
        Watch& w = watches_[n];
        if (!w.added || (node != 0 && node != n))
            continue;
        // Only a node that was watched is looked for by guarding after the quiet time; one
        // never seen shows itself with its boot-up.
        w.awaitingBootUp = w.online || w.guard.Guarding() || w.means != Means::Guarding;
        w.online = false;
        w.quietUntil = now + ResetQuietTime;
        w.restart = false;
        w.guard.Stop();
        forgetMeans(w); // its heartbeat time, too, is back to what the node starts with
    }
    wake();
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
    const TimePoint now = clock_();
    const bool errorControl = frame.id == ErrorControlCobId(*source);
    if (errorControl && bus::canopen::IsBootUp(frame, *source)) {
        w.bootUp = true;
        w.state = NmtState::PreOperational;
        if (!w.added)
            return;
        // A new life: guarded afresh, whatever supervised it before.
        w.awaitingBootUp = false;
        w.online = true;
        forgetMeans(w);
        w.guard.OnFrame(frame, now);
        w.restart = true;
        wake();
        return;
    }
    const bool oneByte = errorControl && frame.length == 1;
    if (oneByte && !w.added)
        w.state = static_cast<NmtState>(frame.data[0] & 0x7F);
    if (!w.added)
        return;
    if (w.awaitingBootUp && now < w.quietUntil)
        return; // perhaps said before the reset reached it
    if (w.awaitingBootUp && !oneByte)
        return; // only its boot-up, guarding or heartbeat show it back
    bool heartbeat = false;
    if (oneByte) {
        const std::uint8_t data = frame.data[0];
        bool reply = false;
        if (w.means == Means::Guarding && w.guard.Guarding()) {
            const bool before = w.guard.Answered();
            const GuardEvent event = w.guard.OnFrame(frame, now).event;
            reply = !before && w.guard.Answered();
            if (reply)
                apply(w, event);
        }
        if (reply) {
            w.state = static_cast<NmtState>(data & 0x7F);
        } else if ((data & 0x80) == 0) {
            onHeartbeat(w, data, now);
            heartbeat = true;
        } else {
            return; // a guard reply that answers nothing of ours
        }
    }
    // A node watched by its heartbeat is back only with a heartbeat, which also says when the
    // next one is due: anything else it sent may be the last word of a node that has gone.
    if (w.means == Means::Heartbeat && !heartbeat)
        return;
    w.awaitingBootUp = false;
    w.online = true;
    // A node seen again after guarding lost it is guarded afresh, so that it can be lost
    // again; a node seen for the first time starts being guarded.
    if (w.means == Means::Guarding && (!w.guard.Guarding() || w.guard.Lost())) {
        w.restart = true;
        wake();
    }
}

void NodeSupervisor::onHeartbeat(Watch& w, std::uint8_t data, TimePoint now) {
    w.state = static_cast<NmtState>(data & 0x7F);
    w.heartbeatThisRound = true;
    w.lastHeartbeatLike = now;
    if (w.means == Means::Heartbeat) {
        w.heartbeatDue = now + heartbeatLossTime(w.heartbeatTime);
        wake(); // the thread's deadline moves
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

std::optional<NodeSupervisor::Means> NodeSupervisor::SupervisedBy(std::uint8_t node) const {
    std::lock_guard lock(mutex_);
    const Watch* w = watch(node);
    if (!w || !w->added)
        return std::nullopt;
    return w->means;
}

void NodeSupervisor::Poke() {
    std::unique_lock lock(mutex_);
    const std::uint64_t mine = ++pokes_;
    wake();
    roundDone_.wait(lock, [&] { return stopping_ || pokesSeen_ >= mine; });
}

void NodeSupervisor::WaitForSdoWork() {
    std::unique_lock lock(mutex_);
    sdoChanged_.wait(lock, [&] { return stopping_ || (sdoWork_.empty() && !sdoBusy_); });
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

void NodeSupervisor::startGuarding(Watch& w, TimePoint now, std::vector<CanFrame>& frames) {
    const Timing timing = EffectiveTiming(w.guardTime, w.lifeTimeFactor);
    const GuardOutput out = w.guard.Start(timing.guardTime, timing.lifeTimeFactor, now);
    frames.insert(frames.end(), out.frames.begin(), out.frames.end());
    w.heartbeatThisRound = false;
}

void NodeSupervisor::guardRound(Watch& w, std::uint8_t node, TimePoint now,
                                std::vector<CanFrame>& frames) {
    if (w.restart) {
        w.restart = false;
        startGuarding(w, now, frames);
    } else if (w.awaitingBootUp && !w.guard.Guarding() && now >= w.quietUntil) {
        startGuarding(w, now, frames); // found again by guarding, if it never boots up
    }
    if (w.guard.Guarding() && now >= w.guard.NextRequest()) {
        // A round ends. Without a reply from a node that has never answered a guard request,
        // or for a second time while it sends one-byte frames that answer nothing (a
        // heartbeat, not a reply whose toggle bit went astray, which one round puts right),
        // other means are looked for, unless the node is restarting. Meanwhile such rounds
        // are not missed, nor are silent ones while its frames come often enough for a
        // heartbeat that skips a round.
        if (w.guard.Answered()) {
            w.suspicious = false;
        } else if (!w.awaitingBootUp && w.online) {
            if (w.guard.NeverAnswered() || (w.heartbeatThisRound && w.suspicious)) {
                w.guard.Stop();
                w.means = Means::Deciding;
                w.heartbeatThisRound = false;
                w.suspicious = false;
                queueSdoWork(w, node, false);
                return;
            }
            if (w.heartbeatThisRound) {
                w.suspicious = true;
                w.guard.Excuse();
            } else if (w.suspicious &&
                       now - w.lastHeartbeatLike < heartbeatLossTime(HeartbeatTimeAsked)) {
                w.guard.Excuse();
            }
        }
        w.heartbeatThisRound = false;
    }
    const GuardOutput out = w.guard.OnTime(now);
    apply(w, out.event);
    frames.insert(frames.end(), out.frames.begin(), out.frames.end());
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

void NodeSupervisor::queueSdoWork(Watch& w, std::uint8_t node, bool probe) {
    if (w.sdoWorkQueued)
        return;
    w.sdoWorkQueued = true;
    const std::uint64_t epoch = w.epoch;
    sdoWork_.emplace_back([this, node, epoch, probe] {
        if (probe)
            probed(node, epoch, upload_(node, 0x1000, 0, 4).status == SdoStatus::Done);
        else
            settle(node, epoch, findOtherMeans(node));
    });
    sdoWorkNodes_.push_back(node);
    sdoChanged_.notify_all();
}

NodeSupervisor::Finding NodeSupervisor::findOtherMeans(std::uint8_t node) {
    const auto answered = [](const SdoResult& r) {
        return r.status == SdoStatus::Done || r.abortedByServer;
    };
    std::chrono::milliseconds producer{0};
    const SdoResult read = upload_(node, 0x1017, 0, 2);
    if (read.status == SdoStatus::Done && !read.data.empty()) {
        const unsigned value = read.data[0] | (read.data.size() > 1 ? read.data[1] << 8 : 0);
        producer = std::chrono::milliseconds(value);
    } else if (!answered(read)) {
        return {Finding::Gone, {}};
    }
    if (producer.count() == 0) {
        const auto ms = static_cast<unsigned>(HeartbeatTimeAsked.count());
        const SdoResult write = download_(
            node, 0x1017, 0, {static_cast<std::uint8_t>(ms), static_cast<std::uint8_t>(ms >> 8)});
        if (write.status == SdoStatus::Done)
            producer = HeartbeatTimeAsked;
        else
            return {answered(write) ? Finding::Sdo : Finding::Gone, {}};
    }
    // No guard request comes any more: its life guarding would find the master gone.
    download_(node, 0x100C, 0, {0, 0});
    return {Finding::Heartbeat, producer};
}

void NodeSupervisor::settle(std::uint8_t node, std::uint64_t epoch, const Finding& finding) {
    std::lock_guard lock(mutex_);
    Watch* w = watch(node);
    if (!w || !w->added || !active_ || w->epoch != epoch)
        return; // the node has moved on meanwhile
    const TimePoint now = clock_();
    switch (finding.kind) {
    case Finding::Heartbeat:
        w->means = Means::Heartbeat;
        w->heartbeatTime = finding.heartbeatTime;
        w->heartbeatDue = now + heartbeatLossTime(finding.heartbeatTime);
        break;
    case Finding::Sdo:
        w->means = Means::Sdo;
        w->online = true;
        w->nextProbe = now + ProbePeriod;
        break;
    case Finding::Gone:
        // Guarding again once it says anything.
        w->means = Means::Guarding;
        w->online = false;
        break;
    }
    wake();
}

void NodeSupervisor::probed(std::uint8_t node, std::uint64_t epoch, bool answered) {
    std::lock_guard lock(mutex_);
    Watch* w = watch(node);
    if (!w || !w->added || !active_ || w->epoch != epoch || w->means != Means::Sdo)
        return;
    w->online = answered;
    w->nextProbe = clock_() + ProbePeriod;
    wake();
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
                switch (w.means) {
                case Means::Guarding:
                    guardRound(w, static_cast<std::uint8_t>(node), now, frames);
                    next = std::min(next, w.guard.NextRequest());
                    if (w.awaitingBootUp && !w.guard.Guarding())
                        next = std::min(next, w.quietUntil);
                    break;
                case Means::Heartbeat:
                    if (now >= w.heartbeatDue) {
                        w.online = false; // its next heartbeat brings it back
                        w.heartbeatDue = NoDeadline;
                    }
                    next = std::min(next, w.heartbeatDue);
                    break;
                case Means::Sdo:
                    if (now >= w.nextProbe) {
                        w.nextProbe = NoDeadline; // set again by the probe's answer
                        queueSdoWork(w, static_cast<std::uint8_t>(node), true);
                    }
                    next = std::min(next, w.nextProbe);
                    break;
                case Means::Deciding:
                    break;
                }
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

void NodeSupervisor::runSdoWork() {
    std::unique_lock lock(mutex_);
    while (true) {
        sdoChanged_.wait(lock, [this] { return stopping_ || !sdoWork_.empty(); });
        if (stopping_)
            break;
        std::function<void()> work = std::move(sdoWork_.front());
        sdoWork_.pop_front();
        const std::uint8_t node = sdoWorkNodes_.front();
        sdoWorkNodes_.pop_front();
        sdoBusy_ = true;
        lock.unlock();
        work();
        lock.lock();
        watches_[node].sdoWorkQueued = false;
        sdoBusy_ = false;
        sdoChanged_.notify_all();
    }
    sdoWork_.clear();
    sdoWorkNodes_.clear();
    sdoChanged_.notify_all();
}

} // namespace copn
