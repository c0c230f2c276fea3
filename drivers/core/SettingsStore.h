#pragma once

#include "InterfaceRecord.h"

#include <string>

// Stores a driver's interface record under the key path the program names (Windows style,
// "\Software\Maker\Program\"), as an INI file below $XDG_CONFIG_HOME (~/.config when
// unset): the path's parts become folders, a leading "Software" left out, and the file is
// named after the driver.
std::string SettingsFileFor(const char* keyPath, const char* driverName);

// False when nothing is stored (the record is then left as it was) or the path is unusable.
bool ReadInterfaceRecord(const char* keyPath, const char* driverName, InterfaceRecord* record);
bool SaveInterfaceRecord(const char* keyPath, const char* driverName,
                         const InterfaceRecord& record);
