#pragma once

// What the driver's tests put on a simulated bus besides the master and its log: a node that
// answers from a script of frames, and a node with an SDO server over a small dictionary
// that answers guard requests.

#include "BusLog.h"
#include "CanPort.h"
#include "HeldReplies.h"
#include "SimulatedBus.h"
#include "canopen/Guarding.h"
#include "canopen/SdoServer.h"

#include <cstdint>
#include <deque>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace copntest {

using bus::CanFrame;

// A node that answers the master's SDO requests (0x600 + its node-ID) from a script: when
// the next request is the one scripted, it sends the replies. A request that is not the
// next one scripted is kept as unexpected and not answered. While held, replies wait for
// Release.
class ScriptedNode {
public:
    ScriptedNode(bus::SimulatedBus& bus, std::uint8_t node)
        : node_(node), port_(bus.Attach()), replies_(*port_) {
        port_->SetReceiveHandler([this](const CanFrame& frame) { onFrame(frame); });
    }
    ~ScriptedNode() { port_->SetReceiveHandler(nullptr); }

    ScriptedNode& On(const std::string& request, std::vector<std::string> replies = {}) {
        std::lock_guard lock(mutex_);
        script_.push_back({request, std::move(replies)});
        return *this;
    }
    void Hold() { replies_.Hold(); }
    void Release() { replies_.Release(); }
    bool ScriptDone() const {
        std::lock_guard lock(mutex_);
        return script_.empty();
    }
    std::vector<std::string> Unexpected() const {
        std::lock_guard lock(mutex_);
        return unexpected_;
    }

private:
    void onFrame(const CanFrame& frame) {
        if (frame.id != 0x600 + node_)
            return;
        std::vector<CanFrame> replies;
        {
            std::lock_guard lock(mutex_);
            const std::string text = bus::ToCandump(frame);
            if (script_.empty() || script_.front().first != text) {
                unexpected_.push_back(text);
                return;
            }
            for (const std::string& reply : script_.front().second)
                replies.push_back(bustest::Frame(reply));
            script_.pop_front();
        }
        replies_.Say(replies);
    }

    const std::uint8_t node_;
    std::unique_ptr<bus::SimulatedPort> port_;
    mutable std::mutex mutex_;
    std::deque<std::pair<std::string, std::vector<std::string>>> script_;
    std::vector<std::string> unexpected_;
    bustest::HeldReplies replies_;
};

// A small object dictionary: the entries a test gives, read and written whole; an entry
// marked read-only refuses writes.
class SmallDictionary : public bus::canopen::ObjectDictionary {
public:
    void Set(std::uint16_t index, std::uint8_t sub, std::vector<std::uint8_t> value,
             bool readOnly = false) {
        std::lock_guard lock(mutex_);
        entries_[{index, sub}] = {std::move(value), readOnly};
    }
    void Remove(std::uint16_t index, std::uint8_t sub) {
        std::lock_guard lock(mutex_);
        entries_.erase({index, sub});
    }
    std::vector<std::uint8_t> Value(std::uint16_t index, std::uint8_t sub) const {
        std::lock_guard lock(mutex_);
        const auto it = entries_.find({index, sub});
        return it == entries_.end() ? std::vector<std::uint8_t>{} : it->second.value;
    }

    bus::canopen::SdoReadResult Read(std::uint16_t index, std::uint8_t sub) override {
        std::lock_guard lock(mutex_);
        const auto it = entries_.find({index, sub});
        if (it == entries_.end())
            return {bus::canopen::SdoAbort::NoObject, {}};
        return {0, it->second.value};
    }
    std::uint32_t Write(std::uint16_t index, std::uint8_t sub,
                        const std::vector<std::uint8_t>& data) override {
        std::lock_guard lock(mutex_);
        const auto it = entries_.find({index, sub});
        if (it == entries_.end())
            return bus::canopen::SdoAbort::NoObject;
        if (it->second.readOnly)
            return bus::canopen::SdoAbort::ReadOnly;
        it->second.value = data;
        return 0;
    }

private:
    struct Entry {
        std::vector<std::uint8_t> value;
        bool readOnly = false;
    };
    mutable std::mutex mutex_;
    std::map<std::pair<std::uint16_t, std::uint8_t>, Entry> entries_;
};

// A node with the default SDO server over its dictionary that answers guard requests from
// the start. BootUp sends its boot-up message (and brings it back after Silence, which takes
// it off the bus).
class TestNode {
public:
    TestNode(bus::SimulatedBus& bus, std::uint8_t node)
        : node_(node), port_(bus.Attach()), replies_(*port_), server_(node, dictionary),
          guard_(node) {
        dictionary.Set(0x1000, 0, {0x92, 0x01, 0x02, 0x00}, true);
        dictionary.Set(0x1001, 0, {0x00}, true);
        dictionary.Set(0x1008, 0, {'Z', 'A', 'N', 'D', 'R', 'E', 'L', '-', 'N', '3'}, true);
        dictionary.Set(0x100C, 0, {0x00, 0x00});
        dictionary.Set(0x100D, 0, {0x00});
        dictionary.Set(0x1017, 0, {0x00, 0x00});
        dictionary.Set(0x3600, 0, {});
        dictionary.Set(0x3606, 0, {});
        port_->SetReceiveHandler([this](const CanFrame& frame) { onFrame(frame); });
    }
    ~TestNode() { port_->SetReceiveHandler(nullptr); }

    void BootUp() {
        std::vector<CanFrame> frames;
        {
            std::lock_guard lock(mutex_);
            silent_ = false;
            server_.Reset();
            frames = guard_.BootUp().frames;
        }
        for (const CanFrame& frame : frames)
            EXPECT_TRUE(port_->Send(frame));
    }
    // Back on the bus as after a restart, its boot-up message lost on the way.
    void ComeBackWithoutBootUp() {
        std::lock_guard lock(mutex_);
        silent_ = false;
        server_.Reset();
        guard_.BootUp();
    }
    void Silence() {
        std::lock_guard lock(mutex_);
        silent_ = true;
    }
    // Whether guard requests are answered (they are from the start).
    void AnswerGuardRequests(bool on) {
        std::lock_guard lock(mutex_);
        answerGuarding_ = on;
    }
    // One heartbeat: its NMT state, pre-operational, with bit 7 clear.
    void Heartbeat() { EXPECT_TRUE(port_->Send(CanFrame::Data(0x700 + node_, {0x7F}))); }
    // Replies wait until released.
    void HoldReplies() { replies_.Hold(); }
    void ReleaseReplies() { replies_.Release(); }
    bus::SimulatedPort& Port() { return *port_; }

    SmallDictionary dictionary;

private:
    void onFrame(const CanFrame& frame) {
        std::vector<CanFrame> replies;
        {
            std::lock_guard lock(mutex_);
            if (silent_)
                return;
            if (answerGuarding_)
                replies = guard_.OnFrame(frame).frames;
            const auto sdo = server_.OnFrame(frame, bus::canopen::TimePoint{}).frames;
            replies.insert(replies.end(), sdo.begin(), sdo.end());
        }
        replies_.Say(replies);
    }

    const std::uint8_t node_;
    std::unique_ptr<bus::SimulatedPort> port_;
    bustest::HeldReplies replies_;
    std::mutex mutex_;
    bool silent_ = false;
    bool answerGuarding_ = true;
    bus::canopen::SdoServer server_;
    bus::canopen::GuardingNode guard_;
};

} // namespace copntest
