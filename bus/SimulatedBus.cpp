#include "SimulatedBus.h"

#include "CanTrace.h"
#include "SpinWait.h"
#include "WireTiming.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <queue>
#include <sys/prctl.h>
#include <vector>

namespace bus {

namespace {

using Clock = std::chrono::steady_clock;

struct Pending {
    Clock::time_point due;
    std::uint64_t sequence;
    CanFrame frame;
    std::uint64_t sender;
    bool delayed = false;
};

struct LaterFirst {
    bool operator()(const Pending& a, const Pending& b) const {
        return a.due != b.due ? a.due > b.due : a.sequence > b.sequence;
    }
};

struct FaultPlan {
    BusFault fault;
    std::chrono::nanoseconds delay;
};

} // namespace

struct SimulatedBusCore {
    std::string name;
    std::shared_ptr<CanTrace> trace;

    mutable std::mutex mutex;
    std::condition_variable work;     // a frame was queued, or the bus stops
    std::condition_variable progress; // a delivery ended, or the queue ran empty
    bool closed = false;

    struct Attached {
        std::uint64_t id;
        SimulatedPort* port;
    };
    std::vector<Attached> ports; // in the order they were attached
    std::uint64_t nextPortId = 1;

    std::atomic<std::uint32_t> bitRate{0}; // written under the mutex, read anywhere
    Clock::time_point wireFree{};
    std::uint64_t sent = 0;
    std::uint64_t nextSequence = 0;
    std::atomic<std::uint64_t> queued{0}; // frames queued since the bus began, read unlocked
    std::priority_queue<Pending, std::vector<Pending>, LaterFirst> queue;
    std::map<std::uint64_t, FaultPlan> faults; // by the frame's number since the bus began

    bool delivering = false;            // a frame is being handed out
    SimulatedPort* receiving = nullptr; // the port whose handler runs now
    std::thread::id deliveryThread;

    // due: when the frame arrives (unchanged for a lost one).
    bool Send(std::uint64_t sender, CanFrame frame, std::string& error, Clock::time_point& due);
    void Run();
    void Deliver(const Pending& pending, std::unique_lock<std::mutex>& lock);
    void Detach(SimulatedPort* port);
};

bool SimulatedBusCore::Send(std::uint64_t sender, CanFrame frame, std::string& error,
                            Clock::time_point& arrival) {
    std::lock_guard lock(mutex);
    if (closed) {
        error = "the simulated bus " + name + " is gone";
        return false;
    }
    const std::uint64_t number = ++sent;
    std::optional<FaultPlan> plan;
    if (auto it = faults.find(number); it != faults.end()) {
        plan = it->second;
        faults.erase(it);
    }

    const Clock::time_point now = Clock::now();
    Clock::time_point due = now;
    if (bitRate != 0) {
        due = std::max(now, wireFree) + FrameTime(frame, bitRate);
        wireFree = due;
    }
    bool delayed = false;
    if (plan) {
        switch (plan->fault) {
        case BusFault::Lose:
            return true;
        case BusFault::Corrupt:
            if (frame.remote || frame.length == 0)
                return true;
            for (std::size_t i = 0; i < frame.length; ++i)
                frame.data[i] = static_cast<std::uint8_t>(~frame.data[i]);
            break;
        case BusFault::Delay:
            due += plan->delay;
            delayed = true;
            break;
        case BusFault::Duplicate:
            queue.push({due, nextSequence++, frame, sender, false});
            if (bitRate != 0) {
                due = std::max(due, wireFree) + FrameTime(frame, bitRate);
                wireFree = due;
            }
            break;
        }
    }
    queue.push({due, nextSequence++, frame, sender, delayed});
    arrival = due;
    queued.fetch_add(1, std::memory_order_release);
    work.notify_one();
    return true;
}

void SimulatedBusCore::Run() {
    // Wake-ups as close to the frames' times as the kernel allows.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    std::unique_lock lock(mutex);
    deliveryThread = std::this_thread::get_id();
    while (!closed) {
        if (queue.empty()) {
            progress.notify_all();
            // A reply usually follows within microseconds: look for it a little while
            // before sleeping, since waking a sleeping thread costs more than the frame.
            // Only without a wire: with one, the next frame is a frame time away at least.
            if (bitRate.load() == 0) {
                const std::uint64_t seen = queued.load(std::memory_order_acquire);
                lock.unlock();
                SpinBriefly([&] { return queued.load(std::memory_order_acquire) != seen; });
                lock.lock();
            }
            if (queue.empty() && !closed)
                work.wait(lock);
            continue;
        }
        const Clock::time_point due = queue.top().due;
        if (due > Clock::now()) {
            work.wait_until(lock, due);
            continue;
        }
        const Pending pending = queue.top();
        queue.pop();
        Deliver(pending, lock);
    }
    progress.notify_all();
}

void SimulatedBusCore::Deliver(const Pending& pending, std::unique_lock<std::mutex>& lock) {
    delivering = true;
    if (trace) {
        lock.unlock();
        trace->Record(name, pending.frame);
        lock.lock();
    }
    // Ports may come and go while the handlers run: hand the frame to those that were
    // attached when it arrived and still are.
    const std::vector<Attached> receivers = ports;
    for (const Attached& receiver : receivers) {
        if (closed)
            break;
        if (receiver.id == pending.sender)
            continue;
        const bool stillAttached = std::any_of(
            ports.begin(), ports.end(), [&](const Attached& a) { return a.id == receiver.id; });
        if (!stillAttached)
            continue;
        receiving = receiver.port;
        lock.unlock();
        receiver.port->DeliverFromBus(pending.frame);
        lock.lock();
        receiving = nullptr;
        progress.notify_all();
    }
    delivering = false;
    progress.notify_all();
}

void SimulatedBusCore::Detach(SimulatedPort* port) {
    std::unique_lock lock(mutex);
    std::erase_if(ports, [port](const Attached& a) { return a.port == port; });
    if (std::this_thread::get_id() == deliveryThread)
        return;
    progress.wait(lock, [&] { return receiving != port; });
}

SimulatedPort::SimulatedPort(std::shared_ptr<SimulatedBusCore> core, std::uint64_t id)
    : core_(std::move(core)), id_(id) {}

SimulatedPort::~SimulatedPort() {
    core_->Detach(this);
}

PortState SimulatedPort::State() const {
    {
        std::lock_guard lock(core_->mutex);
        if (core_->closed)
            return PortState::Closed;
    }
    if (busOff_.load())
        return PortState::BusOff;
    if (listenOnly_.load())
        return PortState::ListenOnly;
    return PortState::Active;
}

std::string SimulatedPort::Name() const {
    return core_->name;
}

bool SimulatedPort::Immediate() const {
    return core_->bitRate.load() == 0;
}

bool SimulatedPort::SendFrame(const CanFrame& frame) {
    if (busOff_.load()) {
        SetError("the port is bus-off");
        return false;
    }
    if (listenOnly_.load()) {
        SetError("the port only listens");
        return false;
    }
    std::string error;
    Clock::time_point due{};
    if (!core_->Send(id_, frame, error, due)) {
        SetError(error);
        return false;
    }
    if (due != Clock::time_point{})
        lastDue_.store(due.time_since_epoch().count(), std::memory_order_relaxed);
    return true;
}

std::chrono::nanoseconds SimulatedPort::Backlog() const {
    const Clock::time_point due{Clock::duration(lastDue_.load(std::memory_order_relaxed))};
    return std::max<std::chrono::nanoseconds>(due - Clock::now(), std::chrono::nanoseconds(0));
}

SimulatedBus::SimulatedBus(std::string name)
    : name_(std::move(name)), core_(std::make_shared<SimulatedBusCore>()) {
    core_->name = name_;
    core_->trace = CanTrace::FromEnvironment();
    thread_ = std::thread([core = core_] { core->Run(); });
}

SimulatedBus::~SimulatedBus() {
    {
        std::lock_guard lock(core_->mutex);
        core_->closed = true;
        core_->faults.clear();
        core_->queue = {};
    }
    core_->work.notify_all();
    core_->progress.notify_all();
    if (std::this_thread::get_id() == thread_.get_id())
        thread_.detach(); // destroyed from a handler: the thread ends when the handler returns
    else
        thread_.join();
}

std::unique_ptr<SimulatedPort> SimulatedBus::Attach() {
    std::lock_guard lock(core_->mutex);
    const std::uint64_t id = core_->nextPortId++;
    std::unique_ptr<SimulatedPort> port(new SimulatedPort(core_, id));
    core_->ports.push_back({id, port.get()});
    return port;
}

void SimulatedBus::SetBitRate(std::uint32_t bitRate) {
    std::lock_guard lock(core_->mutex);
    core_->bitRate = bitRate;
}

std::uint32_t SimulatedBus::BitRate() const {
    std::lock_guard lock(core_->mutex);
    return core_->bitRate;
}

void SimulatedBus::InjectFault(BusFault fault, std::uint64_t nth, std::chrono::nanoseconds delay) {
    std::lock_guard lock(core_->mutex);
    core_->faults[core_->sent + std::max<std::uint64_t>(nth, 1)] = {fault, delay};
}

void SimulatedBus::ReleaseDelayed() {
    {
        std::lock_guard lock(core_->mutex);
        std::vector<Pending> pending;
        while (!core_->queue.empty()) {
            pending.push_back(core_->queue.top());
            core_->queue.pop();
        }
        const Clock::time_point now = Clock::now();
        for (Pending& p : pending) {
            if (p.delayed) {
                p.due = std::min(p.due, now);
                p.delayed = false;
            }
            core_->queue.push(p);
        }
    }
    core_->work.notify_all();
}

std::uint64_t SimulatedBus::FramesSent() const {
    std::lock_guard lock(core_->mutex);
    return core_->sent;
}

void SimulatedBus::WaitIdle() {
    std::unique_lock lock(core_->mutex);
    if (std::this_thread::get_id() == core_->deliveryThread)
        return;
    core_->progress.wait(
        lock, [&] { return core_->closed || (core_->queue.empty() && !core_->delivering); });
}

} // namespace bus
