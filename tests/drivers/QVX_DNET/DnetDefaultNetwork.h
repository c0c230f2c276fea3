#pragma once

#include "CanSettings.h"
#include "DnetExports.h"
#include "InterfaceRecord.h"
#include "ScopedEnvironment.h"

#include <QTemporaryDir>
#include <cstdint>
#include <gtest/gtest.h>

// The embedded default network, in a data folder of the test's own, its frames as fast as
// the code runs.
struct DefaultDnetNetwork {
    QTemporaryDir data;
    ScopedEnvironment folder{"XDG_DATA_HOME", data.path().toLocal8Bit().constData()};
    ScopedEnvironment wire{"ZANDREL_SIM_WIRE", "off"};

    // Opens it as the program does: MAC ID 0, 125 kbit/s, online, scanning every MAC ID.
    void OpenScanning(std::uint32_t* h) {
        const InterfaceRecord record = drivercore::DefaultRecord();
        ASSERT_EQ(OpenInterface(h, const_cast<InterfaceRecord*>(&record)), 1);
        ASSERT_EQ(SetMacID(*h, 0), 1);
        ASSERT_EQ(SetBaud(*h, 125000), 1);
        ASSERT_EQ(SetOnline(*h, 1), 1);
        ASSERT_EQ(StartScan(*h), 1);
        std::uint16_t params[4] = {48, 48, 1000, 2500};
        for (std::uint8_t mac = 0; mac < 64; ++mac)
            ASSERT_EQ(AddToScanlist(*h, mac, 0x01, params), 1);
    }
};
