#pragma once

#include "Class_copn.h"
#include "Class_fw_dnld_dnet.h"
#include "Form_FW_Download_Main.h"
#include "ProgramDownload.h"
#include "WaitingSleep.h"

#include <chrono>
#include <functional>

// What the pauses of a CANopen or DeviceNet update wait for, with a WaitingSleep, so that
// the nodes may take their real restart time without the test spending the fixed pauses:
// - CANopen: the node being updated back (the driver reports it offline from its reset until
//   its boot-up); after an erase it is there already, and the pause ends at once.
// - DeviceNet: the restart steps end when the node's presence, as the driver reports it,
//   changes (gone after its reset, back after it); other pauses (after an erase) have nothing
//   to wait for on a simulated node.
// - A program download's look at a node still flashing: a moment, for the node's own
//   flash time to pass in its own time.
inline WaitingSleep::Until NodeOfTheUpdate(std::function<TFirmware_Downloader*()> downloaderNow) {
    return [downloaderNow](DWORD ms) -> WaitingSleep::Condition {
        if (ms == TProgramDownload::FlashPollPause)
            return [since = std::chrono::steady_clock::now()] {
                return std::chrono::steady_clock::now() - since >= std::chrono::milliseconds(2);
            };
        TFirmware_Downloader* downloader = downloaderNow();
        const auto node = static_cast<std::uint8_t>(downloader ? downloader->Node.load() : 0);
        if (auto* copn = dynamic_cast<TCOPN_Downloader*>(downloader); copn && copn->copnInterface) {
            return [copn, node] {
                std::uint32_t online = 0;
                TQVX_COPN_Interface& driver = *copn->copnInterface;
                return driver.GetNodeOnline(driver.driverHandle, node, &online) && online != 0;
            };
        }
        auto* dnet = dynamic_cast<TDNet_Downloader*>(downloader);
        if (!dnet || !dnet->dnetInterface || ms != TDNet_Downloader::RestartStep)
            return {};
        const auto present = [dnet, node] {
            std::uint32_t there = 0;
            dnet->dnetInterface->NodeOnline(node, &there);
            return there != 0;
        };
        return [present, before = present()] {
            return present() != before;
        };
    };
}

inline WaitingSleep::Until NodeOfTheUpdate(TForm_FW_Download_Main& window) {
    return NodeOfTheUpdate([&window] { return window.Downloader.get(); });
}
