#pragma once

#include "DynamicLibrary.h"

#include <QDir>
#include <QTemporaryDir>
#include <cstdlib>
#include <fstream>
#include <string>

// While it lives, the program loads the real driver libraries and the simulated VARNIX
// module keeps its state and settings in a temporary folder, restarting at once.
class SimulatedVarnix {
public:
    SimulatedVarnix() {
        setenv("XDG_DATA_HOME", folder_.path().toLocal8Bit().constData(), 1);
        setenv("XDG_CONFIG_HOME", (folder_.path() + "/config").toLocal8Bit().constData(), 1);
        setenv(DriverPathVariable, DRIVER_DIR, 1);
        WriteModuleSettings("restart_ms=0\n");
    }
    ~SimulatedVarnix() { unsetenv(DriverPathVariable); }
    SimulatedVarnix(const SimulatedVarnix&) = delete;
    SimulatedVarnix& operator=(const SimulatedVarnix&) = delete;

    // Replaces the module's settings file (read when the driver next opens the module).
    void WriteModuleSettings(const std::string& text) {
        const std::string folder = ModuleFolder();
        QDir().mkpath(QString::fromStdString(folder));
        std::ofstream(folder + "/module.ini") << text;
    }
    std::string ModuleFolder() const {
        return folder_.path().toStdString() + "/zandrel/varnix-module";
    }
    QString ConfigFolder() const { return folder_.path() + "/config"; }

private:
    QTemporaryDir folder_;
};
