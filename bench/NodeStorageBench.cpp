// Writes a 192 KiB image into a simulated node's sector as a download does: an erase,
// 32-byte blocks, the checksum. Reports the image bytes through the model per second and
// what reached the disk per image, from /proc/self/io: write_bytes (what the process sent
// to storage) and wchar (what it handed to write calls). Budget: write_bytes at most twice
// the image and one state file per erase.

#include "FirmwareImage.h"
#include "FlashNode.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace {

constexpr std::uint32_t SectorSize = 192 * 1024;
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

void BM_DownloadThroughTheModel(benchmark::State& state) {
    char pattern[] = "/tmp/zandrel-node-bench-XXXXXX";
    const char* folder = ::mkdtemp(pattern);
    if (!folder)
        throw std::runtime_error("cannot make a temporary folder");
    sim::FlashNodeSettings settings;
    settings.sectorSizes.assign(4, SectorSize);
    settings.restartMilliseconds = 0;
    sim::FlashNode node(settings);
    std::string error;
    if (!node.AttachStateFolder(folder, &error) || !node.EnterDownloadMode(settings.password))
        throw std::runtime_error(error);
    const auto image = sim::MakeFirmwareImage(
        {"Bench", "192 KiB image", "Jan 01 2026", "12:00:00", 0x00010000}, SectorSize);

    const Io before = readIo();
    for (auto _ : state) {
        if (!node.Erase(1))
            state.SkipWithError("erase refused");
        for (std::size_t at = 0; at < image.size(); at += Block)
            if (!node.Write(1, static_cast<std::uint32_t>(at), image.data() + at, Block))
                state.SkipWithError("block refused");
        if (!node.SetStoredChecksum(1, node.ComputedChecksum(1)))
            state.SkipWithError("checksum refused");
    }
    const Io after = readIo();
    const double images = static_cast<double>(state.iterations());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * SectorSize);
    state.counters["disk_bytes_per_image"] = (after.writeBytes - before.writeBytes) / images;
    state.counters["disk_bytes_per_image_byte"] =
        (after.writeBytes - before.writeBytes) / images / SectorSize;
    state.counters["written_per_image"] = (after.wchar - before.wchar) / images;
    std::uintmax_t stateFile = std::filesystem::file_size(std::string(folder) + "/node.state");
    state.counters["state_file_bytes"] = static_cast<double>(stateFile);
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_DownloadThroughTheModel)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
