#include "NodeSupervisor.h"

#include "LittleEndian.h"

#include <algorithm>
#include <cstdio>

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

// The longest burst of guard requests, as time of the share: requests that come due together
// (after a start, say) go out spread over the time the share needs for them.
constexpr double RoomSeconds = 0.2;

// Set on the threads (and in the calls) where the supervisor makes its own SDO transfers:
// its own writes of 0x1017 are not the program's.
thread_local bool supervisorTransfer = false;

// A 16-bit entry (0x1017, 0x100C) as an SDO download writes it, and its value from the bytes
// an upload or a download carried (a one-byte answer too).
std::vector<std::uint8_t> entry16(std::chrono::milliseconds value) {
    return drivercore::ToLittleEndian(static_cast<std::uint16_t>(value.count()));
}
std::chrono::milliseconds value16(const std::vector<std::uint8_t>& bytes) {
    return std::chrono::milliseconds(bytes[0] | (bytes.size() > 1 ? bytes[1] << 8 : 0));
}

// A frame's bits on the wire, roughly (a tenth for stuff bits): enough to tell a full bus.
std::uint32_t roughBits(const CanFrame& frame) {
    const std::uint32_t bits = 47 + (frame.remote ? 0u : 8u * frame.length);
    return bits + bits / 10;
}

} // namespace

NodeSupervisor::NodeSupervisor(Send send, Upload upload, Download download, MasterClock clock)
    : send_(std::move(send)), upload_(std::move(upload)), download_(std::move(download)),
      clock_(std::move(clock)), sdoWork_(128), sdoRunning_(128, false) {
    watches_.reserve(128);
    for (int node = 0; node < 128; ++node)
        watches_.emplace_back(static_cast<std::uint8_t>(node));
    room_ = budget_.BitsPerSecond() * RoomSeconds;
    thread_ = std::thread([this] { run(); });
    for (int i = 0; i < SdoWorkers; ++i)
        sdoThreads_.emplace_back([this] { runSdoWork(); });
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
    for (std::thread& t : sdoThreads_)
        if (t.joinable())
            t.join();
    std::lock_guard lock(mutex_);
    for (auto& work : sdoWork_)
        work.clear();
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

// The node has started afresh: what the master wrote to it is gone.
template <typename Watch> void forgetWrites(Watch& w) {
    w.written = {std::chrono::milliseconds(0), 0};
    w.heartbeatBefore.reset();
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

void NodeSupervisor::SetBitRate(std::uint32_t bitRate) {
    std::lock_guard lock(mutex_);
    budget_ = SupervisionBudget(bitRate, budget_.SharePercent());
    room_ = std::min(room_, budget_.BitsPerSecond() * RoomSeconds);
    wake();
}

void NodeSupervisor::SetBusShare(unsigned percent) {
    std::lock_guard lock(mutex_);
    budget_ = SupervisionBudget(budget_.BitRate(), percent);
    room_ = std::min(room_, budget_.BitsPerSecond() * RoomSeconds);
    wake();
}

SupervisionBudget NodeSupervisor::Budget() const {
    std::lock_guard lock(mutex_);
    return budget_;
}

double NodeSupervisor::Stretch() const {
    std::lock_guard lock(mutex_);
    return stretch_;
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

std::optional<NodeSupervisor::Timing> NodeSupervisor::Guard(std::uint8_t node,
                                                            std::chrono::milliseconds guardTime,
                                                            std::uint8_t lifeTimeFactor) {
    std::lock_guard lock(mutex_);
    Watch* w = watch(node);
    if (!w || !w->added)
        return std::nullopt;
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
    if (guardTime <= std::chrono::milliseconds(0) || lifeTimeFactor == 0)
        return Timing{guardTime, lifeTimeFactor};
    // Long enough for the periods that every added node guarded would need, twice over: a
    // request put off for room on the bus may come up to a period late.
    std::size_t added = 0;
    for (const Watch& other : watches_)
        added += other.added ? 1 : 0;
    const double stretch = std::max(stretchFor(added, now), stretch_);
    if (stretch <= 1.0)
        return Timing{guardTime, lifeTimeFactor};
    return Timing{std::max(guardTime, SupervisionBudget::Stretched(now.guardTime, 2 * stretch)),
                  lifeTimeFactor};
}

void NodeSupervisor::GuardingWritten(std::uint8_t node, Timing written) {
    std::lock_guard lock(mutex_);
    if (Watch* w = watch(node))
        w->written = written;
}

std::optional<NodeSupervisor::Timing> NodeSupervisor::GuardingOf(std::uint8_t node) const {
    std::lock_guard lock(mutex_);
    const Watch* w = watch(node);
    if (!w || !w->added || w->means != Means::Guarding || !w->guard.Guarding())
        return std::nullopt;
    return Timing{w->guard.GuardTime(), w->guard.LifeTimeFactor()};
}

void NodeSupervisor::HeartbeatTimeWritten(std::uint8_t node,
                                          const std::vector<std::uint8_t>& value) {
    if (supervisorTransfer || value.empty())
        return;
    std::lock_guard lock(mutex_);
    Watch* w = watch(node);
    if (!w || !w->added || !active_)
        return;
    w->heartbeatBefore.reset(); // the program's choice from now on
    if (w->means != Means::Heartbeat)
        return; // a guarded node is followed by what it does next
    const TimePoint now = clock_();
    const std::chrono::milliseconds producerTime = value16(value);
    if (producerTime.count() > 0) {
        followHeartbeat(*w, producerTime, now);
    } else {
        // No heartbeat any more: it is asked by SDO whether it is there.
        ++w->epoch;
        probeFrom(*w, now);
    }
    wake();
}

void NodeSupervisor::RestoreWrites() {
    std::vector<std::pair<std::uint8_t, std::uint16_t>> restore;
    {
        std::lock_guard lock(mutex_);
        for (int node = 1; node < 128; ++node) {
            Watch& w = watches_[node];
            if (w.heartbeatBefore && w.online && active_)
                restore.emplace_back(static_cast<std::uint8_t>(node), *w.heartbeatBefore);
            w.heartbeatBefore.reset();
        }
    }
    supervisorTransfer = true;
    for (const auto& [node, value] : restore)
        download_(node, 0x1017, 0, entry16(std::chrono::milliseconds(value)));
    supervisorTransfer = false;
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
    bool lifeWritten = false;
    std::chrono::milliseconds asked{};
    {
        std::lock_guard lock(mutex_);
        lifeWritten = watches_[node].written.guardTime.count() > 0;
        asked = SupervisionBudget::Stretched(HeartbeatTimeAsked, stretch_);
    }
    supervisorTransfer = true;
    const Finding finding = findOtherMeans(node, lifeWritten, asked); // it refused guarding
    supervisorTransfer = false;
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
        forgetWrites(w);
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
    countBits(roughBits(frame), now);
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
        forgetWrites(w);
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
    const TimePoint previous = w.lastHeartbeatLike;
    w.lastHeartbeatLike = now;
    if (w.means == Means::Heartbeat) {
        w.heartbeatDue = now + heartbeatLossTime(w.heartbeatTime);
        // Off its period (by half of it): its producer time may have changed. Asked at most
        // once in ten periods, so that a bus that delays frames does not cost a read each.
        const auto interval = now - previous;
        const auto period = w.heartbeatTime;
        if ((interval < period / 2 || interval > period * 3 / 2) &&
            now - w.checkedAt >= period * 10)
            queueCheck(w, w.guard.Node());
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
    sdoChanged_.wait(lock, [&] {
        return stopping_ || (sdoBusy_ == 0 && std::all_of(sdoWork_.begin(), sdoWork_.end(),
                                                          [](const auto& w) { return w.empty(); }));
    });
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

NodeSupervisor::Timing NodeSupervisor::baseTiming(const Watch& w) const {
    return EffectiveTiming(w.guardTime, w.lifeTimeFactor);
}

NodeSupervisor::Timing NodeSupervisor::masterTiming(const Watch& w) const {
    const Timing base = baseTiming(w);
    return {SupervisionBudget::Stretched(base.guardTime, stretch_), base.lifeTimeFactor};
}

// What the nodes watched by heartbeat or by SDO send now, at the probes' own period.
SupervisionBudget::Load NodeSupervisor::loadBesideGuarding() const {
    SupervisionBudget::Load load;
    for (int node = 1; node < 128; ++node) {
        const Watch& w = watches_[node];
        if (!w.added)
            continue;
        if (w.means == Means::Heartbeat && w.heartbeatTime.count() > 0)
            load.AddHeartbeat(w.heartbeatTime);
        else if (w.means == Means::Sdo)
            load.AddProbe(ProbePeriod);
    }
    return load;
}

// The stretch were guardedNodes guarded at base, beside the heartbeats and probes of now.
double NodeSupervisor::stretchFor(std::size_t guardedNodes, Timing base) const {
    SupervisionBudget::Load load = loadBesideGuarding();
    for (std::size_t i = 0; i < guardedNodes; ++i)
        load.AddGuarding(bus::canopen::GuardingMaster::RequestPeriod(base.guardTime));
    return budget_.Stretch(load);
}

// The stretch for what is supervised now; guarding follows it from its next round.
void NodeSupervisor::restretch() {
    SupervisionBudget::Load load = loadBesideGuarding();
    for (int node = 1; node < 128; ++node) {
        const Watch& w = watches_[node];
        if (w.added && w.means == Means::Guarding && (w.guard.Guarding() || w.restart))
            load.AddGuarding(bus::canopen::GuardingMaster::RequestPeriod(baseTiming(w).guardTime));
    }
    stretch_ = budget_.Stretch(load);
    for (int node = 1; node < 128; ++node) {
        Watch& w = watches_[node];
        if (!w.added || w.means != Means::Guarding || !w.guard.Guarding())
            continue;
        const Timing timing = masterTiming(w);
        if (timing.guardTime != w.guard.GuardTime() ||
            timing.lifeTimeFactor != w.guard.LifeTimeFactor())
            w.guard.Retime(timing.guardTime, timing.lifeTimeFactor);
        // The node's life guarding must outlast the master's rounds, one of them put off.
        const auto life = w.written.guardTime * std::max<int>(w.written.lifeTimeFactor, 1);
        if (w.written.guardTime.count() > 0 && timing.guardTime > w.written.guardTime &&
            2 * bus::canopen::GuardingMaster::RequestPeriod(timing.guardTime) >= life)
            queueRewrite(w, static_cast<std::uint8_t>(node), timing);
    }
}

void NodeSupervisor::countBits(std::uint32_t bits, TimePoint now) {
    if (windowStart_ == TimePoint{} || now < windowStart_)
        windowStart_ = now;
    const auto elapsed = now - windowStart_;
    if (elapsed >= std::chrono::seconds(1)) {
        const double seconds = std::chrono::duration<double>(elapsed).count();
        lastLoad_ = double(windowBits_) / (double(budget_.BitRate()) * seconds);
        windowBits_ = 0;
        windowStart_ = now;
    }
    windowBits_ += bits;
}

bool NodeSupervisor::saturated(TimePoint now) const {
    const double limit = SaturatedPercent / 100.0;
    if (lastLoad_ >= limit)
        return true;
    // The window under way, once it holds enough to tell.
    const double seconds = std::chrono::duration<double>(now - windowStart_).count();
    return seconds >= 0.1 && double(windowBits_) / (double(budget_.BitRate()) * seconds) >= limit;
}

// Takes the bits of one guard round from the room; false, with when to try again, when there
// is not enough.
bool NodeSupervisor::takeRoom(TimePoint now, TimePoint* retry) {
    const double rate = budget_.BitsPerSecond();
    const double most = std::max(rate * RoomSeconds, double(SupervisionBudget::GuardRoundBits()));
    if (now > roomAt_) {
        room_ = std::min(most, room_ + rate * std::chrono::duration<double>(now - roomAt_).count());
        roomAt_ = now;
    }
    const double need = SupervisionBudget::GuardRoundBits();
    if (room_ >= need) {
        room_ -= need;
        return true;
    }
    const auto wait = std::chrono::duration<double>((need - room_) / rate);
    *retry = now + std::chrono::ceil<std::chrono::microseconds>(wait);
    return false;
}

void NodeSupervisor::startGuarding(Watch& w, TimePoint now, std::vector<CanFrame>& frames) {
    const Timing timing = masterTiming(w);
    const GuardOutput out = w.guard.Start(timing.guardTime, timing.lifeTimeFactor, now);
    frames.insert(frames.end(), out.frames.begin(), out.frames.end());
    w.heartbeatThisRound = false;
    w.silentRounds = 0;
}

void NodeSupervisor::guardRound(Watch& w, std::uint8_t node, TimePoint now,
                                std::vector<CanFrame>& frames) {
    const bool start =
        w.restart || (w.awaitingBootUp && !w.guard.Guarding() && now >= w.quietUntil);
    const bool due = w.guard.Guarding() && now >= w.guard.NextRequest();
    if (!start && !due)
        return;
    // A request waits for room on the bus; the round it ends lasts that much longer.
    TimePoint retry{};
    if (!takeRoom(now, &retry)) {
        if (due)
            w.guard.PutOff(retry);
        else
            w.startAt = retry;
        return;
    }
    w.startAt = NoDeadline;
    if (start) {
        w.restart = false;
        startGuarding(w, now, frames); // found again by guarding, if it never boots up
        return;
    }
    // A round ends. Without a reply for a second time while the node sends one-byte frames
    // that answer nothing (a heartbeat, not a reply whose toggle bit went astray, which one
    // round puts right), or for the SilentRounds-th time from a node that has never answered
    // a guard request, on a bus with room where a reply would have come, other means are
    // looked for, unless the node is restarting. Meanwhile such rounds are not missed, nor
    // are silent ones while its frames come often enough for a heartbeat that skips a round.
    // On a saturated bus a silent round is missed like any other.
    if (w.guard.Answered()) {
        w.suspicious = false;
    } else if (!w.awaitingBootUp && w.online) {
        if (w.heartbeatThisRound && w.suspicious) {
            decide(w, node); // heartbeats while its guard requests go unanswered
            return;
        }
        if (w.heartbeatThisRound) {
            w.suspicious = true;
            w.guard.Excuse();
        } else if (w.guard.NeverAnswered() && !saturated(now)) {
            if (++w.silentRounds >= SilentRounds) {
                decide(w, node); // silent rounds on a bus with room
                return;
            }
            w.guard.Excuse();
        } else if (w.suspicious &&
                   now - w.lastHeartbeatLike < heartbeatLossTime(HeartbeatTimeAsked)) {
            w.guard.Excuse();
        }
    }
    w.heartbeatThisRound = false;
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

void NodeSupervisor::queueSdoWork(std::uint8_t node, std::function<void()> work) {
    sdoWork_[node].push_back(std::move(work));
    sdoChanged_.notify_all();
}

void NodeSupervisor::decide(Watch& w, std::uint8_t node) {
    w.guard.Stop();
    w.means = Means::Deciding;
    w.heartbeatThisRound = false;
    w.suspicious = false;
    const std::uint64_t epoch = ++w.epoch;
    const bool lifeWritten = w.written.guardTime.count() > 0;
    const auto asked = SupervisionBudget::Stretched(HeartbeatTimeAsked, stretch_);
    queueSdoWork(node, [this, node, epoch, lifeWritten, asked] {
        settle(node, epoch, findOtherMeans(node, lifeWritten, asked));
    });
}

NodeSupervisor::Finding NodeSupervisor::findOtherMeans(std::uint8_t node, bool lifeWritten,
                                                       std::chrono::milliseconds heartbeatAsked) {
    const auto answered = [](const SdoResult& r) {
        return r.status == SdoStatus::Done || r.abortedByServer;
    };
    Finding finding{Finding::Heartbeat, {}, {}, false};
    const SdoResult read = upload_(node, 0x1017, 0, 2);
    if (read.status == SdoStatus::Done && !read.data.empty())
        finding.heartbeatTime = value16(read.data);
    else if (!answered(read))
        return {Finding::Gone, {}, {}, false};
    if (finding.heartbeatTime.count() == 0) {
        // Neither guarding nor a heartbeat: it is given one.
        const SdoResult write = download_(node, 0x1017, 0, entry16(heartbeatAsked));
        if (write.status != SdoStatus::Done)
            return {answered(write) ? Finding::Sdo : Finding::Gone, {}, {}, false};
        finding.heartbeatTime = heartbeatAsked;
        finding.heartbeatBefore = 0;
    }
    // No guard request comes any more: life guarding the master switched on would find the
    // master gone.
    if (lifeWritten)
        finding.lifeGuardingOff =
            download_(node, 0x100C, 0, entry16(std::chrono::milliseconds(0))).status ==
            SdoStatus::Done;
    return finding;
}

void NodeSupervisor::settle(std::uint8_t node, std::uint64_t epoch, const Finding& finding) {
    std::lock_guard lock(mutex_);
    Watch* w = watch(node);
    if (!w || !w->added || !active_ || w->epoch != epoch)
        return; // the node has moved on meanwhile
    const TimePoint now = clock_();
    if (finding.heartbeatBefore)
        w->heartbeatBefore = finding.heartbeatBefore;
    if (finding.lifeGuardingOff)
        w->written = {std::chrono::milliseconds(0), 0};
    switch (finding.kind) {
    case Finding::Heartbeat:
        w->means = Means::Heartbeat;
        w->heartbeatTime = finding.heartbeatTime;
        w->heartbeatDue = now + heartbeatLossTime(finding.heartbeatTime);
        w->checkedAt = now;
        break;
    case Finding::Sdo:
        probeFrom(*w, now);
        w->online = true;
        break;
    case Finding::Gone:
        // Guarding again once it says anything.
        w->means = Means::Guarding;
        w->online = false;
        break;
    }
    wake();
}

void NodeSupervisor::queueProbe(Watch& w, std::uint8_t node) {
    w.probeQueued = true;
    const std::uint64_t epoch = w.epoch;
    queueSdoWork(node, [this, node, epoch] {
        probed(node, epoch, upload_(node, 0x1000, 0, 4).status == SdoStatus::Done);
    });
}

void NodeSupervisor::probed(std::uint8_t node, std::uint64_t epoch, bool answered) {
    std::lock_guard lock(mutex_);
    Watch* w = watch(node);
    if (!w)
        return;
    w->probeQueued = false;
    if (!w->added || !active_ || w->epoch != epoch || w->means != Means::Sdo)
        return;
    w->online = answered;
    w->nextProbe = clock_() + SupervisionBudget::Stretched(ProbePeriod, stretch_);
    wake();
}

// Reads the node's producer time again: its heartbeat is late, or off its period.
void NodeSupervisor::queueCheck(Watch& w, std::uint8_t node) {
    if (w.checkQueued)
        return;
    w.checkQueued = true;
    const std::uint64_t epoch = w.epoch;
    queueSdoWork(node, [this, node, epoch] { checked(node, epoch, upload_(node, 0x1017, 0, 2)); });
}

void NodeSupervisor::checked(std::uint8_t node, std::uint64_t epoch, const SdoResult& read) {
    std::lock_guard lock(mutex_);
    Watch* w = watch(node);
    if (!w)
        return;
    w->checkQueued = false;
    if (!w->added || !active_ || w->epoch != epoch || w->means != Means::Heartbeat)
        return;
    const TimePoint now = clock_();
    w->checkedAt = now;
    if (read.status != SdoStatus::Done || read.data.empty()) {
        if (now >= w->heartbeatDue) {
            w->online = false; // its next heartbeat brings it back
            w->heartbeatDue = NoDeadline;
        }
        wake();
        return;
    }
    const std::chrono::milliseconds producerTime = value16(read.data);
    w->online = true; // it answered
    const bool late = now >= w->heartbeatDue;
    if (producerTime.count() == 0 || (late && producerTime == w->heartbeatTime)) {
        // Its heartbeat was switched off, or stopped while it answers: it is asked by SDO
        // whether it is there.
        ++w->epoch;
        w->heartbeatBefore.reset();
        probeFrom(*w, now);
    } else {
        followHeartbeat(*w, producerTime, now);
    }
    wake();
}

// Watched by SDO from now on: first asked a probe period from now.
void NodeSupervisor::probeFrom(Watch& w, TimePoint now) {
    w.means = Means::Sdo;
    w.heartbeatDue = NoDeadline;
    w.nextProbe = now + SupervisionBudget::Stretched(ProbePeriod, stretch_);
}

// Its heartbeat comes every producerTime from now on: lost when none comes for the loss time
// from now, or later where it was due later.
void NodeSupervisor::followHeartbeat(Watch& w, std::chrono::milliseconds producerTime,
                                     TimePoint now) {
    w.heartbeatTime = producerTime;
    w.heartbeatDue = std::max(w.heartbeatDue == NoDeadline ? now : w.heartbeatDue,
                              now + heartbeatLossTime(producerTime));
}

// The node's life time would end before the master's next request: a longer guard time, with
// room for the periods to grow further.
void NodeSupervisor::queueRewrite(Watch& w, std::uint8_t node, Timing timing) {
    if (w.rewriteQueued)
        return;
    w.rewriteQueued = true;
    const std::uint64_t epoch = w.epoch;
    const Timing written{SupervisionBudget::Stretched(timing.guardTime, 3),
                         w.written.lifeTimeFactor};
    queueSdoWork(node, [this, node, epoch, written] {
        const bool done =
            download_(node, 0x100C, 0, entry16(written.guardTime)).status == SdoStatus::Done;
        std::lock_guard lock(mutex_);
        Watch& w = watches_[node];
        w.rewriteQueued = false;
        if (done && w.epoch == epoch)
            w.written = written;
    });
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
            restretch();
            for (int node = 1; node < 128; ++node) {
                Watch& w = watches_[node];
                if (!w.added)
                    continue;
                switch (w.means) {
                case Means::Guarding:
                    guardRound(w, static_cast<std::uint8_t>(node), now, frames);
                    next = std::min({next, w.guard.NextRequest(), w.startAt});
                    if (w.awaitingBootUp && !w.guard.Guarding())
                        next = std::min(next, w.quietUntil);
                    break;
                case Means::Heartbeat:
                    // Late: lost, unless it answers a read of its producer time.
                    if (now >= w.heartbeatDue && !w.checkQueued)
                        queueCheck(w, static_cast<std::uint8_t>(node));
                    if (!w.checkQueued)
                        next = std::min(next, w.heartbeatDue);
                    break;
                case Means::Sdo:
                    // A probe still queued or running keeps the next one waiting for it.
                    if (now >= w.nextProbe && !w.probeQueued) {
                        w.nextProbe = NoDeadline; // set again by the probe's answer
                        queueProbe(w, static_cast<std::uint8_t>(node));
                    }
                    if (!w.probeQueued)
                        next = std::min(next, w.nextProbe);
                    break;
                case Means::Deciding:
                    break;
                }
            }
            for (const CanFrame& frame : frames)
                countBits(roughBits(frame), now);
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

// Takes the nodes' work in turn, one piece of a node at a time, never two of one node at once.
void NodeSupervisor::runSdoWork() {
    supervisorTransfer = true;
    std::unique_lock lock(mutex_);
    while (true) {
        std::size_t node = 0;
        sdoChanged_.wait(lock, [&] {
            if (stopping_)
                return true;
            for (std::size_t i = 0; i < sdoWork_.size(); ++i) {
                const std::size_t n = (sdoTurn_ + i) % sdoWork_.size();
                if (!sdoWork_[n].empty() && !sdoRunning_[n]) {
                    node = n;
                    return true;
                }
            }
            return false;
        });
        if (stopping_)
            break;
        sdoTurn_ = (node + 1) % sdoWork_.size();
        std::function<void()> work = std::move(sdoWork_[node].front());
        sdoWork_[node].pop_front();
        sdoRunning_[node] = true;
        ++sdoBusy_;
        lock.unlock();
        work();
        lock.lock();
        sdoRunning_[node] = false;
        --sdoBusy_;
        sdoChanged_.notify_all();
        wake(); // what it found may move the thread's deadlines
    }
    sdoChanged_.notify_all();
}

} // namespace copn
