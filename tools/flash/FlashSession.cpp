#include "FlashSession.h"

#include "Can_interface_types.h"
#include "Class_copn.h"
#include "Class_fw_dnld_dnet.h"
#include "DownloaderFactory.h"
#include "Form_FW_Download_Main.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

std::array<std::string, 7> NodeListHeaders(TNodeType bus) {
    return {bus == NodeTypeCANopen ? "Node ID" : "Node",
            "Vendor ID",
            "Device Type",
            "Product Code",
            "Revision",
            "Serial Number",
            bus == NodeTypeCANopen ? "Device Name" : "Product Name"};
}

FlashSession::FlashSession(const FlashOptions& options)
    : options_(options), downloader_(CreateDownloaderFor(options.bus)) {
    if (downloader_) {
        downloader_->NodeType = options.bus;
        downloader_->ReadConfiguration(TForm_FW_Download_Main::RegistryKey);
        applyInterfaceOptions();
    }
}

FlashSession::~FlashSession() {
    if (downloader_ && online_)
        downloader_->GoOffline();
}

namespace {

void setRecord(InterfaceConfigRecord& record, const InterfaceChoice& choice) {
    switch (choice.kind) {
    case InterfaceChoice::Simulated:
        record.InterfaceType = CAN_INTERFACE_SIMULATED_NETWORK;
        break;
    case InterfaceChoice::SocketCan:
        record.InterfaceType = CAN_INTERFACE_SOCKETCAN;
        break;
    case InterfaceChoice::VirtualCan:
        record.InterfaceType = CAN_INTERFACE_VIRTUALCAN;
        break;
    }
    std::memset(record.AccessPoint, 0, sizeof record.AccessPoint);
    std::memcpy(record.AccessPoint, choice.accessPoint.data(),
                std::min(choice.accessPoint.size(), sizeof record.AccessPoint - 1));
}

} // namespace

// Only for this run: nothing is saved.
void FlashSession::applyInterfaceOptions() {
    InterfaceConfigRecord* record = nullptr;
    std::uint32_t* ownId = nullptr;
    std::uint32_t* bitRate = nullptr;
    if (auto* copn = dynamic_cast<TCOPN_Downloader*>(downloader_.get());
        copn && copn->copnInterface) {
        record = &copn->copnInterface->interfaceConfig;
        ownId = &copn->copnInterface->networkSettings.NodeId;
        bitRate = &copn->copnInterface->networkSettings.BitRate;
        if (options_.sdoTimeout)
            copn->copnInterface->SetSdoTimeoutChoice(options_.sdoTimeout);
    } else if (auto* dnet = dynamic_cast<TDNet_Downloader*>(downloader_.get());
               dnet && dnet->dnetInterface) {
        record = &dnet->dnetInterface->interfaceConfig;
        ownId = &dnet->dnetInterface->networkSettings.MacId;
        bitRate = &dnet->dnetInterface->networkSettings.BaudRate;
    }
    if (!record)
        return;
    if (options_.interface)
        setRecord(*record, *options_.interface);
    if (options_.ownId)
        *ownId = *options_.ownId;
    if (options_.bitRate)
        *bitRate = *options_.bitRate;
}

bool FlashSession::Open(std::string* error) {
    if (!downloader_) {
        *error = "no downloader for this node type";
        return false;
    }
    auto* copn = dynamic_cast<TCOPN_Downloader*>(downloader_.get());
    const bool named = options_.command != FlashCommand::List && !options_.nodes.empty();
    std::vector<std::uint8_t> answered;
    const bool online = copn && named ? copn->GoOnlineToNodes(options_.nodes, &answered) != 0
                                      : downloader_->GoOnline() != 0;
    if (copn && named)
        for (std::uint8_t n : options_.nodes)
            if (std::find(answered.begin(), answered.end(), n) == answered.end())
                silent_.push_back(n);
    if (!online) {
        *error = "cannot go online";
        return false;
    }
    online_ = true;
    if (copn && copn->copnInterface)
        copn->copnInterface->SetSDOTimeout(copn->copnInterface->driverHandle,
                                           copn->copnInterface->SdoTimeout());
    return true;
}

namespace {

using Clock = std::chrono::steady_clock;

// A wait for the network, as long as the nodes take: not one of the program's fixed pauses.
void pollPause() {
    std::this_thread::sleep_for(std::chrono::milliseconds(FlashSession::PollPeriodMs));
}

Clock::time_point after(std::uint32_t ms) {
    return Clock::now() + std::chrono::milliseconds(ms);
}

} // namespace

void FlashSession::poll() {
    std::uint32_t changed = 0;
    downloader_->UpdateNodesOnline(&changed);
}

bool FlashSession::IsOnline(std::uint8_t node) {
    return node < TFirmware_Downloader::MaxNodeAddresses && downloader_->Online[node] != 0;
}

std::uint8_t FlashSession::NodeShownAs(std::uint8_t shown) {
    for (unsigned n = 0; n < TFirmware_Downloader::MaxNodeAddresses; ++n)
        if (downloader_->Online[n] && downloader_->NodeId[n] == shown)
            return static_cast<std::uint8_t>(n);
    return shown;
}

std::optional<NodeIdentityRow> FlashSession::Identity(std::uint8_t node) {
    if (!IsOnline(node))
        return std::nullopt;
    TFirmware_Downloader& d = *downloader_;
    return NodeIdentityRow{node,
                           {d.GetNodeString(node), d.GetVendor(node), d.GetDeviceType(node),
                            d.GetProductCode(node), d.GetRevision(node), d.GetSerialNumber(node),
                            d.GetProductName(node)}};
}

std::vector<NodeIdentityRow> FlashSession::NodesOnline(const std::vector<std::uint8_t>& expected) {
    // Polled as the nodes-online thread polls: until the nodes asked for are there, or, for
    // the whole list, until it has not changed for a while.
    const auto deadline = after(NodeWaitMs);
    auto quietUntil = after(QuietMs);
    std::vector<std::uint32_t> before(TFirmware_Downloader::MaxNodeAddresses, 0);
    poll();
    while (Clock::now() < deadline) {
        std::vector<std::uint32_t> now(TFirmware_Downloader::MaxNodeAddresses, 0);
        for (std::size_t n = 0; n < now.size(); ++n)
            now[n] = downloader_->Online[n];
        if (now != before)
            quietUntil = after(QuietMs);
        before = now;
        if (expected.empty()
                ? Clock::now() >= quietUntil
                : std::all_of(expected.begin(), expected.end(), [this](std::uint8_t n) {
                      return IsOnline(NodeShownAs(n)) ||
                             std::find(silent_.begin(), silent_.end(), n) != silent_.end();
                  }))
            break;
        pollPause();
        poll();
    }
    std::uint16_t count = 0;
    downloader_->GetMaxNodes(&count);
    std::vector<NodeIdentityRow> rows;
    for (unsigned n = 0; n < std::min<unsigned>(count, TFirmware_Downloader::MaxNodeAddresses); ++n)
        if (auto row = Identity(static_cast<std::uint8_t>(n)))
            rows.push_back(*row);
    return rows;
}

std::optional<NodeIdentityRow> FlashSession::WaitForReturn(std::uint8_t node) {
    const auto deadline = after(RestartWaitMs);
    while (Clock::now() < deadline) {
        pollPause();
        poll();
        if (auto row = Identity(node); row && !row->columns[4].empty())
            return row;
    }
    return std::nullopt;
}
