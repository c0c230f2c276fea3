// zandrel-nodesim: runs a simulated CANopen or DeviceNet network on a CAN bus of this machine
// until it is stopped (Ctrl-C, SIGTERM), so that the program in another process reaches its
// nodes.
//
//   zandrel-nodesim --plugin virtualcan --interface tcp://127.0.0.1:35468/can0
//   zandrel-nodesim --bus devicenet --plugin socketcan --interface vcan0
//
// Options: --bus canopen|devicenet (canopen), --plugin socketcan|virtualcan (virtualcan),
// --interface NAME (required), --bitrate BIT/S (0: leave the device's own), --network FOLDER
// (the network's folder, with its network.ini; default: nodesim-canopen or nodesim-devicenet
// in the data folder, never the folder of the network a driver simulates itself).
//
// The network's file may make the nodes slow (answer_delay_ms) and, in its [bus] section,
// lose, duplicate or delay every Nth of the frames this process's nodes receive and send.

#include "CanopenSimulation.h"
#include "DataFolder.h"
#include "DevicenetSimulation.h"
#include "QtCanPort.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <pthread.h>
#include <string>
#include <thread>
#include <vector>

namespace {

int usage(const char* message) {
    std::fprintf(stderr,
                 "zandrel-nodesim: %s\n"
                 "usage: zandrel-nodesim [--bus canopen|devicenet] "
                 "[--plugin socketcan|virtualcan] --interface NAME [--bitrate BIT/S] "
                 "[--network FOLDER]\n",
                 message);
    return 2;
}

constexpr const char* helpText =
    "usage: zandrel-nodesim [--bus canopen|devicenet] [--plugin socketcan|virtualcan]\n"
    "                       --interface NAME [--bitrate BIT/S] [--network FOLDER]\n"
    "\n"
    "Runs a simulated CANopen or DeviceNet network on a CAN bus of this machine until it is\n"
    "stopped (Ctrl-C, SIGTERM), so that zandrel or zandrel-flash in another process reaches\n"
    "its nodes.\n"
    "\n"
    "  --bus canopen|devicenet          the network (canopen)\n"
    "  --plugin socketcan|virtualcan    Qt's CAN plugin (virtualcan)\n"
    "  --interface NAME                 vcan0, or tcp://127.0.0.1:35468/can0 for virtualcan\n"
    "  --bitrate BIT/S                  set the device's bit rate (0: leave it as it is)\n"
    "  --network FOLDER                 the network's folder with its network.ini (default:\n"
    "                                   nodesim-canopen or nodesim-devicenet in the data\n"
    "                                   folder)\n";

} // namespace

int main(int argc, char** argv) {
    std::map<std::string, std::string> options = {
        {"--bus", "canopen"}, {"--plugin", "virtualcan"}, {"--bitrate", "0"}};
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "-h" || option == "--help")
            return std::fputs(helpText, stdout), 0;
        if (!options.count(option) && option != "--interface" && option != "--network")
            return usage(("unknown option " + option).c_str());
        if (i + 1 >= argc)
            return usage((option + " needs a value").c_str());
        options[option] = argv[++i];
    }
    if (!options.count("--interface"))
        return usage("--interface is required");
    const std::string busKind = options["--bus"];
    if (busKind != "canopen" && busKind != "devicenet")
        return usage("--bus is canopen or devicenet");
    const bool devicenet = busKind == "devicenet";
    std::string folder = options.count("--network") ? options["--network"] : "";
    if (folder.empty()) {
        const std::string data = sim::ZandrelDataFolder();
        if (data.empty())
            return usage("no data folder (set XDG_DATA_HOME or HOME), and no --network");
        folder = data + (devicenet ? "/nodesim-devicenet" : "/nodesim-canopen");
    }
    char* end = nullptr;
    const unsigned long bitRate = std::strtoul(options["--bitrate"].c_str(), &end, 10);
    if (*end != '\0' || bitRate > 1000000)
        return usage("--bitrate is 0 to 1000000");

    // Signals are taken by a thread of their own, which asks the event loop to end.
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);

    QCoreApplication application(argc, argv);
    bus::QtCanPortOptions portOptions;
    portOptions.bitRate = static_cast<std::uint32_t>(bitRate);
    auto port =
        std::make_unique<bus::QtCanPort>(options["--plugin"], options["--interface"], portOptions);
    if (!port->Open()) {
        std::fprintf(stderr, "zandrel-nodesim: %s %s: %s\n", options["--plugin"].c_str(),
                     options["--interface"].c_str(), port->LastError().c_str());
        return 1;
    }
    std::string error;
    // One of the two networks runs; the other pointer stays empty.
    std::unique_ptr<sim::CanopenSimulation> canopen;
    std::unique_ptr<sim::DevicenetSimulation> devicenetNetwork;
    std::vector<std::uint8_t> addresses;
    if (devicenet) {
        devicenetNetwork = sim::DevicenetSimulation::Start(std::move(port), folder, &error);
        if (devicenetNetwork)
            addresses = devicenetNetwork->MacIds();
    } else {
        canopen = sim::CanopenSimulation::Start(std::move(port), folder, &error);
        if (canopen)
            addresses = canopen->NodeIds();
    }
    if (!canopen && !devicenetNetwork) {
        std::fprintf(stderr, "zandrel-nodesim: %s\n", error.c_str());
        return 1;
    }
    std::string ids;
    for (std::uint8_t id : addresses)
        ids += (ids.empty() ? "" : ", ") + std::to_string(id);
    std::printf("zandrel-nodesim: %s nodes %s on %s %s; network folder %s\n",
                devicenet ? "DeviceNet" : "CANopen", ids.c_str(), options["--plugin"].c_str(),
                options["--interface"].c_str(), folder.c_str());
    std::fflush(stdout);

    std::thread waiter([&stops] {
        int signal = 0;
        sigwait(&stops, &signal);
        QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                                  Qt::QueuedConnection);
    });
    waiter.detach();
    const int status = application.exec();
    canopen.reset();
    devicenetNetwork.reset();
    return status;
}
