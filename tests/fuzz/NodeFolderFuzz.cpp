// A simulated node's folder loaded from any node.state and any sector files.
//
// Promises checked: Load either loads a coherent node or says why not, and changes nothing
// of the caller's then.
// - State: one sector per entry of the geometry, each of its size, holding the bytes the
//   files hold (inverted in the current layout, plain in the first); a checksum per sector;
//   running and boot sectors within the geometry. Loading it again gives the same node (a
//   node of the first layout was brought up to date, and its old files are gone).
// - Nothing: only when nothing is stored (no node.state, no sector file).
// - anything else: a reason, and the caller's outputs untouched; a Damaged folder then moves
//   aside whole and an empty one takes its place, which loads as Nothing.
//
// Input: a header, then node.state's text.
//   byte    the geometry: 1 + (bits 0-1) sectors, sector s of 16 << ((byte >> (2 + s)) & 3)
//           bytes (16 to 128)
//   byte    which files exist: bit 0 node.state, bit 1 + s sectorS.flash (s < 4); the next
//   byte    bit s: sectorS.bin (the first layout)
//   then, for every sector file that exists (the .flash files first, then the .bin files):
//           a length byte (0: the sector's size; else byte % 160) and a seed byte (byte i of
//           the file: seed × 31 + i × 7, every fourth byte 0)
//   the rest: node.state

#include "FuzzCheck.h"
#include "FuzzInput.h"
#include "FuzzScratch.h"
#include "NodeFolder.h"

#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace sim;
namespace fs = std::filesystem;

namespace {

const fs::path& scratchRoot() {
    return FuzzScratchRoot("node");
}

void writeFile(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::uint8_t> fileBytes(FuzzInput& in, std::uint32_t sectorSize) {
    const std::uint8_t length = in.Byte();
    const std::uint8_t seed = in.Byte();
    std::vector<std::uint8_t> bytes(length == 0 ? sectorSize : length % 160);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = i % 4 == 3 ? 0 : static_cast<std::uint8_t>(seed * 31 + i * 7);
    return bytes;
}

std::vector<std::uint8_t> inverted(std::vector<std::uint8_t> bytes) {
    for (auto& b : bytes)
        b = static_cast<std::uint8_t>(~b);
    return bytes;
}

struct Loaded {
    NodeFolder::Found found;
    NodeState state;
    std::vector<std::vector<std::uint8_t>> sectors;
    std::string why;
};

Loaded load(NodeFolder& folder, const std::vector<std::uint32_t>& geometry) {
    Loaded l;
    // Outputs the loader must leave alone unless it loads a node.
    l.state.runningSector = 77;
    l.state.checksums = {0xDEADBEEF};
    l.sectors = {{1, 2, 3}};
    l.found = folder.Load(geometry, &l.state, &l.sectors, &l.why);
    return l;
}

void checkCoherent(const Loaded& l, const std::vector<std::uint32_t>& geometry) {
    FUZZ_CHECK(l.sectors.size() == geometry.size(), "a loaded node has every sector");
    for (std::size_t s = 0; s < geometry.size(); ++s)
        FUZZ_CHECK(l.sectors[s].size() == geometry[s], "each sector has its size");
    FUZZ_CHECK(l.state.checksums.size() == geometry.size(), "each sector has its checksum");
    FUZZ_CHECK(l.state.runningSector < geometry.size() && l.state.bootSector < geometry.size(),
               "the running and boot sectors are the node's");
    FUZZ_CHECK(l.state.mode == NodeMode::Download || l.state.mode == NodeMode::Application,
               "the mode is one of the two");
}

void checkUntouched(const Loaded& l) {
    FUZZ_CHECK(!l.why.empty(), "a node that cannot be loaded says why");
    const bool untouched = l.state.runningSector == 77 &&
                           l.state.checksums == std::vector<std::uint32_t>{0xDEADBEEF} &&
                           l.sectors == std::vector<std::vector<std::uint8_t>>{{1, 2, 3}};
    FUZZ_CHECK(untouched, "a node that cannot be loaded changes none of the outputs");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    const fs::path root = scratchRoot();
    fs::remove_all(root);
    fs::create_directories(root);
    const fs::path path = root / "node";
    fs::create_directories(path);

    const std::uint8_t shape = in.Byte();
    std::vector<std::uint32_t> geometry(1 + (shape & 3));
    for (std::size_t s = 0; s < geometry.size(); ++s)
        geometry[s] = 16u << ((shape >> (2 + s)) & 3);
    const std::uint8_t present = in.Byte();
    const std::uint8_t firstLayout = in.Byte();

    std::vector<std::optional<std::vector<std::uint8_t>>> flash(4), bin(4);
    for (std::size_t s = 0; s < 4; ++s)
        if (present & (2u << s)) {
            flash[s] = fileBytes(in, s < geometry.size() ? geometry[s] : 16);
            writeFile(path / ("sector" + std::to_string(s) + ".flash"), *flash[s]);
        }
    for (std::size_t s = 0; s < 4; ++s)
        if (firstLayout & (1u << s)) {
            bin[s] = fileBytes(in, s < geometry.size() ? geometry[s] : 16);
            writeFile(path / ("sector" + std::to_string(s) + ".bin"), *bin[s]);
        }
    const bool hasState = present & 1;
    const std::vector<std::uint8_t> stateText = in.Rest();
    if (hasState)
        writeFile(path / "node.state", stateText);

    std::string error;
    auto folder = NodeFolder::Take(path.string(), &error);
    FUZZ_CHECK(folder != nullptr, "a folder of this process is taken");
    const Loaded first = load(*folder, geometry);
    switch (first.found) {
    case NodeFolder::Found::Nothing: {
        bool anySector = false;
        for (std::size_t s = 0; s < 4; ++s)
            anySector = anySector || flash[s] || bin[s];
        FUZZ_CHECK(!hasState && !anySector, "a folder that holds a node's files is not empty");
        break;
    }
    case NodeFolder::Found::State: {
        FUZZ_CHECK(hasState, "a node is loaded only from its node.state");
        checkCoherent(first, geometry);
        // The sectors are the bytes of one layout's files: the current one's inverted, or the
        // first one's as they are.
        bool current = true, firstOne = true;
        for (std::size_t s = 0; s < geometry.size(); ++s) {
            current = current && flash[s] && first.sectors[s] == inverted(*flash[s]);
            firstOne = firstOne && bin[s] && first.sectors[s] == *bin[s];
        }
        FUZZ_CHECK(current || firstOne, "a loaded node holds its sector files' bytes");
        const Loaded again = load(*folder, geometry);
        FUZZ_CHECK(again.found == NodeFolder::Found::State, "a loaded node loads again");
        FUZZ_CHECK(again.sectors == first.sectors &&
                       again.state.checksums == first.state.checksums &&
                       again.state.mode == first.state.mode &&
                       again.state.runningSector == first.state.runningSector &&
                       again.state.bootSector == first.state.bootSector &&
                       again.state.serialNumber == first.state.serialNumber,
                   "a node loads again as it was");
        for (std::size_t s = 0; s < geometry.size(); ++s) {
            FUZZ_CHECK(fs::exists(path / ("sector" + std::to_string(s) + ".flash")),
                       "a loaded node is stored in the current layout");
            if (!current)
                FUZZ_CHECK(!fs::exists(path / ("sector" + std::to_string(s) + ".bin")),
                           "a node brought up to date leaves no file of the first layout");
        }
        break;
    }
    default: {
        // Damaged, or a file that could not be read or brought up to date.
        checkUntouched(first);
        if (first.found != NodeFolder::Found::Damaged)
            break;
        std::string aside;
        FUZZ_CHECK(folder->SetAside(&aside, &error), "a damaged folder can be set aside");
        FUZZ_CHECK(fs::is_directory(aside) && fs::is_empty(path),
                   "the folder moves aside whole and an empty one takes its place");
        FUZZ_CHECK(!hasState || fs::exists(fs::path(aside) / "node.state"),
                   "what was set aside keeps its files");
        const Loaded after = load(*folder, geometry);
        FUZZ_CHECK(after.found == NodeFolder::Found::Nothing, "the new folder is empty");
        break;
    }
    }
    folder.reset();
    return 0;
}
