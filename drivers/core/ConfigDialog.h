#pragma once

#include "DriverTraits.h"
#include "InterfaceRecord.h"
#include "NetworkSettings.h"

namespace drivercore {

// Lets the user choose the CAN interface (a backend, with the devices Qt finds on this
// machine or a typed name), the bit rate and the master's own address, as the driver's
// traits allow. True when the user accepted; both records then hold the choice, and are
// untouched otherwise. False without a Qt application.
bool ShowConfigDialog(const DriverTraits& traits, InterfaceRecord* record,
                      NetworkSettings* network);

} // namespace drivercore
