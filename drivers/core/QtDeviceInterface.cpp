// An interface on a Qt SerialBus CAN device.

#include "Interface.h"
#include "QtCanPort.h"

#include <utility>

namespace drivercore {

namespace {

// Opens the device; false with the reason when it does not open, or opens unable to send.
bool openPort(bus::QtCanPort& port, std::string* error, bool* wrongMode) {
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

class QtDeviceInterface : public Interface {
public:
    QtDeviceInterface(const DriverTraits& traits, std::uint32_t type, std::string plugin,
                      std::string device, std::shared_ptr<bus::QtCanPort> port)
        : Interface(traits, type, port, SteadyMasterClock()), plugin_(std::move(plugin)),
          device_(std::move(device)) {}
    ~QtDeviceInterface() override { Close(); }

protected:
    bool applyBitRate(std::uint32_t bitRate) override {
        bus::QtCanPortOptions options;
        options.bitRate = bitRate;
        auto fresh = std::make_shared<bus::QtCanPort>(plugin_, device_, options);
        std::string error;
        bool wrongMode = false;
        if (!openPort(*fresh, &error, &wrongMode))
            return false; // the device goes on as it was
        const std::shared_ptr<bus::CanPort> old = Master().ReplacePort(fresh);
        if (auto* qt = dynamic_cast<bus::QtCanPort*>(old.get()))
            qt->Close();
        return true;
    }
    void closeConnection() override {
        if (auto* qt = dynamic_cast<bus::QtCanPort*>(Master().Port().get()))
            qt->Close();
    }

private:
    const std::string plugin_;
    const std::string device_;
};

} // namespace

Opened OpenQtDevice(const DriverTraits& traits, std::uint32_t type, const std::string& device) {
    Opened opened;
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
    if (!openPort(*port, &opened.error, &opened.wrongMode))
        return opened;
    opened.interface =
        std::make_shared<QtDeviceInterface>(traits, type, plugin, device, std::move(port));
    return opened;
}

} // namespace drivercore
