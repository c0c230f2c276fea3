#pragma once

#include "CanPort.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace bus {

struct QtCanPortOptions {
    // Bits per second to configure on the device; 0 leaves the device's own setting (a
    // SocketCAN interface is usually configured with the ip tool beforehand).
    std::uint32_t bitRate = 0;
    // Only listen: Send refuses every frame.
    bool listenOnly = false;
    // How long Open waits for a device that connects in the background (virtualcan).
    std::chrono::milliseconds connectTimeout{5000};
};

// A port on a Qt SerialBus CAN device: plugin "socketcan" with an interface such as "can0"
// for real adapters, or "virtualcan" for processes on this machine, with an interface of the
// form "tcp://127.0.0.1:35468/can0": the TCP port of the bus, and a channel (can0 or can1
// with the Qt of Debian 12; others are refused). The first process that opens a device on a
// free TCP port serves that bus to the others for as long as it runs. A process serves one
// bus at most, the first it opened: a device on another TCP port reaches a bus only when
// another process serves it.
//
// Every Qt CAN device of the process lives on one I/O thread with its own event loop, which
// creates, uses and deletes it; Send posts the frame there and returns. Received frames are
// handed to the receive handler on that thread (so a slow handler holds up every Qt port of
// the process). The thread starts with the first Open and ends with the Qt application
// object; Open needs one (QCoreApplication or a derived class) to exist.
//
// With ZANDREL_CAN_TRACE set, every frame the port writes to the device or receives from it
// is traced under the interface name.
class QtCanPort : public CanPort {
public:
    QtCanPort(std::string plugin, std::string interfaceName, QtCanPortOptions options = {});
    // Closes the port.
    ~QtCanPort() override;

    // Creates and connects the device; false with LastError() when the plugin is missing,
    // the device cannot be created or connected (an interface that does not exist), or it
    // does not connect in time. True at once when the port is open already. Not to be
    // called from a receive handler.
    bool Open();
    // Disconnects and deletes the device; afterwards the handler is not called again.
    void Close();

    PortState State() const override;
    std::string Name() const override { return interface_; }
    const std::string& Plugin() const { return plugin_; }

    // The CAN plugins Qt finds on this machine ("socketcan", "virtualcan", …).
    static std::vector<std::string> AvailablePlugins();

protected:
    bool SendFrame(const CanFrame& frame) override;

private:
    struct Device;
    void closeDevice(const std::shared_ptr<Device>& device);

    const std::string plugin_;
    const std::string interface_;
    const QtCanPortOptions options_;
    std::mutex openMutex_;     // one Open or Close at a time
    mutable std::mutex mutex_; // guards device_
    std::shared_ptr<Device> device_;
};

} // namespace bus
