#pragma once

#include "CanopenErrorControl.h"
#include "FlashNode.h"
#include "ProgramSettings.h"
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
    // The objects the node has beyond the communication profile.
    CanopenProfile profile = CanopenProfile::Firmware;
    // Its programs, for CanopenProfile::ProgramDownload.
    ProgramSettings programs;
};

// The communication profile (CiA 301) of a simulated CANopen node, on a flash node: the SDO
// server, NMT, node guarding with its life time (an emergency message when the master's guard
// requests stop), the heartbeat producer (0x1017), the boot-up message, the identity objects
// and the error register (0x1001):
//   0x1000 device type   0x1001 error register   0x1008 device name   0x1009 hardware version
//   0x100C guard time   0x100D life-time factor   0x1017 producer heartbeat time
//   0x1018 identity (vendor, product code, revision number, serial number)
// A derived node adds the objects of its application.
//
// The flash node is opened when first needed (an SDO request, a reset); one that cannot be
// opened leaves the node silent. A Reset Node takes the node off the bus for its restart
// time; it announces itself with its boot-up message when it is back.
//
// Step functions; not thread-safe.
class Cia301Node : public bus::canopen::ObjectDictionary {
public:
    using TimePoint = bus::canopen::TimePoint;
    using FlashSource = std::function<FlashNode*(std::string* error)>;

    std::uint8_t NodeId() const { return settings_.nodeId; }
    bus::canopen::NmtState State() const { return guard_.State(); }

    // The boot-up message of a node that has just been switched on.
    bus::canopen::Output PowerOn(TimePoint now);
    bus::canopen::Output OnFrame(const bus::CanFrame& frame, TimePoint now);
    bus::canopen::Output OnTime(TimePoint now);
    // The frames it gave to send have crossed the wire by `at` (see SdoServer::FramesSent).
    void FramesSent(TimePoint at) { sdo_.FramesSent(at); }

    bus::canopen::SdoReadResult Read(std::uint16_t index, std::uint8_t subIndex) final;
    std::uint32_t Write(std::uint16_t index, std::uint8_t subIndex,
                        const std::vector<std::uint8_t>& data) final;
    std::uint32_t CheckWrite(std::uint16_t index, std::uint8_t subIndex,
                             std::optional<std::size_t> size) final;

protected:
    Cia301Node(CanopenNodeSettings settings, FlashSource flash);

    const CanopenNodeSettings& settings() const { return settings_; }
    bus::canopen::SdoServer& sdo() { return sdo_; }
    FlashNode* flash();
    // The time of the frame being answered, for the entries it reads and writes.
    TimePoint now() const { return now_; }

    // What the application adds. The entries outside the communication profile, with the
    // opened flash node:
    virtual bus::canopen::SdoReadResult readApplication(FlashNode& node, std::uint16_t index,
                                                        std::uint8_t subIndex) = 0;
    virtual std::uint32_t writeApplication(FlashNode& node, std::uint16_t index,
                                           std::uint8_t subIndex,
                                           const std::vector<std::uint8_t>& data) = 0;
    // Asked when a segmented download of such an entry begins (see ObjectDictionary).
    virtual std::uint32_t checkApplicationWrite(FlashNode& node, std::uint16_t index,
                                                std::uint8_t subIndex,
                                                std::optional<std::size_t> size) = 0;
    // 0x1018:02 as the node reads it now.
    virtual std::uint32_t productCode(FlashNode& node) = 0;
    // NMT Reset Node: restarts the device; refused, the node restarts its communication alone.
    virtual NodeResult restart(FlashNode& node) = 0;
    // Every boot-up message: power-on, reset communication, back from a restart.
    virtual void bootingUp() {}
    // The application starts: the flash node was opened, or is back from a restart.
    virtual void started(FlashNode& /*node*/) {}

private:
    bool restarting() const;
    bus::canopen::Output bootUp(TimePoint now);
    // A boot-up after a restart of the flash node.
    bus::canopen::Output backFromRestart(TimePoint now);
    bus::canopen::Output withDeadline(bus::canopen::Output output) const;
    bus::canopen::Output onNmt(const bus::canopen::NmtMessage& message, TimePoint now);
    // The entries Read serves: the identity object 0x1018, the other entries of the
    // communication profile.
    bus::canopen::SdoReadResult readIdentity(FlashNode& node, std::uint8_t subIndex);
    bus::canopen::SdoReadResult readProfileEntry(FlashNode& node, std::uint16_t index);

    CanopenNodeSettings settings_;
    FlashSource flashSource_;
    FlashNode* flash_ = nullptr;
    bool flashRefused_ = false;
    std::uint64_t announced_ = 0; // the flash node's incarnation last announced by a boot-up
    bus::canopen::SdoServer sdo_;
    bus::canopen::GuardingNode guard_;
    CanopenErrorControl errorControl_;
    TimePoint now_{}; // of the frame being answered, for the writes it brings
};

// Little-endian values of SDO entries.
std::vector<std::uint8_t> LittleEndian(std::uint32_t value, std::size_t width);
// A node's answers to a read: a value of width bytes, a text, a refusal with its abort code.
bus::canopen::SdoReadResult ValueAnswer(std::uint32_t value, std::size_t width);
bus::canopen::SdoReadResult TextAnswer(const std::string& text);
bus::canopen::SdoReadResult Refusal(std::uint32_t code);
std::uint32_t FromLittleEndian(const std::vector<std::uint8_t>& bytes);

} // namespace sim
