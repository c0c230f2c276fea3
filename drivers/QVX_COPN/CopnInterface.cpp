#include "CopnInterface.h"

#include <utility>

namespace copn {

Opened OpenOnPort(std::shared_ptr<bus::CanPort> port, MasterClock clock) {
    return canif::OpenOnProvidedPort<Interface>(std::move(port), std::move(clock));
}

Opened OpenInterfaceFor(const InterfaceRecord& record) {
    return canif::OpenInterfaceNamedBy<Opened>(record, OpenSimulatedNetwork, OpenQtDevice);
}

} // namespace copn
