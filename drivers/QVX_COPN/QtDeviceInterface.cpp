// An interface on a Qt SerialBus CAN device.

#include "CopnInterface.h"
#include "QtCanInterface.h"

namespace copn {

Opened OpenQtDevice(std::uint32_t type, const std::string& device) {
    return canif::OpenQtCanDevice<Interface>(type, device, SteadyMasterClock());
}

} // namespace copn
