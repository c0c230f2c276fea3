#pragma once

#include "CopnSettings.h"
#include "InterfaceRecord.h"

namespace copn {

// Lets the user choose the CAN interface (the simulated network, a SocketCAN interface or a
// Qt virtual CAN bus, with the devices Qt finds on this machine or a typed name), the bit
// rate and the master's own node-ID. True when the user accepted; both records then hold the
// choice, and are untouched otherwise. False without a Qt application.
bool ShowConfigDialog(InterfaceRecord* record, NetworkSettings* network);

} // namespace copn
