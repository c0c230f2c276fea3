#pragma once

#include "DynamicLibrary.h"

#include <QDir>
#include <QTemporaryDir>
#include <cstdlib>
#include <fstream>
#include <string>

// While it lives, the program loads the real driver libraries, and the embedded simulated
// CANopen network keeps its nodes in a temporary folder: the default network, each node with
// its default restart time, its frames passing without wire timing.
class SimulatedCanopen {
public:
    // The network as the file describes it (by default: Network below).
    explicit SimulatedCanopen(const std::string& network = Network) {
        setenv("XDG_DATA_HOME", folder_.path().toLocal8Bit().constData(), 1);
        setenv("XDG_CONFIG_HOME", (folder_.path() + "/config").toLocal8Bit().constData(), 1);
        setenv(DriverPathVariable, DRIVER_DIR, 1);
        setenv("ZANDREL_SIM_WIRE", "off", 1);
        QDir().mkpath(QString::fromStdString(NetworkFolder()));
        std::ofstream(NetworkFolder() + "/network.ini") << network;
    }
    ~SimulatedCanopen() {
        unsetenv(DriverPathVariable);
        unsetenv("ZANDREL_SIM_WIRE");
    }
    SimulatedCanopen(const SimulatedCanopen&) = delete;
    SimulatedCanopen& operator=(const SimulatedCanopen&) = delete;

    std::string NetworkFolder() const {
        return folder_.path().toStdString() + "/zandrel/canopen-network";
    }
    std::string DataFolder() const { return folder_.path().toStdString(); }

    // The default network.
    static constexpr const char* Network = "[node 3]\n"
                                           "device_type=0x00000191\n"
                                           "device_name=Simulated I/O Node\n"
                                           "vendor_id=1166\n"
                                           "product_code=4003\n"
                                           "serial_number=3000003\n"
                                           "[node 9]\n"
                                           "checksum_width=8\n"
                                           "product_code=4009\n"
                                           "[node 12]\n"
                                           "device_type=0x00020192\n"
                                           "product_code=4012\n";

    // Standard program download: a firmware-object node beside CiA 302-3 nodes, one with block
    // transfer, one without, one whose next program write fails in its flash.
    static constexpr const char* StandardNodes = "[node 3]\n"
                                                 "product_code=4003\n"
                                                 "[node 20]\n"
                                                 "profile=302-3\n"
                                                 "program_size=131072\n"
                                                 "[node 21]\n"
                                                 "profile=302-3\n"
                                                 "program_size=131072\n"
                                                 "block_transfer=no\n"
                                                 "[node 22]\n"
                                                 "profile=302-3\n"
                                                 "program_size=131072\n"
                                                 "program_fault=flash_write_error\n";

private:
    QTemporaryDir folder_;
};
