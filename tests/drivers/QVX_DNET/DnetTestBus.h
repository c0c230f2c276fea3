#pragma once

// What the DeviceNet driver's tests put on a simulated bus besides the master and its log:
// nodes with a Group 2 only explicit messaging server over a small object set, and a station
// that claims a MAC ID.

#include "BusLog.h"
#include "CanPort.h"
#include "HeldReplies.h"
#include "SimulatedBus.h"
#include "devicenet/DuplicateMac.h"
#include "devicenet/ExplicitServer.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace dnettest {

using bus::CanFrame;

// A small object set: attributes read and written whole, a read-only one refusing writes,
// and the Identity object's Reset, which the node that owns the set carries out.
class SmallObjects : public bus::devicenet::ExplicitObjects {
public:
    void Set(std::uint16_t classId, std::uint16_t instance, std::uint8_t attribute,
             std::vector<std::uint8_t> value, bool readOnly = false) {
        std::lock_guard lock(mutex_);
        attributes_[{classId, instance, attribute}] = {std::move(value), readOnly};
    }
    std::vector<std::uint8_t> Value(std::uint16_t classId, std::uint16_t instance,
                                    std::uint8_t attribute) const {
        std::lock_guard lock(mutex_);
        const auto it = attributes_.find({classId, instance, attribute});
        return it == attributes_.end() ? std::vector<std::uint8_t>{} : it->second.value;
    }
    // Every value written to the attribute, in order.
    std::vector<std::vector<std::uint8_t>> Writes(std::uint16_t classId, std::uint16_t instance,
                                                  std::uint8_t attribute) const {
        std::lock_guard lock(mutex_);
        const auto it = writes_.find({classId, instance, attribute});
        return it == writes_.end() ? std::vector<std::vector<std::uint8_t>>{} : it->second;
    }
    bool ResetAsked() {
        std::lock_guard lock(mutex_);
        return std::exchange(resetAsked_, false);
    }

    bus::devicenet::ServiceResult Service(std::uint8_t service, std::uint16_t classId,
                                          std::uint16_t instance,
                                          const std::vector<std::uint8_t>& request) override {
        using bus::devicenet::ServiceResult;
        namespace Status = bus::devicenet::GeneralStatus;
        std::lock_guard lock(mutex_);
        if (service == bus::devicenet::Service::Reset && classId == 1 && instance == 1) {
            resetAsked_ = true;
            return ServiceResult::Ok();
        }
        if (service != bus::devicenet::Service::GetAttributeSingle &&
            service != bus::devicenet::Service::SetAttributeSingle)
            return ServiceResult::Error(Status::ServiceNotSupported);
        if (request.empty())
            return ServiceResult::Error(Status::NotEnoughData);
        const std::tuple key{classId, instance, request[0]};
        const auto it = attributes_.find(key);
        if (it == attributes_.end())
            return ServiceResult::Error(Status::AttributeNotSupported);
        if (service == bus::devicenet::Service::GetAttributeSingle)
            return ServiceResult::Ok(it->second.value);
        if (it->second.readOnly)
            return ServiceResult::Error(Status::AttributeNotSettable);
        it->second.value.assign(request.begin() + 1, request.end());
        writes_[key].push_back(it->second.value);
        return ServiceResult::Ok();
    }

private:
    struct Attribute {
        std::vector<std::uint8_t> value;
        bool readOnly = false;
    };
    using Key = std::tuple<std::uint16_t, std::uint16_t, std::uint8_t>;
    mutable std::mutex mutex_;
    std::map<Key, Attribute> attributes_;
    std::map<Key, std::vector<std::vector<std::uint8_t>>> writes_;
    bool resetAsked_ = false;
};

// A node: the explicit messaging server over its objects, with the Identity object's vendor
// ID 729, product code 0x1FE2 and a product name. The Identity Reset takes it off the bus
// (it answers first) until Restart; Silence takes it off without a word. Hold keeps what it
// says until Let; SayFirst makes it say a frame of the test's before it answers a frame.
class TestNode {
public:
    TestNode(bus::SimulatedBus& bus, std::uint8_t mac)
        : port_(bus.Attach()), replies_(*port_), server_(mac, objects) {
        objects.Set(1, 1, 1, {0xD9, 0x02}, true);
        objects.Set(1, 1, 3, {0xE2, 0x1F}, true);
        objects.Set(1, 1, 7, {9, 'Z', 'A', 'N', 'D', 'R', 'E', 'L', '-', 'D'}, true);
        port_->SetReceiveHandler([this](const CanFrame& frame) { onFrame(frame); });
    }
    ~TestNode() { port_->SetReceiveHandler(nullptr); }

    void Silence() {
        std::lock_guard lock(mutex_);
        silent_ = true;
    }
    // Back on the bus after a restart: nothing allocated.
    void Restart() {
        std::lock_guard lock(mutex_);
        server_.Reset();
        silent_ = false;
    }
    bool Allocated() {
        std::lock_guard lock(mutex_);
        return server_.Allocated();
    }
    void Hold() { replies_.Hold(); }
    // Says what it held back, and from now on answers at once.
    void Let() { replies_.Release(); }
    // When it hears the frame `heard`, it says `said` first.
    void SayFirst(const std::string& heard, const std::string& said) {
        std::lock_guard lock(mutex_);
        sayFirst_[heard] = bustest::Frame(said);
    }

    SmallObjects objects;

private:
    void onFrame(const CanFrame& frame) {
        std::vector<CanFrame> replies;
        {
            std::lock_guard lock(mutex_);
            if (silent_)
                return;
            replies = server_.OnFrame(frame, bus::devicenet::TimePoint{}).frames;
            if (const auto first = sayFirst_.find(bus::ToCandump(frame)); first != sayFirst_.end())
                replies.insert(replies.begin(), first->second);
            if (objects.ResetAsked()) {
                server_.Reset();
                silent_ = true;
            }
        }
        replies_.Say(replies);
    }

    std::unique_ptr<bus::SimulatedPort> port_;
    bustest::HeldReplies replies_;
    std::mutex mutex_;
    bool silent_ = false;
    std::map<std::string, CanFrame> sayFirst_;
    bus::devicenet::ExplicitServer server_;
};

// A station that is online with a MAC ID: it answers every duplicate MAC ID check request
// for it.
class Station {
public:
    Station(bus::SimulatedBus& bus, std::uint8_t mac) : mac_(mac), port_(bus.Attach()) {
        port_->SetReceiveHandler([this](const CanFrame& frame) {
            const auto answer =
                bus::devicenet::AnswerDuplicateMac(frame, mac_, {true, 0, 0x0123, 0x00ABCDEF});
            if (answer) {
                EXPECT_TRUE(port_->Send(*answer));
            }
        });
    }
    ~Station() { port_->SetReceiveHandler(nullptr); }

private:
    const std::uint8_t mac_;
    std::unique_ptr<bus::SimulatedPort> port_;
};

} // namespace dnettest
