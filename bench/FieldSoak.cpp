// Standard updates, one after another, as a production line runs them: through the program's
// windows, the real driver library and the embedded simulated network, on a bus with the
// faults of the network file's [bus] section (by default every 100th frame lost). Each update is
// followed by Stop Network Access, a look at what the node's flash holds (its folder, read with the
// node model), and Start Network Access again. The images differ a little in size from one update
// to the next.
//
// Usage: field_soak [canopen|devicenet|both] [updates] [fault ...]
//        (default: both, 50, lose_every=100); a fault is a [bus] line of the network file,
//        such as delay_every=50 delay_ms=600
// Prints, per bus, one line:
//   <bus> <faults>: updates U, successes S, failures F, successes with differing content D
// D must be 0: "Download Successful" only for the file's image, with a valid checksum.

#include "CanopenNetworkFile.h"
#include "Class_copn.h"
#include "Class_fw_dnld_dnet.h"
#include "DevicenetNetworkFile.h"
#include "DynamicLibrary.h"
#include "FileOpenDialog.h"
#include "FirmwareImage.h"
#include "Form_FW_Download.h"
#include "Form_FW_Download_Main.h"
#include "IntelHexWriter.h"
#include "MessageBox.h"
#include "NodeNetwork.h"
#include "Sleep.h"
#include "StringGrid.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr std::uint8_t Node = 3;
constexpr std::uint8_t Sector = 2;
// Images of 2 KiB to 3.5 KiB, in 32-byte steps in a scattered order: each network start
// counts its frames afresh, so with one size the lost frames would fall on the same step of
// every update; with these they fall on every step in turn.
constexpr std::size_t ImageSize = 2048;
std::size_t imageSizeOf(int number) {
    return ImageSize + 32 * static_cast<std::size_t>((number * 37) % 50);
}

bool processEventsUntil(const std::function<bool()>& condition, int limitMs) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > limitMs)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

struct Outcome {
    bool success = false;
    bool holdsImage = false;
    bool checksumMatches = false;
};

class Soak {
public:
    Soak(bool canopen, const std::vector<std::string>& faults) : canopen_(canopen) {
        setenv("XDG_DATA_HOME", folder_.path().toLocal8Bit().constData(), 1);
        setenv("XDG_CONFIG_HOME", (folder_.path() + "/config").toLocal8Bit().constData(), 1);
        setenv(DriverPathVariable, DRIVER_DIR, 1);
        setenv("ZANDREL_SIM_WIRE", "off", 1);
        network_ = folder_.path().toStdString() +
                   (canopen ? "/zandrel/canopen-network" : "/zandrel/devicenet-network");
        QDir().mkpath(QString::fromStdString(network_));
        std::ostringstream text;
        text << "[node 3]\nproduct_code=" << (canopen ? "4003" : "3003") << "\n";
        if (!faults.empty())
            text << "[bus]\n";
        for (const std::string& fault : faults)
            text << fault << "\n";
        networkText_ = text.str();
        std::ofstream(network_ + "/network.ini") << networkText_;

        // Every question answered yes, every message acknowledged; what was said is kept.
        SetMessageBoxHandler([this](const MessageBoxRequest& request) {
            shown_.push_back(request.text);
            const unsigned buttons = request.flags & 0x0F;
            return buttons == MB_YESNO || buttons == MB_YESNOCANCEL ? IDYES : IDOK;
        });
        SetFileDialogHandler(
            [this](const OpenFileRequest&) -> std::optional<std::string> { return hexFile_; });
        // The pauses wait for what they are there for: the node back after its reset.
        SetSleepHandler([this](DWORD ms) { pause(ms); });
    }

    Outcome Update(int number) {
        image_ = sim::MakeFirmwareImage({"Soak App", "soak", "Dec 10 2026", "12:00:00",
                                         0x00020000u + static_cast<std::uint32_t>(number)},
                                        imageSizeOf(number));
        hexFile_ = folder_.path().toStdString() + "/soak.hex";
        std::ofstream(hexFile_) << IntelHexText(image_, 0);
        shown_.clear();

        Outcome outcome;
        {
            TForm_FW_Download_Main window;
            window_ = &window;
            window.NodeType = canopen_ ? NodeTypeCANopen : NodeTypeDeviceNet;
            window.show();
            window.Button_NetworkStart->click();
            TStringGrid* grid = window.AdvStringGrid_NodesOnline;
            if (processEventsUntil([&] { return grid->Cell(0, 1) == "3"; }, 60000)) {
                QTimer poll;
                QObject::connect(&poll, &QTimer::timeout, [&] {
                    for (QWidget* widget : QApplication::topLevelWidgets())
                        if (auto* download = qobject_cast<TForm_FW_Download*>(widget);
                            download && download->isVisible()) {
                            poll.stop();
                            download->Edit_Password->setText("1A2B");
                            download->Button1->click(); // Standard Update
                            download->close();
                            return;
                        }
                });
                poll.start(10);
                grid->DblClickCell(1, 1);
            }
            window.close(); // Stop Network Access: the network lets the node's folder go
            window_ = nullptr;
        }
        for (const std::string& text : shown_)
            outcome.success = outcome.success || text == "Download Successful";
        if (!outcome.success) {
            std::string said;
            for (const std::string& text : shown_)
                said += " [" + text.substr(0, text.find('\r')) + "]";
            std::fprintf(stderr, "update %d failed:%s\n", number, said.c_str());
        }
        readNode(outcome);
        return outcome;
    }

private:
    void pause(DWORD ms) {
        TFirmware_Downloader* downloader = window_ ? window_->Downloader.get() : nullptr;
        std::function<bool()> done;
        if (auto* copn = dynamic_cast<TCOPN_Downloader*>(downloader)) {
            done = [copn] {
                std::uint32_t online = 0;
                TQVX_COPN_Interface& driver = *copn->copnInterface;
                return driver.GetNodeOnline(driver.driverHandle, Node, &online) && online;
            };
        } else if (auto* dnet = dynamic_cast<TDNet_Downloader*>(downloader);
                   dnet && ms == TDNet_Downloader::RestartStep) {
            const auto present = [dnet] {
                std::uint32_t there = 0;
                dnet->dnetInterface->NodeOnline(Node, &there);
                return there != 0;
            };
            done = [present, before = present()] {
                return present() != before;
            };
        } else {
            return;
        }
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!done() && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }

    void readNode(Outcome& outcome) {
        std::string error;
        sim::NodeNetwork network(network_);
        if (canopen_) {
            std::vector<sim::CanopenNodeSettings> nodes;
            sim::ParseCanopenNetwork(networkText_, network_, &nodes, &error);
            network.Add(Node, nodes.at(0).flash);
        } else {
            std::vector<sim::DevicenetNodeSettings> nodes;
            sim::ParseDevicenetNetwork(networkText_, network_, &nodes, &error);
            network.Add(Node, nodes.at(0).flash);
        }
        sim::FlashNode* node = network.Node(Node, &error);
        if (!node) {
            std::fprintf(stderr, "the node's folder cannot be read: %s\n", error.c_str());
            return;
        }
        std::uint32_t size = 0;
        (void)node->SectorSize(Sector, &size);
        std::vector<std::uint8_t> bytes(size);
        (void)node->Read(Sector, node->Settings().imageBase, bytes.data(), size);
        std::vector<std::uint8_t> expected(size, 0xFF);
        std::copy(image_.begin(), image_.end(), expected.begin());
        outcome.holdsImage = bytes == expected;
        (void)node->ChecksumMatches(Sector, &outcome.checksumMatches);
    }

    const bool canopen_;
    QTemporaryDir folder_;
    std::string network_;
    std::string networkText_;
    std::string hexFile_;
    std::vector<std::uint8_t> image_;
    std::vector<std::string> shown_;
    TForm_FW_Download_Main* window_ = nullptr;
};

void run(bool canopen, int updates, const std::vector<std::string>& faults) {
    Soak soak(canopen, faults);
    int successes = 0, failures = 0, differing = 0;
    for (int i = 0; i < updates; ++i) {
        const Outcome outcome = soak.Update(i);
        if (outcome.success) {
            ++successes;
            if (!outcome.holdsImage || !outcome.checksumMatches)
                ++differing;
        } else {
            ++failures;
        }
    }
    std::string named;
    for (const std::string& fault : faults)
        named += " " + fault;
    std::printf(
        "%s%s: updates %d, successes %d, failures %d, successes with differing content %d\n",
        canopen ? "CANopen" : "DeviceNet", named.c_str(), updates, successes, failures, differing);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    const std::string bus = argc > 1 ? argv[1] : "both";
    const int updates = argc > 2 ? std::atoi(argv[2]) : 50;
    std::vector<std::string> faults(argv + std::min(argc, 3), argv + argc);
    if (argc <= 3)
        faults = {"lose_every=100"};
    if (bus == "canopen" || bus == "both")
        run(true, updates, faults);
    if (bus == "devicenet" || bus == "both")
        run(false, updates, faults);
    return 0;
}
