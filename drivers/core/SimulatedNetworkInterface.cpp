// The embedded simulated network: an in-process CAN bus with the master on one port and the
// driver's simulated nodes on another.

#include "Interface.h"
#include "SimulatedBus.h"

#include <cstdlib>
#include <string>
#include <utility>

namespace drivercore {

namespace {

class SimulatedNetworkInterface : public Interface {
public:
    SimulatedNetworkInterface(const DriverTraits& traits, std::unique_ptr<bus::SimulatedBus> bus,
                              std::shared_ptr<bus::CanPort> masterPort)
        : Interface(traits, SimulatedNetwork, std::move(masterPort), SteadyMasterClock()),
          traits_(traits), bus_(std::move(bus)) {}
    ~SimulatedNetworkInterface() override { Close(); }

    // Needs the master's port on the bus first, so that nothing the nodes say at their
    // start is missed by the bus (the master listens only once it is online).
    bool StartNodes(std::string* error) {
        const std::string folder = traits_.simulatedNetworkFolder();
        if (folder.empty()) {
            *error = "neither XDG_DATA_HOME nor a home folder is set: no place for the nodes' "
                     "flash";
            return false;
        }
        nodes_ = traits_.startSimulatedNodes(bus_->Attach(), folder, error);
        return nodes_ != nullptr;
    }

protected:
    // The bus takes each frame's time on the wire at the bit rate, as a real one does;
    // ZANDREL_SIM_WIRE=off lets frames pass as fast as the code runs (tests, benchmarks).
    bool applyBitRate(std::uint32_t bitRate) override {
        const char* wire = std::getenv("ZANDREL_SIM_WIRE");
        bus_->SetBitRate(wire && std::string(wire) == "off" ? 0 : bitRate);
        return true;
    }
    void closeConnection() override {
        nodes_.reset(); // the nodes first: they release their folders
        bus_.reset();
    }

private:
    const DriverTraits& traits_;
    std::unique_ptr<bus::SimulatedBus> bus_;
    std::shared_ptr<void> nodes_;
};

} // namespace

Opened OpenSimulatedNetwork(const DriverTraits& traits) {
    auto bus = std::make_unique<bus::SimulatedBus>("sim0");
    std::shared_ptr<bus::CanPort> masterPort = bus->Attach();
    auto interface =
        std::make_shared<SimulatedNetworkInterface>(traits, std::move(bus), std::move(masterPort));
    Opened opened;
    if (!interface->StartNodes(&opened.error)) {
        opened.error = std::string("the simulated ") + traits.busName +
                       " network does not start: " + opened.error;
        return opened;
    }
    opened.interface = std::move(interface);
    return opened;
}

} // namespace drivercore
