// A whole VARNIX standard update through the simulated module and its folder, as the program
// makes it: download mode, the erase of sector 2 (twice: the window erases before it asks for
// the download, the download erases again), the image in 32-byte blocks, its checksum, sector
// 2 made the boot sector, the reset into it. The image fills the sector.
//
// Reports the image bytes through the module per second, what the update wrote per image
// byte, from /proc/self/io: disk_bytes_per_image_byte (write_bytes, the pages the process
// sent to storage; each replaced node.state costs a page of its own) and
// written_per_image_byte (wchar, what it handed to write calls), and the files it replaced
// per update (files_replaced_per_update: node.state once per operation that changes it, the
// sector's file at the erase). Budget: at most 1.5 written bytes per image byte.

#include "FirmwareImage.h"
#include "FlashNode.h"
#include "StorageSteps.h"
#include "VarnixModule.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>

namespace {

constexpr std::uint8_t Sector = 2;
constexpr std::size_t Block = 32;

struct Io {
    double writeBytes = 0;
    double wchar = 0;
};

Io readIo() {
    std::ifstream in("/proc/self/io");
    Io io;
    std::string key;
    double value = 0;
    while (in >> key >> value) {
        if (key == "write_bytes:")
            io.writeBytes = value;
        else if (key == "wchar:")
            io.wchar = value;
    }
    return io;
}

// One standard update; false at the first step the module refuses.
bool standardUpdate(sim::FlashNode& module, const std::vector<std::uint8_t>& image) {
    if (!module.EnterDownloadMode(module.Settings().password) || !module.Erase(Sector) ||
        !module.Erase(Sector))
        return false;
    for (std::size_t at = 0; at < image.size(); at += Block)
        if (!module.Write(Sector, static_cast<std::uint32_t>(at), image.data() + at, Block))
            return false;
    return module.SetStoredChecksum(Sector, module.ComputedChecksum(Sector)) &&
           module.SetBootSector(Sector) && module.Reset();
}

void BM_VarnixStandardUpdate(benchmark::State& state) {
    char pattern[] = "/tmp/zandrel-node-bench-XXXXXX";
    const char* folder = ::mkdtemp(pattern);
    if (!folder)
        throw std::runtime_error("cannot make a temporary folder");
    const std::string moduleFolder = std::string(folder) + "/varnix-module";
    std::filesystem::create_directories(moduleFolder);
    std::ofstream(moduleFolder + "/module.ini") << "restart_ms=0\n";
    std::string error;
    std::unique_ptr<sim::FlashNode> module = sim::OpenVarnixModule(moduleFolder, &error);
    if (!module)
        throw std::runtime_error(error);
    const auto image = sim::MakeFirmwareImage(
        {"VARNIX App", "32 KiB image", "Jan 01 2026", "12:00:00", 0x00030000},
        sim::VarnixSectorSize);

    const Io before = readIo();
    const sim::StorageTally tallied = sim::StorageTallySoFar();
    for (auto _ : state)
        if (!standardUpdate(*module, image))
            state.SkipWithError("the module refused a step of the update");
    const Io after = readIo();
    const std::uint64_t replaced = sim::StorageTallySoFar().replacedFiles - tallied.replacedFiles;
    const double updates = static_cast<double>(state.iterations());
    const double imageBytes = static_cast<double>(image.size());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(image.size()));
    state.counters["disk_bytes_per_image_byte"] =
        (after.writeBytes - before.writeBytes) / updates / imageBytes;
    state.counters["written_per_image_byte"] = (after.wchar - before.wchar) / updates / imageBytes;
    state.counters["files_replaced_per_update"] = static_cast<double>(replaced) / updates;
    module.reset();
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_VarnixStandardUpdate)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
