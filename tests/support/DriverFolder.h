#pragma once

#include "DynamicLibrary.h"

#include <cstdlib>
#include <string>

// Points the program's driver search at a folder while it lives.
class DriverFolder {
public:
    explicit DriverFolder(const std::string& folder) {
        setenv(DriverPathVariable, folder.c_str(), 1);
    }
    ~DriverFolder() { unsetenv(DriverPathVariable); }
    DriverFolder(const DriverFolder&) = delete;
    DriverFolder& operator=(const DriverFolder&) = delete;
};
