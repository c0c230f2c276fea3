#pragma once

#include "CanopenErrorControl.h"
#include "FlashNode.h"
#include "canopen/Guarding.h"
#include "canopen/Nmt.h"
#include "canopen/SdoServer.h"

#include <cstdint>
#include <functional>
#include <string>

namespace sim {

// What a simulated CANopen node is, besides its flash: its node-ID and the texts of its
// identity objects. The flash settings' identity gives 0x1000 (device type), 0x1008 (device
// name) and 0x1018:01–04 (vendor, product code, revision number, serial number).
struct CanopenNodeSettings {
    std::uint8_t nodeId = 0;
    FlashNodeSettings flash;
    std::string hardwareVersion; // 0x1009
    // The producer heartbeat time (0x1017) at boot-up, milliseconds; 0: no heartbeat.
    std::uint16_t heartbeatMilliseconds = 0;
    // Whether the node answers guard requests and has 0x100C and 0x100D; without, it ignores
    // the requests and refuses the two objects with 0x06020000 (object does not exist).
    bool guarding = true;
    // Whether its expedited upload answers state their size (see SdoServer::SetSizeIndicated).
    bool sizeIndicated = true;
};

// One simulated CANopen node: a flash node behind CiA 301 — the SDO server, NMT, node
// guarding with its life time (an emergency message when the master's guard requests stop),
// the heartbeat producer (0x1017), the boot-up message — with its identity objects, the
// error register (0x1001) and the manufacturer objects
// 0x3600 to 0x3611 of the firmware loader:
//   0x3600 command record (2 write block, 3 erase)   0x3604 select sector
//   0x3605–0x3608 name, description, build date and time of the selected sector
//   0x3609 its revision   0x360A its checksum   0x360B boot sector   0x360D sector count
//   0x360E selected size  0x360F download-mode password (armed; entered at the next reset)
//   0x3610 checksum state 0x3611 checksum width
// Flash changes outside download mode are refused with abort 0x08000022; in download mode
// the product code (0x1018:02) reads 0.
//
// The flash node is opened when first needed (an SDO request, a reset); one that cannot be
// opened leaves the node silent. A Reset Node takes the node off the bus for its restart
// time; it announces itself with its boot-up message when it is back.
//
// Step functions; not thread-safe.
class CanopenNode : public bus::canopen::ObjectDictionary {
public:
    using TimePoint = bus::canopen::TimePoint;
    using FlashSource = std::function<FlashNode*(std::string* error)>;

    CanopenNode(CanopenNodeSettings settings, FlashSource flash);

    std::uint8_t NodeId() const { return settings_.nodeId; }
    bus::canopen::NmtState State() const { return guard_.State(); }

    // The boot-up message of a node that has just been switched on.
    bus::canopen::Output PowerOn(TimePoint now);
    bus::canopen::Output OnFrame(const bus::CanFrame& frame, TimePoint now);
    bus::canopen::Output OnTime(TimePoint now);

    bus::canopen::SdoReadResult Read(std::uint16_t index, std::uint8_t subIndex) override;
    std::uint32_t Write(std::uint16_t index, std::uint8_t subIndex,
                        const std::vector<std::uint8_t>& data) override;
    std::uint32_t CheckWrite(std::uint16_t index, std::uint8_t subIndex,
                             std::optional<std::size_t> size) override;

private:
    FlashNode* flash();
    bool restarting() const;
    bus::canopen::Output bootUp(TimePoint now);
    bus::canopen::Output withDeadline(bus::canopen::Output output) const;
    bus::canopen::Output onNmt(const bus::canopen::NmtMessage& message, TimePoint now);
    std::uint32_t command(const std::vector<std::uint8_t>& record);
    // The entries Read serves: the identity object 0x1018, the other entries of the
    // communication profile (0x1000 to 0x1017), the firmware loader's (0x3604 to 0x3611), and
    // of those the selected sector's firmware header (0x3605 to 0x3609).
    bus::canopen::SdoReadResult readIdentity(FlashNode& node, std::uint8_t subIndex);
    bus::canopen::SdoReadResult readProfileEntry(FlashNode& node, std::uint16_t index);
    bus::canopen::SdoReadResult readFirmwareEntry(FlashNode& node, std::uint16_t index);
    bus::canopen::SdoReadResult readDescription(FlashNode& node, std::uint16_t index);

    CanopenNodeSettings settings_;
    FlashSource flashSource_;
    FlashNode* flash_ = nullptr;
    bool flashRefused_ = false;
    std::uint64_t announced_ = 0; // the flash node's incarnation last announced by a boot-up
    bus::canopen::SdoServer sdo_;
    bus::canopen::GuardingNode guard_;
    CanopenErrorControl errorControl_;
    TimePoint now_{}; // of the frame being answered, for the writes it brings
    std::uint8_t selected_ = 0;
};

// The software version text of a revision: "major.minor" (0x00020011 → "2.17").
std::string RevisionText(std::uint32_t revision);

} // namespace sim
