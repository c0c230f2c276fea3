#include "DnetMaster.h"

#include "DnetErrors.h"

#include <algorithm>
#include <random>
#include <utility>

namespace dnet {

using bus::CanFrame;
using bus::devicenet::DuplicateMacCheck;
using bus::devicenet::ExplicitClient;
using bus::devicenet::ExplicitFailure;
using bus::devicenet::ExplicitStatus;
using bus::devicenet::Group2Message;
using bus::devicenet::MacCheckState;
using bus::devicenet::Output;
using bus::devicenet::ValidMac;

namespace {

ExplicitResult refused() {
    ExplicitResult result;
    result.status = ExplicitStatus::Failed;
    result.failure = ExplicitFailure::Cancelled;
    return result;
}

std::uint32_t randomSerial() {
    std::random_device random;
    return random();
}

} // namespace

Master::Master(std::shared_ptr<bus::CanPort> port, MasterClock clock)
    : CanMaster(std::move(port)), clock_(std::move(clock)), serialNumber_(randomSerial()) {
    for (std::size_t node = 0; node < links_.size(); ++node)
        links_[node].client =
            std::make_unique<ExplicitClient>(0, static_cast<std::uint8_t>(node), Timeout);
    thread_ = std::thread([this] { loop(); });
    Listen();
}

Master::~Master() {
    Shutdown();
}

void Master::Shutdown() {
    {
        std::unique_lock lock(mutex_);
        if (online_.load() && !stopping_)
            leave(lock);
    }
    StopSending();
    {
        std::lock_guard lock(mutex_);
        goOffline();
        stopping_ = true;
        wake();
        changed_.notify_all();
        roundDone_.notify_all();
    }
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
        thread_.join();
    StopListening();
}

std::uint32_t Master::WhyNotOnline() const {
    return DuplicateFound() ? ErrorDuplicateMac : drivercore::ErrorWrongMode;
}

bool Master::SetOwnMac(std::uint8_t mac) {
    if (!ValidMac(mac))
        return false;
    std::lock_guard lock(mutex_);
    if (online_.load() || checking_)
        return false;
    ownMac_.store(mac);
    return true;
}

bool Master::SetOnline(bool online) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return (!checking_ && !leaving_) || stopping_; });
    if (!online) {
        if (online_.load() && !stopping_)
            leave(lock);
        else
            goOffline();
        return true;
    }
    if (online_.load())
        return true;
    if (stopping_ || !CanSend())
        return false;
    // The transfers that going offline ended let go of their links first.
    changed_.wait(lock, [&] {
        return stopping_ || std::all_of(links_.begin(), links_.end(),
                                        [](const Link& l) { return l.owner == Owner::None; });
    });
    if (stopping_)
        return false;
    const std::uint8_t mac = ownMac_.load();
    for (std::size_t node = 0; node < links_.size(); ++node) {
        Link& link = links_[node];
        link.client =
            std::make_unique<ExplicitClient>(mac, static_cast<std::uint8_t>(node), Timeout);
        link.alive = false;
        link.deadline = NoDeadline;
        link.nextAttempt = TimePoint{};
    }
    check_ = std::make_unique<DuplicateMacCheck>(mac, 0, VendorId, serialNumber_);
    checking_ = true;
    duplicate_.store(false);
    const Output out = check_->Start(clock_());
    bool sent = true;
    for (const CanFrame& frame : out.frames)
        sent = Send(frame) && sent;
    wake();
    changed_.wait(lock,
                  [&] { return stopping_ || !sent || check_->State() != MacCheckState::Checking; });
    checking_ = false;
    const bool ok = !stopping_ && sent && check_->State() == MacCheckState::Online;
    if (ok) {
        online_.store(true);
    } else {
        duplicate_.store(sent && !stopping_ && check_->State() == MacCheckState::Duplicate);
        check_.reset();
    }
    changed_.notify_all();
    wake();
    return ok;
}

ExplicitResult Master::Request(std::uint8_t node, std::uint8_t service, std::uint16_t classId,
                               std::uint16_t instance, std::vector<std::uint8_t> data) {
    return run(node, [&](ExplicitClient& client, TimePoint now) {
        return client.StartRequest(service, classId, instance, std::move(data), now);
    });
}

ExplicitResult Master::GetAttribute(std::uint8_t node, std::uint16_t classId,
                                    std::uint16_t instance, std::uint8_t attribute) {
    return run(node, [&](ExplicitClient& client, TimePoint now) {
        return client.StartGetAttribute(classId, instance, attribute, now);
    });
}

ExplicitResult Master::SetAttribute(std::uint8_t node, std::uint16_t classId,
                                    std::uint16_t instance, std::uint8_t attribute,
                                    const std::vector<std::uint8_t>& value) {
    return run(node, [&](ExplicitClient& client, TimePoint now) {
        return client.StartSetAttribute(classId, instance, attribute, value, now);
    });
}

ExplicitResult Master::Allocate(std::uint8_t node) {
    return run(node,
               [](ExplicitClient& client, TimePoint now) { return client.StartAllocate(now); });
}

ExplicitResult Master::Release(std::uint8_t node) {
    return run(node,
               [](ExplicitClient& client, TimePoint now) { return client.StartRelease(now); });
}

bool Master::ReleaseAll() {
    if (!online_.load())
        return false;
    std::vector<std::uint8_t> held;
    {
        std::lock_guard lock(mutex_);
        for (std::size_t node = 0; node < links_.size(); ++node)
            if (links_[node].client->Allocated())
                held.push_back(static_cast<std::uint8_t>(node));
    }
    bool all = true;
    for (std::uint8_t node : held)
        all = Release(node).status == ExplicitStatus::Done && all;
    return all;
}

bool Master::AddToScanlist(std::uint8_t node, std::uint8_t flags,
                           const std::array<std::uint16_t, 4>& params) {
    if (!ValidMac(node) || (flags & ExplicitConnection) == 0)
        return false;
    std::lock_guard lock(mutex_);
    Link& link = links_[node];
    link.flags = flags;
    link.params = params;
    if (!link.scanned) {
        link.scanned = true;
        link.nextAttempt = TimePoint{};
        wake();
    }
    return true;
}

bool Master::RemoveFromScanlist(std::uint8_t node, std::uint8_t flags) {
    if (!ValidMac(node))
        return false;
    std::lock_guard lock(mutex_);
    if ((flags & ExplicitConnection) != 0) {
        links_[node].scanned = false;
        links_[node].flags = 0;
    }
    return true;
}

bool Master::InScanlist(std::uint8_t node) const {
    std::lock_guard lock(mutex_);
    return ValidMac(node) && links_[node].scanned;
}

void Master::StartScan() {
    std::lock_guard lock(mutex_);
    scanning_ = true;
    wake();
}

void Master::StopScan() {
    std::lock_guard lock(mutex_);
    scanning_ = false;
}

bool Master::Scanning() const {
    std::lock_guard lock(mutex_);
    return scanning_;
}

std::optional<bool> Master::NodePresent(std::uint8_t node) const {
    if (!ValidMac(node))
        return std::nullopt;
    // A port that cannot send (its device gone, bus-off) reaches no node.
    const bool reachable = CanSend();
    std::lock_guard lock(mutex_);
    const Link& link = links_[node];
    return reachable && online_.load() && scanning_ && link.scanned && link.alive &&
           node != ownMac_.load();
}

std::size_t Master::Waiting(std::uint8_t node) const {
    if (!ValidMac(node))
        return 0;
    std::lock_guard lock(mutex_);
    return links_[node].queue.size();
}

void Master::Poke() {
    std::unique_lock lock(mutex_);
    const std::uint64_t mine = ++pokes_;
    changed_.notify_all(); // the callers that step their transfers look at the clock again
    wake();
    roundDone_.wait(lock, [&] { return stopping_ || pokesSeen_ >= mine; });
}

ExplicitResult Master::run(std::uint8_t node, const Start& start) {
    if (!ValidMac(node))
        return refused();
    std::unique_lock lock(mutex_);
    if (!online_.load() || node == ownMac_.load())
        return refused();
    // A ticket, so that the callers that wait for the node take their turns in the order they
    // came, whichever of them wakes first.
    Link& link = links_[node];
    const std::uint64_t ticket = link.nextTicket++;
    link.queue.push_back(ticket);
    changed_.wait(lock, [&] {
        return !online_.load() || (link.owner == Owner::None && link.queue.front() == ticket);
    });
    link.queue.erase(std::find(link.queue.begin(), link.queue.end(), ticket));
    if (!online_.load()) {
        changed_.notify_all();
        return refused();
    }
    link.owner = Owner::Caller;
    link.inbox.Clear();
    const std::optional<Output> started = start(*link.client, clock_());
    if (started && link.client->Busy()) {
        link.deadline = started->deadline;
        auto send = [this](const CanFrame& frame) {
            return Send(frame);
        };
        bool sent = true;
        lock.unlock();
        for (const CanFrame& frame : started->frames)
            if (!(sent = send(frame)))
                break;
        lock.lock();
        if (sent)
            sent = drivercore::StepToEnd(
                *link.client, started->deadline, link.inbox, lock, changed_, clock_, send,
                [] { return false; }, Immediate());
        if (!sent && link.client->Busy()) {
            // The bus does not take the request: the node will not answer it.
            link.client->Cancel();
            link.client->ForgetConnection();
        }
    } else if (started) {
        apply(link, *started);
    }
    link.inbox.Clear();
    link.deadline = NoDeadline;
    ExplicitResult result = link.client->Result();
    settle(link, result, clock_());
    link.owner = Owner::None;
    changed_.notify_all();
    wake();
    return result;
}

void Master::apply(Link& link, const Output& output) {
    for (const CanFrame& frame : output.frames) {
        if (!Send(frame)) {
            // The bus does not take the request: the node will not answer it.
            link.client->Cancel();
            link.client->ForgetConnection();
            break;
        }
    }
    link.deadline = link.client->Busy() ? output.deadline : NoDeadline;
}

void Master::finished(Link& link, TimePoint now) {
    if (link.owner == Owner::Scanner) {
        const ExplicitResult& result = link.client->Result();
        settle(link, result, now);
        if (!link.alive)
            // A node that did not answer has had its time-out already; one that refused, or a
            // bus that did not take the request, is asked again a while later.
            link.nextAttempt =
                result.failure == ExplicitFailure::Timeout ? now : now + RetryAfterRefusal;
        link.owner = Owner::None;
    } else if (link.owner == Owner::Leaving) {
        link.owner = Owner::None;
    }
    changed_.notify_all();
}

void Master::settle(Link& link, const ExplicitResult& result, TimePoint now) {
    link.alive = link.client->Allocated();
    const bool answered = result.status == ExplicitStatus::Done ||
                          (result.failure != ExplicitFailure::Timeout &&
                           result.failure != ExplicitFailure::Cancelled &&
                           result.failure != ExplicitFailure::InvalidRequest);
    if (answered)
        link.lastExchange = now;
}

void Master::goOffline() {
    online_.store(false);
    check_.reset();
    for (Link& link : links_) {
        if (link.client->Busy()) {
            link.client->Cancel();
            link.client->ForgetConnection();
        }
        if (link.owner != Owner::Caller)
            link.owner = Owner::None; // a caller's own thread lets go of its link
        link.alive = false;
        link.deadline = NoDeadline;
    }
    changed_.notify_all();
}

void Master::leave(std::unique_lock<std::mutex>& lock) {
    std::vector<std::uint8_t> held;
    for (std::size_t node = 0; node < links_.size(); ++node)
        if (links_[node].client->Allocated())
            held.push_back(static_cast<std::uint8_t>(node));
    leaving_ = true;
    goOffline();
    // The callers whose transfers ended let go of their links first.
    changed_.wait(lock, [&] {
        return stopping_ || std::all_of(links_.begin(), links_.end(),
                                        [](const Link& l) { return l.owner == Owner::None; });
    });
    if (!stopping_) {
        const TimePoint now = clock_();
        for (std::uint8_t node : held) {
            Link& link = links_[node];
            const std::optional<Output> started = link.client->StartRelease(now);
            if (!started)
                continue;
            link.owner = Owner::Leaving;
            apply(link, *started);
            if (!link.client->Busy())
                link.owner = Owner::None;
        }
        wake();
        changed_.wait(lock, [&] {
            return stopping_ || std::none_of(links_.begin(), links_.end(), [](const Link& l) {
                       return l.owner == Owner::Leaving;
                   });
        });
    }
    leaving_ = false;
    changed_.notify_all();
}

void Master::wake() {
    woken_ = true;
    wake_.notify_all();
}

void Master::OnFrame(const CanFrame& frame) {
    if (frame.remote)
        return;
    const auto address = bus::devicenet::ParseGroup2Id(frame.id);
    if (!address)
        return;
    std::lock_guard lock(mutex_);
    if (address->message == Group2Message::DuplicateMacCheck) {
        if (!check_ || address->mac != ownMac_.load())
            return; // offline, and not going online; or another station's check
        checkInbox_.Put(frame);
        wake();
        return;
    }
    if (address->message != Group2Message::SlaveResponse || !(online_.load() || leaving_))
        return;
    Link& link = links_[address->mac];
    if (link.owner == Owner::None || !link.client->Busy())
        return;
    link.inbox.Put(frame);
    if (link.owner == Owner::Caller)
        changed_.notify_all();
    else
        wake();
}

void Master::stepCheck(TimePoint now) {
    for (const CanFrame& frame : checkInbox_.TakeAll()) {
        if (!check_)
            break;
        const Output out = check_->OnFrame(frame, now);
        for (const CanFrame& answer : out.frames)
            Send(answer);
        if (check_->State() == MacCheckState::Duplicate) {
            duplicate_.store(true);
            if (online_.load())
                goOffline(); // another station has come with this MAC ID: leave the network
            changed_.notify_all();
        }
    }
}

void Master::stepOwn(Link& link, TimePoint now) {
    for (const CanFrame& frame : link.inbox.TakeAll()) {
        if (!link.client->Busy())
            break;
        apply(link, link.client->OnFrame(frame, now));
    }
    if (link.client->Busy() && link.deadline <= now)
        apply(link, link.client->OnTime(now));
    if (!link.client->Busy())
        finished(link, now);
}

TimePoint Master::round(TimePoint now) {
    TimePoint next = NoDeadline;
    stepCheck(now);
    if (checking_ && check_) {
        const Output out = check_->OnTime(now);
        for (const CanFrame& frame : out.frames)
            Send(frame);
        if (check_->State() != MacCheckState::Checking)
            changed_.notify_all();
        else
            next = std::min(next, out.deadline);
    }
    // The scanner's transfers while online, the releases on the way out; a caller steps its
    // own.
    for (Link& link : links_)
        if ((link.owner == Owner::Scanner || link.owner == Owner::Leaving) && link.client->Busy())
            stepOwn(link, now);
    const std::uint8_t own = ownMac_.load();
    for (std::size_t node = 0; node < links_.size() && online_.load(); ++node) {
        Link& link = links_[node];
        if (!scanning_ || !link.scanned || node == own || !link.queue.empty())
            continue;
        if (link.owner == Owner::None) {
            std::optional<Output> started;
            if (!link.alive && now >= link.nextAttempt)
                started = link.client->StartAllocate(now);
            else if (link.alive && now - link.lastExchange >= KeepAliveAfter)
                started = link.client->StartGetAttribute(bus::devicenet::IdentityClass, 1, 1, now);
            if (started) {
                link.owner = Owner::Scanner;
                apply(link, *started);
                if (!link.client->Busy())
                    finished(link, now);
            }
        }
        if (link.owner == Owner::None)
            next = std::min(next, link.alive ? link.lastExchange + KeepAliveAfter
                                             : std::max(link.nextAttempt, now));
    }
    for (const Link& link : links_)
        if ((link.owner == Owner::Scanner || link.owner == Owner::Leaving) && link.client->Busy())
            next = std::min(next, link.deadline);
    return next;
}

void Master::loop() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        woken_ = false;
        const std::uint64_t pokes = pokes_;
        const TimePoint next = round(clock_());
        if (pokes != pokesSeen_) {
            pokesSeen_ = pokes;
            roundDone_.notify_all();
        }
        drivercore::WaitUntil(wake_, lock, clock_, next, [this] { return stopping_ || woken_; });
    }
}

} // namespace dnet
