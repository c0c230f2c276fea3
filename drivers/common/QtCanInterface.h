#pragma once

// An interface on a Qt SerialBus CAN device, for any master. A new bit rate opens the device
// again with it: Qt applies a device's bit rate when it connects. Header only: a driver that
// uses it links the Qt port (zandrel_bus_qt) itself.

#include "CanInterface.h"
#include "QtCanPort.h"

#include <memory>
#include <string>
#include <utility>

namespace canif {

// Opens the device; false with the reason when it does not open, or opens unable to send.
inline bool OpenQtCanPort(bus::QtCanPort& port, std::string* error, bool* wrongMode) {
    if (!port.Open()) {
        *error = port.LastError();
        return false;
    }
    const bus::PortState state = port.State();
    if (state != bus::PortState::Active && state != bus::PortState::ErrorPassive) {
        *error =
            "the CAN interface " + port.Name() + " cannot send: it is " + bus::PortStateName(state);
        *wrongMode = true;
        port.Close();
        return false;
    }
    return true;
}

// A device of a Qt SerialBus plugin (SocketCan, VirtualCan): the interface name as QCanBus
// takes it ("can0"; "tcp://127.0.0.1:35468/can0"). The master's port is replaced when the
// bit rate changes, so Master offers ReplacePort and Port.
template <typename Interface, typename Clock>
BasicOpened<Interface> OpenQtCanDevice(std::uint32_t type, const std::string& device, Clock clock) {
    class QtDeviceInterface : public Interface {
    public:
        QtDeviceInterface(std::uint32_t type, std::string plugin, std::string device,
                          std::shared_ptr<bus::QtCanPort> port, Clock clock)
            : Interface(type, port, std::move(clock)), plugin_(std::move(plugin)),
              device_(std::move(device)) {}
        ~QtDeviceInterface() override { this->Close(); }

    protected:
        bool applyBitRate(std::uint32_t bitRate) override {
            bus::QtCanPortOptions options;
            options.bitRate = bitRate;
            auto fresh = std::make_shared<bus::QtCanPort>(plugin_, device_, options);
            std::string error;
            bool wrongMode = false;
            if (!OpenQtCanPort(*fresh, &error, &wrongMode))
                return false; // the device goes on as it was
            const std::shared_ptr<bus::CanPort> old = this->GetMaster().ReplacePort(fresh);
            if (auto* qt = dynamic_cast<bus::QtCanPort*>(old.get()))
                qt->Close();
            return true;
        }
        void closeConnection() override {
            if (auto* qt = dynamic_cast<bus::QtCanPort*>(this->GetMaster().Port().get()))
                qt->Close();
        }

    private:
        const std::string plugin_;
        const std::string device_;
    };

    BasicOpened<Interface> opened;
    const char* plugin = QtPluginFor(type);
    if (!plugin) {
        opened.error = "interface type " + std::to_string(type) + " is no Qt CAN device";
        return opened;
    }
    if (device.empty()) {
        opened.error = std::string("no ") + InterfaceTypeName(type) + " interface is named";
        return opened;
    }
    auto port = std::make_shared<bus::QtCanPort>(plugin, device);
    if (!OpenQtCanPort(*port, &opened.error, &opened.wrongMode))
        return opened;
    opened.interface = std::make_shared<QtDeviceInterface>(type, plugin, device, std::move(port),
                                                           std::move(clock));
    return opened;
}

} // namespace canif
