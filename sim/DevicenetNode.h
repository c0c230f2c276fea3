#pragma once

#include "FlashNode.h"
#include "devicenet/DuplicateMac.h"
#include "devicenet/ExplicitServer.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace sim {

// What a simulated DeviceNet node is, besides its flash: its MAC ID and what it shows of
// itself. The flash settings' identity gives the Identity object's vendor ID, device type,
// product code (bits 0-14), serial number and product name.
struct DevicenetNodeSettings {
    std::uint8_t macId = 0;
    FlashNodeSettings flash;
    // Whether the firmware object answers attribute 17 (size of the selected sector); some
    // loaders do not, and the program knows their sector sizes by heart.
    bool sectorSizeAttribute = true;
    // Whether the node checks its MAC ID when it comes onto the network (two requests a
    // second apart, then a second of silence) before it answers anything else; without the
    // check it answers at once.
    bool duplicateMacCheck = true;
    // The mode the node runs when it leaves the factory.
    NodeMode factoryMode = NodeMode::Application;
};

// The objects of the firmware loader, class 0xC7 instance 1, by attribute.
namespace FirmwareAttribute {
constexpr std::uint8_t Command = 3;      // byte string, set: 0x02 write block, 0x03 erase
constexpr std::uint8_t Select = 7;       // USINT, get/set: the selected sector
constexpr std::uint8_t Name = 8;         // SHORT_STRING, get: of the selected sector
constexpr std::uint8_t Description = 9;  // SHORT_STRING, get
constexpr std::uint8_t BuildDate = 10;   // SHORT_STRING, get
constexpr std::uint8_t BuildTime = 11;   // SHORT_STRING, get
constexpr std::uint8_t Revision = 12;    // UDINT, get: 0xFFFFFFFF for an empty sector
constexpr std::uint8_t Checksum = 13;    // UDINT, get/set: stored checksum
constexpr std::uint8_t BootSector = 14;  // USINT, get/set
constexpr std::uint8_t SectorCount = 16; // USINT, get
constexpr std::uint8_t SectorSize = 17;  // UDINT, get (when the node offers it)
constexpr std::uint8_t Password = 18;    // UDINT, set: arms download mode for the next reset
} // namespace FirmwareAttribute

constexpr std::uint16_t FirmwareClass = 0xC7;

// One simulated DeviceNet node: a flash node behind the Group 2 only server (allocation and
// release of the explicit connection, fragmentation), with two objects:
//
// - Identity (class 1, instance 1): 1 vendor ID (UINT), 2 device type (UINT), 3 product code
//   (UINT; bit 15 set while in download mode), 4 revision of the running image (USINT major,
//   USINT minor), 5 status (WORD; bit 0: the connection set is owned), 6 serial number
//   (UDINT), 7 product name (SHORT_STRING). Reset (0x05, no data or type 0) restarts the
//   node: into download mode when the password was written before, else into its boot sector.
// - The firmware object (class 0xC7, instance 1), attributes as in FirmwareAttribute. Flash
//   changes outside download mode are refused with "object state conflict".
//
// Refusals carry the DeviceNet general status codes. When it comes onto the network (power
// on, back from a restart) the node checks its MAC ID first; while it restarts it hears
// nothing and says nothing, and its explicit connection is gone when it is back.
//
// The flash node is opened when the node is first spoken to; one that cannot be opened
// leaves the node silent.
//
// The node keeps its own time: every timer it runs is a deadline that the step which set it
// returns — the end of a restart (after which it checks its MAC ID with no frame from the
// master), the repeat of a response fragment whose acknowledgement did not come (500 ms), the
// inactivity watchdog of its explicit connection (10 s) — so its host calls it then, whether
// or not a frame comes.
//
// Step functions; not thread-safe, but for ConnectionHeld.
class DevicenetNode : public bus::devicenet::ExplicitObjects {
public:
    using TimePoint = bus::devicenet::TimePoint;
    using Output = bus::devicenet::Output;
    using FlashSource = std::function<FlashNode*(std::string* error)>;

    DevicenetNode(DevicenetNodeSettings settings, FlashSource flash);

    std::uint8_t MacId() const { return settings_.macId; }
    const DevicenetNodeSettings& Settings() const { return settings_; }
    bus::devicenet::MacCheckState CheckState() const { return check_->State(); }
    bool Allocated() const { return server_.Allocated(); }
    // Allocated, as the last step left it; for any thread (a test that watches the node).
    bool ConnectionHeld() const { return connectionHeld_.load(std::memory_order_relaxed); }

    // The node is switched on: its MAC ID check starts.
    Output PowerOn(TimePoint now);
    Output OnFrame(const bus::CanFrame& frame, TimePoint now);
    Output OnTime(TimePoint now);

    bus::devicenet::ServiceResult Service(std::uint8_t service, std::uint16_t classId,
                                          std::uint16_t instance,
                                          const std::vector<std::uint8_t>& request) override;

private:
    Output powerOn(TimePoint now);
    Output onFrame(const bus::CanFrame& frame, TimePoint now);
    Output onTime(TimePoint now);
    Output published(Output output);
    FlashNode* flash();
    bool restarting() const;
    Output cameBack(TimePoint now);
    Output joined(Output first, Output second) const;
    Output withDeadline(Output output) const;
    void restartCheck();
    bus::devicenet::ServiceResult identity(std::uint8_t service,
                                           const std::vector<std::uint8_t>& request);
    bus::devicenet::ServiceResult firmware(std::uint8_t service,
                                           const std::vector<std::uint8_t>& request);
    bus::devicenet::ServiceResult getFirmware(std::uint8_t attribute);
    bus::devicenet::ServiceResult setFirmware(std::uint8_t attribute,
                                              const std::vector<std::uint8_t>& value);
    bus::devicenet::ServiceResult command(const std::vector<std::uint8_t>& record);

    DevicenetNodeSettings settings_;
    FlashSource flashSource_;
    FlashNode* flash_ = nullptr;
    bool flashRefused_ = false;
    bool duplicateReported_ = false;
    std::uint64_t known_ = 0; // the flash node's incarnation whose start the node has seen
    std::optional<bus::devicenet::DuplicateMacCheck> check_;
    bus::devicenet::ExplicitServer server_;
    std::uint8_t selected_ = 0;
    std::atomic<bool> connectionHeld_{false};
};

// The general status code that tells a master why the node refused.
std::uint8_t GeneralStatusFor(NodeError error);

} // namespace sim
