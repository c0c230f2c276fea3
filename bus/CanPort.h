#pragma once

#include "CanFrame.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace bus {

// What a port can do now.
enum class PortState : std::uint8_t {
    Closed,       // not open, or its bus or device is gone: sends nothing, receives nothing
    Active,       // sends and receives
    ErrorPassive, // sends and receives, but the controller sees many errors
    BusOff,       // the controller left the bus after too many errors: sends nothing
    ListenOnly,   // receives, sends nothing
};

const char* PortStateName(PortState state);

// A connection to one CAN bus.
//
// Send hands a frame to the bus and returns once the bus has taken it; false when it did not
// (the port is closed, bus-off or listen-only, the frame is not valid, the device refused it
// for longer than the send patience), with the reason in LastError(). Frames that Send took
// go on the bus in the order Send took them.
//
// Received frames go to the handler set with SetReceiveHandler, one at a time and in the
// order the bus carried them, on the port's delivery thread (the simulated bus's thread, or
// a thread of the Qt port) — never on the thread that called Send, so a handler may
// send replies and may take locks that a sender holds while sending. Keep handlers short:
// they hold up the frames behind them. A port never sees its own frames.
//
// Once SetReceiveHandler returns, the previous handler is not running and is not called
// again; called from inside the handler itself, the change takes effect with the next frame.
// Do not call SetReceiveHandler while holding a lock that the handler takes, and do not
// destroy a port from inside its own handler.
class CanPort {
public:
    using ReceiveHandler = std::function<void(const CanFrame&)>;

    virtual ~CanPort() = default;
    CanPort(const CanPort&) = delete;
    CanPort& operator=(const CanPort&) = delete;

    bool Send(const CanFrame& frame);
    void SetReceiveHandler(ReceiveHandler handler);

    virtual PortState State() const = 0;
    // How long Send may wait for a bus that refuses a frame while it drains what it holds:
    // the time-out of the transfer the frame belongs to. Ports whose bus never refuses a
    // frame (the simulated bus) have none and ignore it.
    virtual void SetSendPatience(std::chrono::milliseconds) {}
    // Why the last Send failed, or what went wrong with the port last ("" when nothing has).
    std::string LastError() const;
    // The name of the bus as a trace shows it: "sim0", "can0".
    virtual std::string Name() const = 0;
    // Whether a frame and its answer pass within microseconds (a bus in this process without
    // a wire), so that a waiting caller does better to look again for a moment than to sleep.
    virtual bool Immediate() const { return false; }
    // How long the frames Send has taken from this port still need to cross the wire, as far
    // as the port knows; 0 where it cannot tell (a device whose queue Send waits on holds a
    // few frames at most). A sender's time-out for an answer counts from then.
    virtual std::chrono::nanoseconds Backlog() const { return std::chrono::nanoseconds(0); }

protected:
    CanPort() = default;

    // Hands the frame to the bus; false with SetError when it cannot.
    virtual bool SendFrame(const CanFrame& frame) = 0;
    void SetError(std::string message);
    // Calls the handler with a received frame; the implementation calls it on its delivery
    // thread only.
    void Deliver(const CanFrame& frame);

private:
    mutable std::mutex errorMutex_;
    std::string lastError_;

    std::mutex handlerMutex_; // held while the handler runs
    ReceiveHandler handler_;
    std::optional<ReceiveHandler> pendingHandler_; // set from inside the handler
    std::atomic<std::thread::id> deliveringThread_{};
};

} // namespace bus
