#pragma once

#include "CanPort.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

namespace bus {

struct SimulatedBusCore;

// A port on a SimulatedBus. Its frames go to every other port of the bus; it receives theirs
// on the bus's delivery thread. It may outlive its bus: it is closed then.
class SimulatedPort : public CanPort {
public:
    ~SimulatedPort() override;

    PortState State() const override;
    std::string Name() const override;
    // While the bus models no wire.
    bool Immediate() const override;
    // Until the last frame this port sent has crossed the wire.
    std::chrono::nanoseconds Backlog() const override;

    // The controller's modes that refuse to send, for tests of what a sender does then.
    void SetListenOnly(bool on) { listenOnly_.store(on); }
    void SetBusOff(bool on) { busOff_.store(on); }

protected:
    bool SendFrame(const CanFrame& frame) override;

private:
    friend class SimulatedBus;
    friend struct SimulatedBusCore;
    SimulatedPort(std::shared_ptr<SimulatedBusCore> core, std::uint64_t id);
    void DeliverFromBus(const CanFrame& frame) { Deliver(frame); }

    std::shared_ptr<SimulatedBusCore> core_;
    const std::uint64_t id_;
    std::atomic<bool> listenOnly_{false};
    std::atomic<bool> busOff_{false};
    // When the last frame sent is due at its receivers, steady clock nanoseconds.
    std::atomic<std::int64_t> lastDue_{0};
};

// What can befall one frame on the bus, for tests of how the protocols cope.
enum class BusFault : std::uint8_t {
    Lose,      // no port receives it
    Corrupt,   // the receivers get it with every data bit inverted (a frame without data
               // bytes is lost instead)
    Delay,     // it arrives the given time later than it would have; frames sent after it
               // may overtake it
    Duplicate, // the receivers get it twice in a row
};

// The in-process CAN bus: every attached port sees every other port's frames, in the order
// they were sent, delivered by one thread of the bus.
//
// The wire model is off by default and frames pass as fast as the delivery thread runs. With
// a bit rate set, each frame arrives when its last bit would have crossed the wire: a frame
// waits for the frames before it, then takes FrameBits (the stuff bits computed from its own
// bits) divided by the bit rate.
//
// With ZANDREL_CAN_TRACE set, each frame that the bus carries is traced once, under the
// bus's name, when the receivers get it (as they get it: a corrupted frame corrupted, a
// duplicated one twice, a lost one not at all).
class SimulatedBus {
public:
    explicit SimulatedBus(std::string name = "sim0");
    // Stops the delivery thread; frames not yet delivered are dropped, and ports still
    // attached are closed.
    ~SimulatedBus();
    SimulatedBus(const SimulatedBus&) = delete;
    SimulatedBus& operator=(const SimulatedBus&) = delete;

    std::unique_ptr<SimulatedPort> Attach();
    const std::string& Name() const { return name_; }

    // Bits per second on the wire; 0 turns the wire model off.
    void SetBitRate(std::uint32_t bitRate);
    std::uint32_t BitRate() const;

    // The nth frame sent from now on (1: the next one) meets the fault. Several faults may
    // wait for different frames; a second fault for the same frame replaces the first.
    void InjectFault(BusFault fault, std::uint64_t nth = 1,
                     std::chrono::nanoseconds delay = std::chrono::milliseconds(10));

    // Frames held back by a Delay fault go now, in the order they were sent.
    void ReleaseDelayed();

    // Frames sent on the bus since it was made (lost ones included).
    std::uint64_t FramesSent() const;

    // Returns when every frame sent so far has been delivered and the handlers that received
    // them have returned (at once on the delivery thread itself). A delayed frame is waited
    // for too.
    void WaitIdle();

private:
    const std::string name_;
    std::shared_ptr<SimulatedBusCore> core_;
    std::thread thread_;
};

} // namespace bus
