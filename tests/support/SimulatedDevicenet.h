#pragma once

#include "DynamicLibrary.h"

#include <QDir>
#include <QTemporaryDir>
#include <cstdlib>
#include <fstream>
#include <string>

// While it lives, the program loads the real driver libraries, and the embedded simulated
// DeviceNet network keeps its nodes in a temporary folder: the default network, each node
// with its default restart time but without a duplicate MAC ID check of its own, its frames
// passing without wire timing.
class SimulatedDevicenet {
public:
    SimulatedDevicenet() {
        setenv("XDG_DATA_HOME", folder_.path().toLocal8Bit().constData(), 1);
        setenv("XDG_CONFIG_HOME", (folder_.path() + "/config").toLocal8Bit().constData(), 1);
        setenv(DriverPathVariable, DRIVER_DIR, 1);
        setenv("ZANDREL_SIM_WIRE", "off", 1);
        QDir().mkpath(QString::fromStdString(NetworkFolder()));
        std::ofstream(NetworkFolder() + "/network.ini") << Network;
    }
    ~SimulatedDevicenet() {
        unsetenv(DriverPathVariable);
        unsetenv("ZANDREL_SIM_WIRE");
    }
    SimulatedDevicenet(const SimulatedDevicenet&) = delete;
    SimulatedDevicenet& operator=(const SimulatedDevicenet&) = delete;

    std::string NetworkFolder() const {
        return folder_.path().toStdString() + "/zandrel/devicenet-network";
    }

    static constexpr const char* Network = "[node 3]\n"
                                           "vendor_id=1166\n"
                                           "device_type=7\n"
                                           "product_code=3003\n"
                                           "serial_number=5000003\n"
                                           "product_name=Simulated I/O Node\n"
                                           "duplicate_mac_check=no\n"
                                           "[node 5]\n"
                                           "vendor_id=729\n"
                                           "product_code=0x1FE2\n"
                                           "sector_sizes=0xFFFF,0x2FFFF,0x2FFFF,0xFFFF\n"
                                           "sector_size_attribute=no\n"
                                           "factory_mode=download\n"
                                           "duplicate_mac_check=no\n"
                                           "[node 10]\n"
                                           "product_code=3010\n"
                                           "duplicate_mac_check=no\n";

private:
    QTemporaryDir folder_;
};
