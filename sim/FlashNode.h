#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// What a flash node is, set once: its sectors, where images start, its password, how long a
// restart takes, its hardware and its identity.
struct FlashNodeSettings {
    std::uint8_t sectorCount = 4;
    std::uint32_t sectorSize = 0x8000;
    // Images are linked for this address: byte 0 of a sector holds image address imageBase.
    std::uint32_t imageBase = 0;
    std::uint32_t password = 0x1A2B;
    std::uint32_t restartMilliseconds = 1000;
    std::uint32_t hardwareMajor = 1;
    std::uint32_t hardwareMinor = 0;
    std::uint32_t serialNumber = 0;
    std::uint32_t deviceType = 0;
    std::uint32_t productCode = 0;
    std::uint32_t vendorId = 0;
    std::string productName;
};

// A node with sectors of NOR flash (erase sets 0xFF, a write may only clear bits), a stored
// checksum per sector, a boot sector, and two modes: running the application of one sector,
// or download mode (entered with the password), in which alone the flash may be changed.
// A restart takes the node off the bus for its restart time.
//
// Not thread-safe: its owner serialises the calls. With a state folder set, every change is
// written there at once (each file replaced whole), and the node starts from it next time.
class FlashNode {
public:
    enum class Mode : std::uint8_t { Download = 0, Application = 1 };
    static constexpr std::uint32_t NoChecksum = 0xFFFFFFFFu;

    explicit FlashNode(FlashNodeSettings settings);

    const FlashNodeSettings& Settings() const { return settings_; }

    // Reads the node's state from the folder when there is one there, else writes the
    // current state to it; later changes are written there too. False when the folder
    // cannot be used (the node then keeps its state in memory only).
    bool AttachStateFolder(const std::string& folder);

    // Fills the sectors as the node leaves the factory, without writing anything.
    void SetSector(std::uint8_t sector, const std::vector<std::uint8_t>& image, bool withChecksum);
    void SetRunState(Mode mode, std::uint8_t runningSector, std::uint8_t bootSector);

    // Off the bus while it restarts; every restart starts a new incarnation, which drops
    // what was connected to the old one.
    bool Online() const;
    std::uint64_t Incarnation() const { return incarnation_; }

    Mode CurrentMode() const { return mode_; }
    std::uint8_t RunningSector() const { return runningSector_; }
    std::uint8_t BootSector() const { return bootSector_; }

    // Reads work in either mode; changes only in download mode. False for a sector or a
    // range that does not exist, and for a write that would set a cleared bit.
    bool SectorSize(std::uint8_t sector, std::uint32_t* size) const;
    bool Description(std::uint8_t sector, std::uint8_t* header76) const;
    bool Read(std::uint8_t sector, std::uint32_t address, std::uint8_t* data,
              std::size_t length) const;
    bool Write(std::uint8_t sector, std::uint32_t address, const std::uint8_t* data,
               std::size_t length);
    bool Erase(std::uint8_t sector);
    bool SetStoredChecksum(std::uint8_t sector, std::uint32_t checksum);
    bool StoredChecksum(std::uint8_t sector, std::uint32_t* checksum) const;
    bool ChecksumMatches(std::uint8_t sector, bool* ok) const;
    std::uint32_t ComputedChecksum(std::uint8_t sector) const;
    bool SetBootSector(std::uint8_t sector);
    bool SetSerialNumber(std::uint32_t serialNumber);

    // The revision of the image the node runs (in download mode: its loader in sector 0).
    std::uint32_t RunningRevision() const;

    // Restarts. EnterDownloadMode refuses a wrong password; Execute starts the sector
    // without making it the boot sector; Reset starts the boot sector. A sector that is
    // empty or fails its checksum is never started: the node comes back in download mode.
    bool EnterDownloadMode(std::uint32_t password);
    bool Execute(std::uint8_t sector);
    bool Reset();

    // Whether the sector holds an image that may be started.
    bool Runnable(std::uint8_t sector) const;

private:
    bool validSector(std::uint8_t sector) const { return sector < sectors_.size(); }
    bool changeable(std::uint8_t sector) const;
    void restartInto(Mode mode, std::uint8_t sector);
    void saveSector(std::uint8_t sector);
    void saveState();

    FlashNodeSettings settings_;
    std::vector<std::vector<std::uint8_t>> sectors_;
    std::vector<std::uint32_t> checksums_;
    Mode mode_ = Mode::Download;
    std::uint8_t runningSector_ = 0;
    std::uint8_t bootSector_ = 0;
    std::uint64_t incarnation_ = 1;
    std::chrono::steady_clock::time_point offlineUntil_{};
    std::string folder_;
};

} // namespace sim
