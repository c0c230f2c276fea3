#pragma once

#include "ChecksumRule.h"
#include "NodeTypes.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sim {

class NodeFolder;

// Who a node says it is.
struct NodeIdentity {
    std::uint32_t vendorId = 0;
    std::uint32_t productCode = 0;
    std::uint32_t revision = 0;
    std::uint32_t serialNumber = 0;
    std::uint32_t deviceType = 0;
    std::string deviceName;
};

// What a flash node is, set once: its sectors, where images start, how it sums a sector, its
// password, how long a restart takes, its hardware and its identity.
struct FlashNodeSettings {
    std::vector<std::uint32_t> sectorSizes = std::vector<std::uint32_t>(4, 0x8000);
    // The sector the loader lives in: download mode runs it, and it boots when the boot
    // sector is erased.
    std::uint8_t loaderSector = 0;
    // Images are linked for this address: byte 0 of a sector holds image address imageBase.
    std::uint32_t imageBase = 0;
    ChecksumRule checksum;
    std::uint32_t password = 0x1A2B;
    std::uint32_t restartMilliseconds = 1000;
    std::uint32_t hardwareMajor = 1;
    std::uint32_t hardwareMinor = 0;
    NodeIdentity identity;

    // Empty when the settings describe a node; else what is wrong with them.
    std::string Problem() const;
};

inline constexpr std::uint32_t MaxSectorSize = 16u << 20;
// The most flash one node holds, all its sectors together.
inline constexpr std::uint32_t MaxNodeFlash = 16u << 20;

// A node with sectors of NOR flash (erase sets 0xFF, a write may only clear bits), a stored
// checksum per sector, a boot sector, and two modes: running the application of one sector,
// or download mode, in which alone the flash may be changed. Download mode is armed by the
// password and entered at the next reset; a reset that finds nothing armed starts the boot
// sector. A restart takes the node off the bus for its restart time, on the clock it is given;
// while it is off, every operation is refused as Busy.
//
// Not thread-safe: its owner serialises the calls. With a state folder, every change is
// stored before the operation reports success, the state once per operation that changes it
// (a restart always: it is stored as it happens); a change that cannot be stored is refused and
// leaves the node as its folder holds it: as it was, or, for an erase whose sector could not
// be erased once its checksum was withdrawn, with the sector's old bytes and no checksum.
class FlashNode {
public:
    using Mode = NodeMode;
    static constexpr std::uint32_t NoChecksum = 0xFFFFFFFFu;

    // Throws std::invalid_argument when settings.Problem() is not empty.
    explicit FlashNode(FlashNodeSettings settings, NodeClock clock = SteadyNodeClock());
    ~FlashNode();

    const FlashNodeSettings& Settings() const { return settings_; }

    // Serves the node from a folder taken for it (see NodeFolder): the stored node when there
    // is a coherent one, else the node as it stands now (its factory state), written there.
    // A damaged folder is moved aside with one line on standard error. False, with the reason
    // in *error, when the folder cannot be taken or written; the node then has no folder.
    bool AttachStateFolder(const std::string& folder, std::string* error = nullptr);
    bool HasStateFolder() const { return folder_ != nullptr; }

    // Fills a sector as the node leaves the factory, without storing anything.
    void SetSector(std::uint8_t sector, const std::vector<std::uint8_t>& image, bool withChecksum);
    void SetRunState(Mode mode, std::uint8_t runningSector, std::uint8_t bootSector);

    // Off the bus while it restarts. Every restart starts a new incarnation, which drops what
    // was connected to the old one: a protocol layer that sees Online() with an incarnation it
    // has not announced yet knows the node just came back (a CANopen node's boot-up).
    bool Online() const;
    std::uint64_t Incarnation() const { return incarnation_; }
    // When the last restart ends (or ended).
    std::chrono::steady_clock::time_point BackAt() const { return offlineUntil_; }

    Mode CurrentMode() const { return mode_; }
    std::uint8_t RunningSector() const { return runningSector_; }
    std::uint8_t BootSector() const { return bootSector_; }
    std::uint8_t SectorCount() const { return static_cast<std::uint8_t>(sectors_.size()); }
    std::uint32_t SerialNumber() const { return serialNumber_; }

    // Reads work in either mode; changes only in download mode.
    NodeResult SectorSize(std::uint8_t sector, std::uint32_t* size) const;
    // The first 76 bytes of the sector (0xFF past a smaller sector's end).
    NodeResult Description(std::uint8_t sector, std::uint8_t* header76) const;
    NodeResult Read(std::uint8_t sector, std::uint32_t address, std::uint8_t* data,
                    std::size_t length) const;
    NodeResult Write(std::uint8_t sector, std::uint32_t address, const std::uint8_t* data,
                     std::size_t length);
    NodeResult Erase(std::uint8_t sector);
    NodeResult SetStoredChecksum(std::uint8_t sector, std::uint32_t checksum);
    NodeResult StoredChecksum(std::uint8_t sector, std::uint32_t* checksum) const;
    NodeResult ChecksumMatches(std::uint8_t sector, bool* ok) const;
    // The node's own sum over the sector, by its checksum rule.
    std::uint32_t ComputedChecksum(std::uint8_t sector) const;
    NodeResult SetBootSector(std::uint8_t sector);
    NodeResult SetSerialNumber(std::uint32_t serialNumber);

    // The revision of the image the node runs (in download mode: its loader's).
    std::uint32_t RunningRevision() const;

    // Arms download mode for the next reset; a wrong password is refused and disarms.
    NodeResult ArmDownloadMode(std::uint32_t password);
    bool DownloadModeArmed() const { return armed_; }
    // Restarts: into download mode when armed, else into the boot sector.
    NodeResult Reset();
    // Arms and resets in one step.
    NodeResult EnterDownloadMode(std::uint32_t password);
    // Starts the sector without making it the boot sector.
    NodeResult Execute(std::uint8_t sector);

    // Whether the sector holds an image that may be started: a revision and a matching
    // checksum. A sector that may not is never started: the node comes up in download mode.
    bool Runnable(std::uint8_t sector) const;

private:
    bool validSector(std::uint8_t sector) const { return sector < sectors_.size(); }
    NodeResult changeable(std::uint8_t sector) const;
    NodeResult restartInto(Mode mode, std::uint8_t sector);
    NodeResult storeState();
    void startFromLoadedState();

    FlashNodeSettings settings_;
    NodeClock clock_;
    std::vector<std::vector<std::uint8_t>> sectors_;
    std::vector<std::uint32_t> checksums_;
    Mode mode_ = Mode::Download;
    std::uint8_t runningSector_ = 0;
    std::uint8_t bootSector_ = 0;
    std::uint32_t serialNumber_ = 0;
    bool serialNumberSet_ = false;
    bool armed_ = false;
    std::uint64_t incarnation_ = 1;
    std::chrono::steady_clock::time_point offlineUntil_{};
    std::unique_ptr<NodeFolder> folder_;
};

} // namespace sim
