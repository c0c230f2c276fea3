#pragma once

#include "FolderLock.h"
#include "NodeTypes.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sim {

// What a node keeps besides its flash.
struct NodeState {
    NodeMode mode = NodeMode::Download;
    std::uint8_t runningSector = 0;
    std::uint8_t bootSector = 0;
    std::vector<std::uint32_t> checksums; // one per sector
    // Set by the program; the node's settings give it otherwise.
    std::optional<std::uint32_t> serialNumber;
};

// The folder in which one node keeps its flash and state, served by one process at a time.
// Temporaries that a crash left are removed when the folder is taken.
//
// node.state is a small text file, replaced whole at every change of the state; it names the
// geometry (each sector's size), so that a node of another geometry is not read from it. Each
// sectorN.flash holds sector N with every byte inverted, so that erased flash (0xFF) is a hole
// in a sparse file: a node costs the disk only what was written to it. A block written to a
// sector goes to its place in the file; an erase replaces the file whole. Files are replaced
// through a temporary of their own, flushed before the rename, so a crash at any moment
// leaves every file either as it was or as it became.
class NodeFolder {
public:
    // Takes the folder for this process: made when missing, and locked (see FolderLock) for
    // as long as the object lives. Null, with the reason in *error, when the folder cannot be
    // made or another process, or another object of this one, serves it.
    static std::unique_ptr<NodeFolder> Take(const std::string& path, std::string* error);
    ~NodeFolder();
    NodeFolder(const NodeFolder&) = delete;
    NodeFolder& operator=(const NodeFolder&) = delete;

    const std::string& Path() const { return path_; }

    enum class Found {
        Nothing,    // a new node: nothing stored yet
        State,      // the stored node, whole and coherent
        Damaged,    // something stored, read and found unusable; *why says what
        Unreadable, // a file that cannot be opened or read; *why gives the system's reason
        Unwritable, // stored in an older layout that could not be brought up to date
    };
    // Reads the stored node whole and checks every value and the geometry; the outputs are
    // written only when the result is State.
    Found Load(const std::vector<std::uint32_t>& geometry, NodeState* state,
               std::vector<std::vector<std::uint8_t>>* sectors, std::string* why);

    // Writes the whole node: its sectors, then the state, which makes them its own.
    bool SaveAll(const NodeState& state, const std::vector<std::vector<std::uint8_t>>& sectors);
    // Writes a new node, into a folder that holds none, as SaveAll, under a mark that lets the
    // next Load find Nothing when the save is cut short (not a damaged folder).
    bool SaveNew(const NodeState& state, const std::vector<std::vector<std::uint8_t>>& sectors);
    bool SaveState(const NodeState& state);
    // Bytes of flash at offset in the sector, written in place (not flushed).
    bool WriteSector(std::uint8_t sector, std::uint32_t offset, const std::uint8_t* flash,
                     std::size_t length);
    // Flushes what WriteSector wrote to the sector.
    bool SyncSector(std::uint8_t sector);
    // Replaces the sector's file with erased flash.
    bool EraseSector(std::uint8_t sector);

    // Moves the folder aside, to "<folder>.damaged-YYYYMMDD-HHMMSS", and makes an empty one
    // in its place, under the lock on the place, held throughout. *aside names where it went.
    bool SetAside(std::string* aside, std::string* error);

private:
    NodeFolder(std::string path, std::unique_ptr<FolderLock> lock)
        : path_(std::move(path)), lock_(std::move(lock)) {}
    int sectorFd(std::uint8_t sector);
    void closeSectorFiles();
    std::string sectorPath(std::uint8_t sector) const;
    std::string stateText(const NodeState& state) const;
    // What Load finds when there is no node.state.
    Found withoutState(std::string* why) const;
    // Every sector's file, in the current layout (inverted) or the first, each of its
    // sector's size: State when they are.
    Found readSectorFiles(bool currentLayout, std::vector<std::vector<std::uint8_t>>* flash,
                          std::string* why) const;
    bool migrateFromFirstLayout(const NodeState& state,
                                const std::vector<std::vector<std::uint8_t>>& sectors);
    // Removes the first layout's sector files that a conversion left behind.
    void removeFirstLayoutFiles();

    std::string path_;
    std::unique_ptr<FolderLock> lock_;
    std::vector<std::uint32_t> geometry_;
    std::vector<int> sectorFds_;
};

} // namespace sim
