#include "NodeFolder.h"

#include "NetworkFile.h"
#include "QuotedText.h"
#include "StateFiles.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <set>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace sim {

namespace {

constexpr int Layout = 2;

std::string stateFile(const std::string& folder) {
    return folder + "/node.state";
}

// The sector files of the first layout: plain bytes, rewritten whole at every change.
std::string firstLayoutSectorFile(const std::string& folder, std::size_t sector) {
    return folder + "/sector" + std::to_string(sector) + ".bin";
}

bool exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

// Marks a folder whose first node is being written: sector files found with it and without a
// node.state are what a first save cut short left, not someone's images.
std::string unfinishedMark(const std::string& folder) {
    return folder + "/node.unfinished";
}

// Whether the folder's node writes the file (a name without a folder).
bool nodeFile(const std::string& file) {
    if (file == "node.state" || file == "module.ini" || file == "node.unfinished")
        return true;
    constexpr std::string_view Sector = "sector", Flash = ".flash";
    return file.size() > Sector.size() + Flash.size() && file.starts_with(Sector) &&
           file.ends_with(Flash) &&
           file.find_first_not_of("0123456789", Sector.size()) == file.size() - Flash.size();
}

// "key=value" lines, each key once; false at a line of another form.
bool parseLines(const std::string& text, std::map<std::string, std::string>* values,
                std::string* why) {
    std::size_t start = 0;
    int number = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        ++number;
        if (line.empty() || line[0] == '#')
            continue;
        const auto equals = line.find('=');
        if (equals == std::string::npos || equals == 0) {
            *why = "line " + std::to_string(number) + " is not key=value";
            return false;
        }
        if (!values->emplace(line.substr(0, equals), line.substr(equals + 1)).second) {
            *why = Quoted(line.substr(0, equals)) + " is given twice";
            return false;
        }
    }
    return true;
}

std::string geometryText(const std::vector<std::uint32_t>& geometry) {
    std::string text;
    for (std::size_t i = 0; i < geometry.size(); ++i) {
        if (i)
            text += ',';
        text += std::to_string(geometry[i]);
    }
    return text;
}

void invert(const std::uint8_t* from, std::uint8_t* to, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i)
        to[i] = static_cast<std::uint8_t>(~from[i]);
}

// The values of a node.state, taken key by key; what is wrong with one goes to *why.
class StateValues {
public:
    StateValues(std::map<std::string, std::string> values, std::string* why)
        : values_(std::move(values)), why_(why) {}

    bool Has(const std::string& key) const { return values_.count(key) != 0; }

    // The key's text; "" when there is none.
    std::string Text(const std::string& key) {
        known_.insert(key);
        auto it = values_.find(key);
        return it == values_.end() ? "" : it->second;
    }

    bool Number(const std::string& key, std::uint64_t max, std::uint64_t* value) {
        known_.insert(key);
        auto it = values_.find(key);
        if (it == values_.end()) {
            *why_ = "node.state has no " + key;
            return false;
        }
        if (!ParseWholeNumber(it->second, 0, max, value)) {
            *why_ = "node.state has a bad value: " + Quoted(key + "=" + it->second);
            return false;
        }
        return true;
    }

    // Whether every key was taken.
    bool AllKnown() const {
        for (const auto& [key, value] : values_)
            if (!known_.count(key)) {
                *why_ = "node.state has an unknown key " + Quoted(key);
                return false;
            }
        return true;
    }

private:
    std::map<std::string, std::string> values_;
    std::set<std::string> known_;
    std::string* why_;
};

// The layout the state is written in (1 when it names none), and, in the current layout, the
// geometry it names, which must be the node's.
bool readLayout(StateValues& values, const std::vector<std::uint32_t>& geometry,
                std::uint64_t* layout, std::string* why) {
    *layout = 1;
    if (values.Has("format") && !values.Number("format", 0xFFFF, layout))
        return false;
    if (*layout != 1 && *layout != Layout) {
        *why = "node.state is of an unknown format " + std::to_string(*layout);
        return false;
    }
    if (*layout == Layout) {
        const std::string stored = values.Text("geometry");
        if (stored != geometryText(geometry)) {
            *why = "its geometry (" + Quoted(stored) + ") is not the node's (" +
                   geometryText(geometry) + ")";
            return false;
        }
    }
    return true;
}

// The mode, sectors, checksums and serial number of a node of count sectors.
bool readNodeState(StateValues& values, std::size_t count, NodeState* state) {
    std::uint64_t mode = 0, running = 0, boot = 0;
    if (!values.Number("mode", 1, &mode) || !values.Number("running", count - 1, &running) ||
        !values.Number("boot", count - 1, &boot))
        return false;
    state->mode = mode == 0 ? NodeMode::Download : NodeMode::Application;
    state->runningSector = static_cast<std::uint8_t>(running);
    state->bootSector = static_cast<std::uint8_t>(boot);
    for (std::size_t s = 0; s < count; ++s) {
        std::uint64_t checksum = 0;
        if (!values.Number("checksum" + std::to_string(s), 0xFFFFFFFFu, &checksum))
            return false;
        state->checksums.push_back(static_cast<std::uint32_t>(checksum));
    }
    if (values.Has("serial_number")) {
        std::uint64_t serial = 0;
        if (!values.Number("serial_number", 0xFFFFFFFFu, &serial))
            return false;
        state->serialNumber = static_cast<std::uint32_t>(serial);
    }
    return true;
}

} // namespace

std::unique_ptr<NodeFolder> NodeFolder::Take(const std::string& path, std::string* error) {
    if (path.empty()) {
        *error = "no folder for the node's flash";
        return nullptr;
    }
    if (!MakeFolders(path)) {
        *error = path + ": cannot be made: " + std::strerror(errno);
        return nullptr;
    }
    auto lock = FolderLock::Take(path, error);
    if (!lock)
        return nullptr;
    RemoveLeftoverTemporaries(path, nodeFile);
    return std::unique_ptr<NodeFolder>(new NodeFolder(path, std::move(lock)));
}

NodeFolder::~NodeFolder() {
    closeSectorFiles();
}

std::string NodeFolder::sectorPath(std::uint8_t sector) const {
    return path_ + "/sector" + std::to_string(sector) + ".flash";
}

void NodeFolder::closeSectorFiles() {
    for (int& fd : sectorFds_) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

int NodeFolder::sectorFd(std::uint8_t sector) {
    if (sector >= sectorFds_.size())
        return -1;
    int& fd = sectorFds_[sector];
    if (fd < 0)
        fd = ::open(sectorPath(sector).c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    return fd;
}

NodeFolder::Found NodeFolder::Load(const std::vector<std::uint32_t>& geometry, NodeState* state,
                                   std::vector<std::vector<std::uint8_t>>* sectors,
                                   std::string* why) {
    closeSectorFiles();
    geometry_ = geometry;
    sectorFds_.assign(geometry.size(), -1);

    std::vector<std::uint8_t> bytes;
    std::string problem;
    switch (ReadWholeFile(stateFile(path_), MaxTextFileSize, &bytes, &problem)) {
    case FileRead::Missing:
        return withoutState(why);
    case FileRead::TooLarge:
        *why = "node.state " + problem;
        return Found::Damaged;
    case FileRead::Unreadable:
        *why = "node.state cannot be read: " + problem;
        return Found::Unreadable;
    case FileRead::Read:
        ::unlink(unfinishedMark(path_).c_str()); // the first save got as far as the state
        break;
    }
    if (bytes.empty()) {
        *why = "node.state is empty";
        return Found::Damaged;
    }
    std::map<std::string, std::string> lines;
    if (!parseLines(std::string(bytes.begin(), bytes.end()), &lines, why))
        return Found::Damaged;
    StateValues values(std::move(lines), why);
    std::uint64_t layout = 1;
    NodeState loaded;
    if (!readLayout(values, geometry, &layout, why) ||
        !readNodeState(values, geometry.size(), &loaded) || !values.AllKnown())
        return Found::Damaged;

    std::vector<std::vector<std::uint8_t>> flash;
    if (const Found found = readSectorFiles(layout == Layout, &flash, why); found != Found::State)
        return found;
    if (layout != Layout && !migrateFromFirstLayout(loaded, flash)) {
        *why = "its files could not be brought to the current layout";
        return Found::Unwritable;
    }
    if (layout == Layout)
        removeFirstLayoutFiles();
    *state = std::move(loaded);
    *sectors = std::move(flash);
    return Found::State;
}

NodeFolder::Found NodeFolder::withoutState(std::string* why) const {
    if (exists(unfinishedMark(path_)))
        return Found::Nothing;
    // Sector files without a state: never overwrite what may be someone's images.
    for (std::size_t s = 0; s < 256; ++s)
        if (exists(sectorPath(static_cast<std::uint8_t>(s))) ||
            exists(firstLayoutSectorFile(path_, s))) {
            *why = "node.state is missing";
            return Found::Damaged;
        }
    return Found::Nothing;
}

NodeFolder::Found NodeFolder::readSectorFiles(bool currentLayout,
                                              std::vector<std::vector<std::uint8_t>>* flash,
                                              std::string* why) const {
    flash->assign(geometry_.size(), {});
    for (std::size_t s = 0; s < geometry_.size(); ++s) {
        const std::string file = currentLayout ? sectorPath(static_cast<std::uint8_t>(s))
                                               : firstLayoutSectorFile(path_, s);
        const std::string name = file.substr(file.rfind('/') + 1);
        std::vector<std::uint8_t>& sector = (*flash)[s];
        std::string problem;
        switch (ReadWholeFile(file, geometry_[s], &sector, &problem)) {
        case FileRead::Missing:
            *why = name + " is missing";
            return Found::Damaged;
        case FileRead::TooLarge:
            *why = name + " " + problem + ", the sector's size";
            return Found::Damaged;
        case FileRead::Unreadable:
            *why = name + " cannot be read: " + problem;
            return Found::Unreadable;
        case FileRead::Read:
            break;
        }
        if (sector.size() != geometry_[s]) {
            *why = name + " holds " + std::to_string(sector.size()) + " bytes, not " +
                   std::to_string(geometry_[s]);
            return Found::Damaged;
        }
        if (currentLayout)
            invert(sector.data(), sector.data(), sector.size());
    }
    return Found::State;
}

bool NodeFolder::migrateFromFirstLayout(const NodeState& state,
                                        const std::vector<std::vector<std::uint8_t>>& sectors) {
    // The new files first; the state file in the new layout then makes them the node's, and
    // only then do the old ones go.
    if (!SaveAll(state, sectors))
        return false;
    removeFirstLayoutFiles();
    return true;
}

void NodeFolder::removeFirstLayoutFiles() {
    for (std::size_t s = 0; s < geometry_.size(); ++s) {
        const std::string file = firstLayoutSectorFile(path_, s);
        if (exists(file) && StorageStep("remove a file"))
            ::unlink(file.c_str());
    }
}

std::string NodeFolder::stateText(const NodeState& state) const {
    std::string text =
        "# A simulated flash node; replaced whole at every change. Each sectorN.flash holds\n"
        "# sector N with every byte inverted, so that erased flash is a hole in the file.\n";
    text += "format=" + std::to_string(Layout) + "\n";
    text += "geometry=" + geometryText(geometry_) + "\n";
    text += "mode=" + std::to_string(static_cast<int>(state.mode)) + "\n";
    text += "running=" + std::to_string(state.runningSector) + "\n";
    text += "boot=" + std::to_string(state.bootSector) + "\n";
    for (std::size_t s = 0; s < state.checksums.size(); ++s) {
        char value[16];
        std::snprintf(value, sizeof value, "0x%08X", state.checksums[s]);
        text += "checksum" + std::to_string(s) + "=" + value + "\n";
    }
    if (state.serialNumber)
        text += "serial_number=" + std::to_string(*state.serialNumber) + "\n";
    return text;
}

bool NodeFolder::SaveAll(const NodeState& state,
                         const std::vector<std::vector<std::uint8_t>>& sectors) {
    closeSectorFiles();
    for (std::size_t s = 0; s < sectors.size(); ++s) {
        std::vector<std::uint8_t> stored(sectors[s].size());
        invert(sectors[s].data(), stored.data(), stored.size());
        if (!WriteSparseFileReplacing(sectorPath(static_cast<std::uint8_t>(s)), stored.data(),
                                      stored.size()))
            return false;
    }
    return SaveState(state);
}

bool NodeFolder::SaveNew(const NodeState& state,
                         const std::vector<std::vector<std::uint8_t>>& sectors) {
    if (!WriteFileReplacing(unfinishedMark(path_), "", 0) || !SaveAll(state, sectors))
        return false;
    ::unlink(unfinishedMark(path_).c_str());
    return true;
}

bool NodeFolder::SaveState(const NodeState& state) {
    const std::string text = stateText(state);
    return WriteFileReplacing(stateFile(path_), text.data(), text.size());
}

bool NodeFolder::WriteSector(std::uint8_t sector, std::uint32_t offset, const std::uint8_t* flash,
                             std::size_t length) {
    const int fd = sectorFd(sector);
    if (fd < 0)
        return false;
    std::uint8_t small[256];
    std::vector<std::uint8_t> large;
    std::uint8_t* stored = small;
    if (length > sizeof small) {
        large.resize(length);
        stored = large.data();
    }
    invert(flash, stored, length);
    return WriteAt(fd, offset, stored, length);
}

bool NodeFolder::SyncSector(std::uint8_t sector) {
    const int fd = sectorFd(sector);
    return fd >= 0 && SyncFile(fd);
}

bool NodeFolder::EraseSector(std::uint8_t sector) {
    if (sector >= geometry_.size())
        return false;
    if (sectorFds_[sector] >= 0) {
        ::close(sectorFds_[sector]);
        sectorFds_[sector] = -1;
    }
    const std::vector<std::uint8_t> erased(geometry_[sector], 0);
    return WriteSparseFileReplacing(sectorPath(sector), erased.data(), erased.size());
}

bool NodeFolder::SetAside(std::string* aside, std::string* error) {
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    std::string target = path_ + ".damaged-" + stamp;
    for (int n = 2; exists(target); ++n)
        target = path_ + ".damaged-" + stamp + "-" + std::to_string(n);
    // The lock is on the folder's place: it is held while the folder moves aside and an empty
    // one takes its place.
    if (!StorageStep("move a folder aside") || std::rename(path_.c_str(), target.c_str()) != 0) {
        *error = path_ + ": cannot be moved aside: " + std::strerror(errno);
        return false;
    }
    closeSectorFiles();
    if (!StorageStep("make a folder") || ::mkdir(path_.c_str(), 0700) != 0) {
        *error = path_ + ": cannot be made: " + std::strerror(errno);
        return false;
    }
    *aside = target;
    return true;
}

} // namespace sim
