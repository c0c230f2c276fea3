#pragma once

#include "MasterClock.h"
#include "canopen/CanOpen.h"

#include <type_traits>

namespace copn {

using bus::canopen::NoDeadline;
using bus::canopen::TimePoint;
using drivercore::MasterClock;
using drivercore::SteadyMasterClock;
using drivercore::WaitUntil;

static_assert(std::is_same_v<TimePoint, drivercore::TimePoint> &&
              NoDeadline == drivercore::NoDeadline);

} // namespace copn
