// Reads an Intel HEX file of an 8 MiB image record by record, as the download worker does.
// The file is ZANDREL_BENCH_HEX when set, else one written here with 32-byte records.

#include "IntelHexFile.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace {

std::string writeImage() {
    char path[] = "/tmp/zandrel-bench-XXXXXX.hex";
    int fd = mkstemps(path, 4);
    if (fd < 0)
        throw std::runtime_error("cannot create a temporary file");
    std::FILE* out = fdopen(fd, "w");
    constexpr std::uint32_t size = 8u << 20;
    std::uint32_t seed = 12345;
    for (std::uint32_t address = 0; address < size; address += 32) {
        if (address % 0x10000 == 0) {
            auto high = static_cast<std::uint8_t>(address >> 16);
            std::fprintf(out, ":02000004%04X%02X\n", address >> 16,
                         static_cast<std::uint8_t>(-(2 + 4 + (address >> 24) + high)));
        }
        std::uint8_t sum = static_cast<std::uint8_t>(32 + (address >> 8) + address);
        std::fprintf(out, ":20%04X00", address & 0xFFFF);
        for (int i = 0; i < 32; ++i) {
            seed = seed * 1103515245u + 12345u;
            auto byte = static_cast<std::uint8_t>(seed >> 16);
            sum = static_cast<std::uint8_t>(sum + byte);
            std::fprintf(out, "%02X", byte);
        }
        std::fprintf(out, "%02X\n", static_cast<std::uint8_t>(-sum));
    }
    std::fprintf(out, ":00000001FF\n");
    std::fclose(out);
    return path;
}

const std::string& imagePath() {
    static const std::string path = [] {
        if (const char* given = std::getenv("ZANDREL_BENCH_HEX"))
            return std::string(given);
        return writeImage();
    }();
    return path;
}

void BM_ReadHexFile(benchmark::State& state) {
    const std::string& path = imagePath();
    std::uint64_t bytes = 0;
    for (auto _ : state) {
        TIntelHexFile file;
        if (!file.Open(path.c_str())) {
            state.SkipWithError("cannot open the image");
            return;
        }
        std::uint32_t address;
        std::uint8_t length;
        std::uint8_t data[256];
        while (file.ReadRecord(&address, &length, data))
            bytes += length;
        benchmark::DoNotOptimize(bytes);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}
BENCHMARK(BM_ReadHexFile)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace

BENCHMARK_MAIN();
