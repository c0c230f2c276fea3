#pragma once

#include "CanPort.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>

namespace drivercore {

// What the driver core needs of a protocol master, and the master's side of its CAN port:
// the port it sends on and takes frames from, which the interface may swap for another
// (a device opened again with another bit rate).
//
// A master calls Listen() last in its constructor, StopSending() and StopListening() in its
// Shutdown, and Shutdown in its destructor.
class CanMaster {
public:
    explicit CanMaster(std::shared_ptr<bus::CanPort> port);
    virtual ~CanMaster() = default;
    CanMaster(const CanMaster&) = delete;
    CanMaster& operator=(const CanMaster&) = delete;

    // Goes offline for good: ends the transfers that run, stops the master's threads and lets
    // go of the port's frames. The port itself stays open, and is the owner's to close.
    virtual void Shutdown() = 0;

    // Online: false, and the master stays offline, when it cannot take part in the bus.
    virtual bool SetOnline(bool online) = 0;
    virtual bool Online() const = 0;
    // The last-error code of a SetOnline(true) that failed.
    virtual std::uint32_t WhyNotOnline() const;
    // The master's own address on the bus (node-ID, MAC ID).
    virtual std::uint32_t OwnAddress() const = 0;
    // The bus runs at this bit rate from now on.
    virtual void BitRateChanged(std::uint32_t bitRate) { (void)bitRate; }

    std::shared_ptr<bus::CanPort> Port() const;
    // Moves the master to another port; returns the one it leaves.
    std::shared_ptr<bus::CanPort> ReplacePort(std::shared_ptr<bus::CanPort> port);
    // Whether the port can put frames on the bus now (not closed, bus-off or listen-only).
    bool CanSend() const;
    // Whether answers come within microseconds (see CanPort::Immediate).
    bool Immediate() const;
    // How long the frames sent still need to cross the wire (see CanPort::Backlog).
    std::chrono::nanoseconds Backlog() const;

protected:
    // Hands the port's frames to OnFrame, on the port's delivery thread.
    void Listen();
    // From now on Send refuses every frame.
    void StopSending();
    // Returns once OnFrame is not running and will not be called again.
    void StopListening();
    bool Stopped() const { return stopped_.load(); }
    // Tells the port how long a frame its device refuses may wait for room (see CanPort).
    void SetSendPatience(std::chrono::milliseconds patience);

    bool Send(const bus::CanFrame& frame);
    virtual void OnFrame(const bus::CanFrame& frame) = 0;
    // How long a frame the device refuses may wait: as long as an answer would.
    virtual std::chrono::milliseconds SendPatience() const = 0;

private:
    bus::CanPort::ReceiveHandler handler();

    mutable std::mutex portMutex_;
    std::shared_ptr<bus::CanPort> port_;
    std::atomic<bool> stopped_{false};
};

} // namespace drivercore
