#pragma once

#include "DriverTraits.h"

#include <cstddef>
#include <cstdint>

// Points the settings store at a scratch folder of this process; once, before any check.
void PrepareDriverSettingsCheck();

// Writes the bytes as the driver's stored configuration, reads it, saves and reads it again,
// and checks each step's promises; returns 0 as a fuzz target does.
int CheckDriverSettings(const drivercore::DriverTraits& traits, const std::uint8_t* data,
                        std::size_t size);
