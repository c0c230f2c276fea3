// An interface on a Qt SerialBus CAN device.

#include "DnetInterface.h"
#include "QtCanInterface.h"

namespace dnet {

Opened OpenQtDevice(std::uint32_t type, const std::string& device) {
    return canif::OpenQtCanDevice<Interface>(type, device, SteadyMasterClock());
}

} // namespace dnet
