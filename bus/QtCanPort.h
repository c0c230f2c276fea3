#pragma once

#include "CanPort.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QCanBusDevice;

namespace bus {

struct QtCanPortOptions {
    // Bits per second to configure on the device; 0 leaves the device's own setting (a
    // SocketCAN interface is usually configured with the ip tool beforehand). Open fails when
    // the device refuses the rate (a configuration error, or it keeps another rate).
    std::uint32_t bitRate = 0;
    // Only listen: Send refuses every frame.
    bool listenOnly = false;
    // How long Open waits for a device that connects in the background (virtualcan).
    std::chrono::milliseconds connectTimeout{5000};
    // How long Send keeps offering a frame that the device refuses while it stays connected
    // (its transmit queue is full), until SetSendPatience says otherwise.
    std::chrono::milliseconds sendPatience{500};
};

// Makes the device for an interface name on the CAN I/O thread, or says why it cannot (the
// device is the port's from then on). What QCanBus::createDevice does for a plugin.
using QtCanDeviceMaker =
    std::function<QCanBusDevice*(const std::string& interfaceName, std::string& error)>;

// A port on a Qt SerialBus CAN device: plugin "socketcan" with an interface such as "can0"
// for real adapters, or "virtualcan" for processes on this machine, with an interface of the
// form "tcp://127.0.0.1:35468/can0": the TCP port of the bus, and a channel (can0 or can1
// with the Qt of Debian 12; others are refused). The first process that opens a device on a
// free TCP port serves that bus to the others for as long as it runs. A process serves one
// bus at most, the first it opened: a device on another TCP port reaches a bus only when
// another process serves it.
//
// Every Qt CAN device of the process lives on one I/O thread with its own event loop, which
// creates, uses and deletes it. Send hands the frame to that thread and returns once the
// device has taken it, or has finally refused it: a device that refuses a frame while it
// stays connected (SocketCAN does while its transmit queue holds txqueuelen frames) is
// offered it again every millisecond, for up to the send patience, frames behind it waiting
// their turn; a device that is gone (unconnected, a connection error, no such device any
// more) fails the frame at once. A device that disconnects, or reports a connection error,
// leaves the port Closed until Open opens a device afresh.
//
// Received frames are handed to the receive handler on a delivery thread of the port, never
// on the I/O thread, so that a handler that waits for a sender's lock cannot hold up that
// sender's frame. The I/O thread starts with the first Open and ends with the Qt application
// object; Open needs one (QCoreApplication or a derived class) to exist.
//
// With ZANDREL_CAN_TRACE set, every frame the port writes to the device or receives from it
// is traced under the interface name, received frames with the device's time stamp when it
// gives one, and error frames as candump writes them.
class QtCanPort : public CanPort {
public:
    QtCanPort(std::string plugin, std::string interfaceName, QtCanPortOptions options = {});
    // Closes the port.
    ~QtCanPort() override;

    // Creates and connects the device; false with LastError() when the plugin is missing,
    // the device cannot be created or connected (an interface that does not exist), or it
    // does not connect in time. True at once when the port is open already; a port whose
    // device has gone opens a fresh one. Not to be called from a receive handler.
    bool Open();
    // Disconnects and deletes the device; afterwards the handler is not called again. Not to
    // be called while holding a lock that the handler takes.
    void Close();

    // How long a send waits for a device that refuses the frame while it stays connected;
    // for the sends that start from now on, at least 1 ms.
    void SetSendPatience(std::chrono::milliseconds patience) override;
    std::chrono::milliseconds SendPatience() const;

    PortState State() const override;
    std::string Name() const override { return interface_; }
    const std::string& Plugin() const { return plugin_; }

    // The CAN plugins Qt finds on this machine ("socketcan", "virtualcan", …), and those the
    // process provides.
    static std::vector<std::string> AvailablePlugins();

    // A plugin that the process provides itself: ports opened from now on make their devices
    // of that plugin name with the maker, in place of Qt's plugin of the name (a test gives
    // the ports a device of its own this way). An empty maker takes the plugin back.
    static void ProvidePlugin(const std::string& plugin, QtCanDeviceMaker maker);

protected:
    bool SendFrame(const CanFrame& frame) override;

private:
    struct Device;
    struct Outgoing;
    void closeDevice(const std::shared_ptr<Device>& device);

    const std::string plugin_;
    const std::string interface_;
    const QtCanPortOptions options_;
    std::mutex openMutex_;     // one Open or Close at a time
    mutable std::mutex mutex_; // guards device_
    std::shared_ptr<Device> device_;
    std::atomic<std::int64_t> patienceMs_;
};

} // namespace bus
