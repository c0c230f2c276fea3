#pragma once

#include "Firmware_Downloader.h"
#include "FlashOptions.h"

#include <array>
#include <memory>
#include <string>
#include <vector>

// A node on the list, with the main window's columns.
struct NodeIdentityRow {
    std::uint8_t node = 0;
    // Node, vendor ID, device type, product code, revision, serial number, product name.
    std::array<std::string, 7> columns;
    // Found in download mode: the revision and name are those of the firmware its boot
    // sector holds, not the loader's.
    bool inDownloadMode = false;
};

// The headers of the main window's node list for a node type.
std::array<std::string, 7> NodeListHeaders(TNodeType bus);

// The downloader of the chosen node type, online on the chosen interface, as the main window
// has it after Start: the settings the program saved, changed where the command line says.
class FlashSession {
public:
    explicit FlashSession(const FlashOptions& options);
    ~FlashSession();
    FlashSession(const FlashSession&) = delete;
    FlashSession& operator=(const FlashSession&) = delete;

    // Goes online; false with the reason when the network cannot be reached. On CANopen a
    // command on given nodes reaches them alone, without the network search and its reset of
    // every node's communication.
    bool Open(std::string* error);

    TFirmware_Downloader& Downloader() { return *downloader_; }

    // The nodes online after the network has had time to answer; waits until every node of
    // `expected` (numbers as the list shows them) is there, at most NodeWaitMs.
    std::vector<NodeIdentityRow> NodesOnline(const std::vector<std::uint8_t>& expected = {});
    bool IsOnline(std::uint8_t node);
    // The downloader's node of a number as the list shows it (the VARNIX module is shown as
    // 1): the node online with that ID, else the number itself.
    std::uint8_t NodeShownAs(std::uint8_t shown);
    std::optional<NodeIdentityRow> Identity(std::uint8_t node);

    // After a restart: waits until the node is back with its identity read, at most
    // RestartWaitMs; its identity then.
    std::optional<NodeIdentityRow> WaitForReturn(std::uint8_t node);

    static constexpr std::uint32_t PollPeriodMs = 100;
    // How long the list waits for nodes that answer late, and for ones asked for by number.
    static constexpr std::uint32_t QuietMs = 2000;
    static constexpr std::uint32_t NodeWaitMs = 15000;
    static constexpr std::uint32_t RestartWaitMs = 60000;

private:
    void applyInterfaceOptions();
    void poll();

    FlashOptions options_;
    std::unique_ptr<TFirmware_Downloader> downloader_;
    bool online_ = false;
    // Nodes named on the command line that did not answer when the run went online to them:
    // nothing is waited for them.
    std::vector<std::uint8_t> silent_;
};
